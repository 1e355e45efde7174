#pragma once

#include "app/AppDelegate.h"
#include "app/GroupDatabase.h"
#include "app/MainWindow.h"
#include "app/WindowPlacement.h"
#include "dateutil/Clock.h"
#include "ui/BusyIndicator.h"
#include "update/UpdatePresenter.h"
#include "update/Updater.h"

#include <QApplication>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A group database of the test's own: group name -> member names, and a login name or none. The groups
// are numbered from 100 in name order; the accounts are alex (1000, primary group 1000) and bob (1001),
// and the process runs as realUser.
class FakeGroups : public app::GroupDatabase {
public:
    using Groups = std::map<std::string, std::vector<const char*>>;
    FakeGroups(Groups groups, const char* login, uid_t realUser = 1000, gid_t primaryGroup = 1000)
        : m_groups(std::move(groups))
        , m_login(login)
        , m_realUser(realUser)
        , m_primaryGroup(primaryGroup) {
        for (auto& [name, members] : m_groups)
            members.push_back(nullptr);
    }
    const char* const* membersOf(const char* group) const override {
        const auto it = m_groups.find(group);
        return it == m_groups.end() ? nullptr : it->second.data();
    }
    std::optional<gid_t> groupId(const char* group) const override {
        const auto it = m_groups.find(group);
        if (it == m_groups.end())
            return std::nullopt;
        return static_cast<gid_t>(100 + std::distance(m_groups.begin(), it));
    }
    const char* loginName() const override { return m_login; }
    uid_t realUserId() const override { return m_realUser; }
    std::optional<Account> account(uid_t user) const override {
        if (user == 1000)
            return Account{"alex", m_primaryGroup};
        if (user == 1001)
            return Account{"bob", 1001};
        return std::nullopt;
    }
    std::optional<uid_t> userId(const char* name) const override {
        if (std::string_view(name) == "alex")
            return 1000;
        if (std::string_view(name) == "bob")
            return 1001;
        return std::nullopt;
    }
    static std::unique_ptr<FakeGroups> admin() {
        return std::make_unique<FakeGroups>(Groups{{"sudo", {"alex"}}}, "alex");
    }

private:
    Groups m_groups;
    const char* m_login;
    uid_t m_realUser;
    gid_t m_primaryGroup;
};

// What an alert showed before the watcher dismissed it with its OK button.
struct SeenAlert {
    QString title;
    QString text;
    Qt::TextFormat format;
    QStringList buttons;
    QMessageBox::Icon icon; // NoIcon when it shows the application's own icon
};

// Answers every message box that comes up while it lives, with the button named answer (OK by default),
// and remembers what each said.
class AlertWatcher {
public:
    explicit AlertWatcher(QString reply = QStringLiteral("OK"))
        : answer(std::move(reply)) {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            SeenAlert seen{box->windowTitle(), box->text(), box->textFormat(), {}, box->icon()};
            for (QAbstractButton* button : box->buttons())
                seen.buttons << button->text().remove(QLatin1Char('&'));
            alerts.push_back(seen);
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
        if (const char* tz = std::getenv("TZ"))
            m_savedZone = tz;
        setenv("TZ", "UTC", 1);
        tzset();
        QSettings().remove(QLatin1String(app::AppDelegate::kLastRunKey));
        QSettings().remove(QLatin1String(app::WindowPlacement::kPositionKey));
        delegate.connectOutlets(window);
        delegate.setGroupDatabase(FakeGroups::admin());
        delegate.applicationDidFinishLaunching();
        updater()->setAutomaticallyChecksForUpdates(false);
    }
    void TearDown() override {
        if (m_savedZone)
            setenv("TZ", m_savedZone->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
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
               ui.lblProgress->isVisible() && ui.btnStop->isVisible();
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

private:
    std::optional<std::string> m_savedZone;
};
