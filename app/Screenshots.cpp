// Writes screenshots of the main window and its alerts to a folder, for people to look at:
// `make screenshots` runs it under a virtual X server, once in English and once in German (the language of
// the locale, as the program chooses it). It is not a test and asserts nothing.
#include "app/AppDelegate.h"
#include "app/AppIcon.h"
#include "app/GroupDatabase.h"
#include "app/MainWindow.h"
#include "app/Translations.h"
#include "dateutil/Clock.h"
#include "update/MessageBoxPresenter.h"
#include "update/Updater.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QSettings>
#include <QStandardPaths>
#include <QStyle>
#include <QTimer>
#include <cstdio>
#include <functional>

namespace {

constexpr double kNow = 1796558400.0; // 2026-12-06 12:00 UTC

struct Admin : app::GroupDatabase {
    const char* const* membersOf(const char*) const override {
        static const char* const members[] = {"alex", nullptr};
        return members;
    }
    const char* loginName() const override { return "alex"; }
};

QPalette darkPalette() {
    QPalette p;
    const QColor window(0x2b, 0x2b, 0x2b), text(0xe6, 0xe6, 0xe6), base(0x1e, 0x1e, 0x1e);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3a));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, QColor(0x3d, 0x8e, 0xe0));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
    return p;
}

void waitFor(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 20000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool save(QWidget* widget, const QDir& dir, const QString& name) {
    QApplication::processEvents();
    const QString path = dir.filePath(name + QStringLiteral(".png"));
    const bool ok = widget->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

// Runs what opens a modal alert, photographs the alert and dismisses it.
void saveAlert(const QDir& dir, const QString& name, const std::function<void()>& open) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, dir, name] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            poll->deleteLater();
            QTimer::singleShot(200, box, [box, dir, name] {
                save(box, dir, name);
                box->accept();
            });
        }
    });
    poll->start(20);
    open();
}

} // namespace

int main(int argc, char** argv) {
    QStandardPaths::setTestModeEnabled(true); // never the user's own settings
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("VarnelScreenshots"));
    QApplication::setApplicationName(QStringLiteral("VarnelScreenshots"));
    QApplication::setWindowIcon(app::applicationIcon()); // as the program does: the alerts show it
    app::Translations translations;
    const QString language = translations.install(QLocale());
    std::printf("language: %s\n", language.isEmpty() ? "English" : qPrintable(language));
    const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots"));
    QDir().mkpath(dir.path());
    dateutil::ScopedClock clock(kNow);

    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkPalette() : QApplication::style()->standardPalette());
        const QString theme = dark ? QStringLiteral("dark") : QStringLiteral("light");
        QSettings().setValue(QLatin1String(app::AppDelegate::kLastRunKey), kNow - 3 * 86400.0);

        app::MainWindow window;
        app::AppDelegate delegate;
        delegate.connectOutlets(window);
        delegate.setGroupDatabase(std::make_unique<Admin>());
        delegate.applicationDidFinishLaunching();
        update::Updater::updaterForBundle(QLatin1String(app::AppDelegate::kBundleIdentifier))
            ->setAutomaticallyChecksForUpdates(false); // pictures need no network
        save(&window, dir, QStringLiteral("idle-%1").arg(theme));

        QSettings().setValue(QLatin1String(app::AppDelegate::kLastRunKey), kNow - 40 * 86400.0);
        delegate.updateLabels();
        save(&window, dir, QStringLiteral("idle-old-%1").arg(theme));
        QSettings().remove(QLatin1String(app::AppDelegate::kLastRunKey));
        delegate.updateLabels();
        save(&window, dir, QStringLiteral("idle-never-%1").arg(theme));

        if (!dark) {
            // A simulated repair: half way, then done; then one that fails.
            delegate.setRepairToolPath(QStringLiteral(VARNEL_SIM_PATH));
            qputenv("VARNEL_SIM_DURATION_MS", "4000");
            QSettings().setValue(QLatin1String(app::AppDelegate::kLastRunKey), kNow - 12 * 86400.0);
            delegate.btnScanAndFixClicked();
            waitFor([&] { return window.ui.pbProgress->value() >= 50; });
            save(&window, dir, QStringLiteral("run-halfway"));
            waitFor([&] { return window.ui.btnScanAndFix->isEnabled(); });
            save(&window, dir, QStringLiteral("run-completed"));
            qputenv("VARNEL_SIM_MODE", "fail");
            qputenv("VARNEL_SIM_DURATION_MS", "300");
            saveAlert(dir, QStringLiteral("alert-run-failed"), [&] {
                delegate.btnScanAndFixClicked();
                waitFor([&] { return window.ui.btnScanAndFix->isEnabled(); });
            });
            qunsetenv("VARNEL_SIM_MODE");

            // The details of a run, open: after it, and during the next, with the question Stop asks.
            qputenv("VARNEL_SIM_DURATION_MS", "4000");
            delegate.btnScanAndFixClicked();
            waitFor([&] { return window.ui.btnScanAndFix->isEnabled(); });
            window.ui.btnDetails->click();
            save(&window, dir, QStringLiteral("details-after-run"));
            delegate.btnScanAndFixClicked();
            waitFor([&] { return window.ui.pbProgress->value() >= 60; });
            save(&window, dir, QStringLiteral("details-during-run"));
            saveAlert(dir, QStringLiteral("alert-stop"), [&] { window.ui.btnStop->click(); });
            waitFor([&] { return window.ui.btnScanAndFix->isEnabled(); });
            window.ui.btnDetails->click();

            // A check that found files to repair: its offer, declined, then the window with the details open.
            qputenv("VARNEL_SIM_DURATION_MS", "300");
            window.ui.btnDetails->click();
            saveAlert(dir, QStringLiteral("alert-check-differs"), [&] {
                window.ui.miCheck->trigger();
                waitFor([&] { return window.ui.btnScanAndFix->isEnabled(); });
            });
            save(&window, dir, QStringLiteral("check-differs"));
            window.ui.btnDetails->click();

            app::AppDelegate withoutUpdater; // never launched, so it has no update client
            withoutUpdater.setWindow(&window);
            saveAlert(dir, QStringLiteral("alert-update"), [&] { withoutUpdater.miUpdateCheckClicked(); });
            // The update client's own box, for a newer release with a download page.
            update::MessageBoxPresenter presenter;
            update::CheckResult newer;
            newer.outcome = update::CheckResult::Outcome::UpdateAvailable;
            newer.currentVersion = QStringLiteral("1.0.0");
            newer.item.emplace();
            newer.item->version = QStringLiteral("1.1.0");
            newer.item->downloadPage = QUrl(QStringLiteral("https://www.varnel.app/download"));
            QGuiApplication::setApplicationDisplayName(QStringLiteral("Varnel")); // as the program is called
            saveAlert(dir, QStringLiteral("update-available"), [&] {
                presenter.present(newer);
                waitFor([&] { return !presenter.dialog(); });
            });
            QGuiApplication::setApplicationDisplayName({});
            saveAlert(dir, QStringLiteral("about"), [&] { window.ui.miAbout->trigger(); });
            saveAlert(dir, QStringLiteral("alert-not-admin"),
                      [&] { delegate.alert(app::AppDelegate::notAdminMessage(), QMessageBox::Critical); });
        }
    }
    QSettings().clear();
    return 0;
}
