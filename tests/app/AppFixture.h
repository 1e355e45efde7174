#pragma once

#include "FakeGroups.h"
#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "app/WindowPlacement.h"
#include "dateutil/Clock.h"
#include "ui/BusyIndicator.h"
#include "update/UpdatePresenter.h"
#include "update/Updater.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

// What a dialog showed before the watcher dismissed it; all but the title only for a message box.
struct SeenAlert {
    QString title;
    QString text;
    Qt::TextFormat format;
    QStringList buttons;
    QMessageBox::Icon icon; // NoIcon when it shows the application's own icon
};

// Answers every dialog that comes up while it lives: a message box with the button named answer (OK by
// default), any other by rejecting it; and remembers what each said.
class AlertWatcher {
public:
    explicit AlertWatcher(QString reply = QStringLiteral("OK"))
        : answer(std::move(reply)) {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            alerts.push_back({dialog->windowTitle(), {}, {}, {}, {}});
            auto* box = qobject_cast<QMessageBox*>(dialog);
            if (!box)
                return dialog->reject();
            SeenAlert& seen = alerts.back();
            seen = {box->windowTitle(), box->text(), box->textFormat(), {}, box->icon()};
            for (QAbstractButton* button : box->buttons())
                seen.buttons << button->text().remove(QLatin1Char('&'));
            for (QAbstractButton* button : box->buttons())
                if (button->text().remove(QLatin1Char('&')) == answer)
                    return button->click();
            box->reject();
        });
        m_timer.start();
    }
    QString answer;
    std::vector<SeenAlert> alerts;

private:
    QTimer m_timer;
};

// Writes a shell script and makes it executable; keep it in the build tree (/tmp may be mounted noexec).
inline QString writeScript(const QString& path, const QByteArray& body) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("#!/bin/sh\n" + body + "\n");
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    return file.fileName();
}

// Makes the window the active one, so that its shortcuts answer keys.
inline void activate(QWidget& window) {
    window.activateWindow();
    QApplication::setActiveWindow(&window);
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
}

// The controller, counting its requests for the user's attention instead of making them.
class TestDelegate : public app::AppDelegate {
public:
    int attentionRequests = 0;

protected:
    void requestUserAttention() override { ++attentionRequests; }
};

// The real window and controller, launched for an administrator with the clock at 2026-12-06 12:00 UTC
// and no update checks of its own.
class AppFixture : public testing::Test {
public:
    static constexpr double kNow = 1796558400.0;

protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1); // for this test program as a whole: nothing in it reads the local time zone
        tzset();
        QSettings().remove(QLatin1String(app::AppDelegate::kLastRunKey));
        QSettings().remove(QLatin1String(app::WindowPlacement::kPositionKey));
        delegate.connectOutlets(window);
        delegate.setGroupDatabase(FakeGroups::admin());
        delegate.applicationDidFinishLaunching();
        updater()->setAutomaticallyChecksForUpdates(false);
    }
    static update::Updater* updater() {
        return update::Updater::updaterForBundle(QLatin1String(app::AppDelegate::kBundleIdentifier));
    }
    // The two states of the window, as a person sees them.
    bool idle() const {
        return ui.btnScanAndFix->isEnabled() && ui.lblLastScanned->isVisible() && ui.pbWait->isHidden() &&
               ui.pbProgress->isHidden() && ui.lblProgress->isHidden() && ui.btnStop->isHidden();
    }
    bool busy() const {
        return !ui.btnScanAndFix->isEnabled() && ui.lblLastScanned->isHidden() &&
               ui.lblLastScannedDesc->isHidden() && ui.pbWait->isVisible() && ui.pbWait->isAnimating() &&
               ui.pbProgress->isVisible() && ui.lblProgress->isVisible() && ui.btnStop->isVisible();
    }
    static void store(const QVariant& lastRun) {
        QSettings().setValue(QLatin1String(app::AppDelegate::kLastRunKey), lastRun);
    }
    static double stored() {
        return QSettings().value(QLatin1String(app::AppDelegate::kLastRunKey)).toDouble();
    }

    dateutil::ScopedClock clock{kNow};
    app::MainWindow window;
    TestDelegate delegate;
    const Ui::MainWindow& ui = window.ui;
};
