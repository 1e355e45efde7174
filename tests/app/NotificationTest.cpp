// The notice a run's end sends to the desktop when nobody looks at the window, caught on a private
// session bus by a stand-in for the notification service.
#include "AppFixture.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QTest>
#include <csignal>

namespace {

// The freedesktop notification service, remembering each Notify call: the application, its icon, the
// summary, the body, and the hints' desktop entry and urgency.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    std::vector<QStringList> notices;

public slots:
    uint Notify(const QString& appName, uint, const QString& icon, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap& hints, int) {
        notices.push_back({appName, icon, summary, body,
                           hints.value(QStringLiteral("desktop-entry")).toString(),
                           QString::number(hints.value(QStringLiteral("urgency")).value<uchar>())});
        return static_cast<uint>(notices.size());
    }
};

class Notification : public AppFixture {
protected:
    // A session bus of the tests' own: the desktop's is never touched.
    static void SetUpTestSuite() {
        QProcess daemon;
        daemon.start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--session"), QStringLiteral("--fork"),
                      QStringLiteral("--print-address=1"), QStringLiteral("--print-pid=1")});
        daemon.waitForFinished(10000);
        const QStringList lines = QString::fromUtf8(daemon.readAllStandardOutput()).split(QLatin1Char('\n'));
        if (lines.size() >= 2) {
            s_address = lines[0].trimmed();
            s_pid = lines[1].trimmed().toInt();
            qputenv("DBUS_SESSION_BUS_ADDRESS", s_address.toUtf8());
        }
    }
    static void TearDownTestSuite() {
        if (s_pid > 0)
            ::kill(s_pid, SIGTERM);
    }
    void SetUp() override {
        AppFixture::SetUp();
        ASSERT_FALSE(s_address.isEmpty()) << "dbus-daemon did not start";
        delegate.setRepairToolPath(QStringLiteral(VARNEL_SIM_PATH));
        delegate.runNotifier().setBusAddress(s_address);
        qputenv("VARNEL_SIM_DURATION_MS", "200");
    }
    void TearDown() override {
        qunsetenv("VARNEL_SIM_MODE");
        qunsetenv("VARNEL_SIM_DURATION_MS");
        AppFixture::TearDown();
    }
    static inline QString s_address;
    static inline int s_pid = 0;
};

TEST_F(Notification, ARunThatEndsUnwatchedIsAnnouncedOnTheSessionBus) {
    QWidget other;
    struct Row {
        const char* what;
        const char* mode;
        std::function<void()> lookAway;
        const char* summary; // nullptr: no notice
        const char* body;
        int urgency;
        bool check = false;  // a check without repairing, which the user waits for: never announced
        bool service = true; // false: nobody serves notifications on the bus
    };
    const Row rows[] = {
        {"the window active", "normal", [] {}, nullptr, "", 0},
        {"the window hidden", "normal", [&] { window.hide(); }, "Repair complete", "3 files repaired", 1},
        {"the window minimised", "fail", [&] { window.showMinimized(); }, "The repair did not finish",
         "The repair did not finish: the repair tool " VARNEL_SIM_PATH " ended with exit status 2.", 2},
        {"another window active", "normal",
         [&] {
             other.show();
             other.activateWindow();
             EXPECT_TRUE(QTest::qWaitForWindowActive(&other));
         },
         "Repair complete", "3 files repaired", 1},
        {"a check, the window hidden", "normal", [&] { window.hide(); }, nullptr, "", 0, true},
        {"a failed check, the window minimised", "fail", [&] { window.showMinimized(); }, nullptr, "", 0,
         true},
        {"no notification service", "normal", [&] { window.hide(); }, nullptr, "", 0, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        window.showNormal();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        QDBusConnection service = QDBusConnection::connectToBus(s_address, QStringLiteral("fake-service"));
        FakeNotifications fake;
        if (row.service) {
            EXPECT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake,
                                               QDBusConnection::ExportAllSlots));
            EXPECT_TRUE(service.registerService(QStringLiteral("org.freedesktop.Notifications")));
        }
        qputenv("VARNEL_SIM_MODE", row.mode);
        {
            AlertWatcher alerts; // a check's offer of a repair is declined
            row.check ? ui.miCheck->trigger() : ui.btnScanAndFix->click();
            row.lookAway();
            EXPECT_TRUE(QTest::qWaitFor([&] { return ui.btnScanAndFix->isEnabled(); }, 15000));
        }
        (void)QTest::qWaitFor([&] { return !fake.notices.empty(); }, 1000); // or none came
        service.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        service.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-service"));
        other.hide();
        std::vector<QStringList> expected;
        if (row.summary)
            expected.push_back({"Varnel", "app.varnel.Varnel", row.summary, row.body, "app.varnel.Varnel",
                                QString::number(row.urgency)});
        EXPECT_EQ(fake.notices, expected);
    }
}

TEST(RunNotifier, AnUnreachableBusTakesNoNotice) {
    app::RunNotifier nowhere;
    nowhere.setBusAddress(QStringLiteral("unix:path=/nonexistent/bus"));
    EXPECT_FALSE(nowhere.runEnded(nullptr, true, QStringLiteral("1 file repaired")));
}

} // namespace

#include "NotificationTest.moc"
