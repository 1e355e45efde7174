#pragma once

#include "app/AppDelegate.h"
#include "app/GroupDatabase.h"
#include "app/MainWindow.h"
#include "dateutil/Clock.h"
#include "update/UpdatePresenter.h"
#include "update/Updater.h"

#include <QApplication>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>
#include <vector>

// A group database of the test's own: group name -> member names, and a login name or none.
class FakeGroups : public app::GroupDatabase {
public:
    FakeGroups(std::map<std::string, std::vector<std::string>> groups, std::optional<std::string> login)
        : m_groups(std::move(groups))
        , m_login(std::move(login)) {}

    const char* const* membersOf(const char* group) const override {
        const auto it = m_groups.find(group);
        if (it == m_groups.end())
            return nullptr;
        m_members.clear();
        for (const std::string& member : it->second)
            m_members.push_back(member.c_str());
        m_members.push_back(nullptr);
        return m_members.data();
    }
    const char* loginName() const override { return m_login ? m_login->c_str() : nullptr; }

    static std::unique_ptr<FakeGroups> admin() {
        return std::make_unique<FakeGroups>(Groups{{"sudo", {"alex"}}}, "alex");
    }

private:
    using Groups = std::map<std::string, std::vector<std::string>>;
    Groups m_groups;
    std::optional<std::string> m_login;
    mutable std::vector<const char*> m_members;
};

// What an alert showed before the watcher dismissed it with its OK button.
struct SeenAlert {
    QString title;
    QString text;
    Qt::TextFormat format;
    QStringList buttons;
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
            SeenAlert seen{box->windowTitle(), box->text(), box->textFormat(), {}};
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

    dateutil::ScopedClock clock{kNow};
    app::MainWindow window;
    TestDelegate delegate;
    const Ui::MainWindow& ui = window.ui;

private:
    std::optional<std::string> m_savedZone;
};
