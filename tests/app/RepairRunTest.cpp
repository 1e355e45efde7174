// Repairs end to end: the real window and controller, driving the stand-in tool and small scripts.
#include "AppFixture.h"
#include "repair/repairPermissions.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/types.h>

namespace {

constexpr double kBefore = AppFixture::kNow - 10 * 86400; // a repair ten days back

QString listOf(const QString& entries) {
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>%1</dict>\n"
               "</plist>\n")
        .arg(entries);
}
QString percent(const QString& value) {
    return listOf(QStringLiteral("<key>PercentComplete</key><real>%1</real>").arg(value));
}

class RepairRun : public AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        delegate.setRepairToolPath(QStringLiteral(VARNEL_SIM_PATH));
        simulate("normal", 300);
        QSettings().setValue(QLatin1String(app::AppDelegate::kLastRunKey), kBefore);
        delegate.updateLabels();
    }
    void TearDown() override {
        qunsetenv("VARNEL_SIM_MODE");
        qunsetenv("VARNEL_SIM_DURATION_MS");
        AppFixture::TearDown();
    }
    static void simulate(const char* mode, int durationMs) {
        qputenv("VARNEL_SIM_MODE", mode);
        qputenv("VARNEL_SIM_DURATION_MS", QByteArray::number(durationMs));
    }
    void press() { QTest::mouseClick(ui.btnScanAndFix, Qt::LeftButton); }
    bool waitForIdle() {
        const bool idle = QTest::qWaitFor([this] { return ui.btnScanAndFix->isEnabled(); }, 15000);
        QTest::qWait(100); // room for any call that should not come
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return idle;
    }
    double stored() const {
        return QSettings().value(QLatin1String(app::AppDelegate::kLastRunKey)).toDouble();
    }
    repair::repairPermissions* runner() const { return delegate.findChild<repair::repairPermissions*>(); }
    // A tool script in the build tree (the temporary folder may be mounted noexec).
    QString script(const QByteArray& body) {
        QFile file(m_scripts.filePath(QStringLiteral("tool")));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("#!/bin/sh\n" + body + "\n");
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
        return file.fileName();
    }

    QTemporaryDir m_scripts{QCoreApplication::applicationDirPath() + QStringLiteral("/scripts-XXXXXX")};
};

TEST_F(RepairRun, PressingTheButtonRunsTheToolToOneCompletion) {
    AlertWatcher alerts;
    ui.pbProgress->setRange(0, 50); // whatever the previous run left, the busy state starts at 0 of 0-100
    ui.pbProgress->setValue(40);
    QSignalSpy bar(ui.pbProgress, &QProgressBar::valueChanged);
    press();

    EXPECT_FALSE(ui.btnScanAndFix->isEnabled());
    EXPECT_TRUE(ui.pbWait->isVisible() && ui.pbWait->isAnimating());
    EXPECT_TRUE(ui.lblProgress->isVisible());
    EXPECT_TRUE(ui.lblLastScanned->isHidden() && ui.lblLastScannedDesc->isHidden());
    EXPECT_TRUE(ui.pbProgress->isVisible());
    EXPECT_EQ(ui.pbProgress->minimum(), 0);
    EXPECT_EQ(ui.pbProgress->maximum(), 100);
    EXPECT_EQ(ui.pbProgress->value(), 0);

    ASSERT_TRUE(waitForIdle());
    ASSERT_GT(bar.size(), 3);
    for (qsizetype i = 1; i < bar.size(); ++i)
        EXPECT_GE(bar[i][0].toInt(), bar[i - 1][0].toInt());
    EXPECT_EQ(ui.pbProgress->value(), 100);
    EXPECT_EQ(stored(), kNow);
    QFile onDisk(QSettings().fileName());
    ASSERT_TRUE(onDisk.open(QIODevice::ReadOnly));
    EXPECT_TRUE(onDisk.readAll().contains("Varnel.lastRun=1796558400"));
    EXPECT_EQ(ui.lblLastScanned->text(), QStringLiteral("Today"));
    EXPECT_EQ(ui.lblLastScanned->palette().color(QPalette::WindowText),
              QColor::fromRgbF(0.05f, 0.47f, 0.04f));
    EXPECT_TRUE(ui.lblLastScannedDesc->isVisible());
    EXPECT_EQ(delegate.attentionRequests, 1); // "End", then the end call: one completion
    EXPECT_TRUE(alerts.alerts.empty());
    EXPECT_EQ(runner(), nullptr); // released after its end call
}

TEST_F(RepairRun, TheBarFollowsPercentCompleteAndTheFirstEndCompletesTheRun) {
    simulate("hang", 300);
    press();
    QTest::qWait(400); // the tool has said what it will say before it hangs
    repair::repairPermissions* current = runner();
    ASSERT_NE(current, nullptr);
    struct Row {
        QString chunk;
        int bar;
    } const rows[] = {
        {percent("37.9"), 37},
        {percent("0.9"), 37},
        {percent("0"), 37},
        {percent("-5"), 37},
        {listOf(QStringLiteral("<key>Message</key><string>no progress here</string>")), 37},
        {QString(), 37}, // the end of the output
        {QStringLiteral("\xff not a list"), 37},
        {percent("150"), 100},
        {percent("12"), 12},
        {percent("25") + percent("30"), 30},
    };
    for (const Row& row : rows) {
        delegate.repairPermissionsProgress(current, row.chunk);
        EXPECT_EQ(ui.pbProgress->value(), row.bar) << row.chunk.toStdString();
    }
    EXPECT_FALSE(ui.btnScanAndFix->isEnabled());

    delegate.repairPermissionsProgress(
        current,
        percent("40") +
            listOf(QStringLiteral("<key>PercentComplete</key><real>100</real><key>End</key><true/>")) +
            percent("7"));
    EXPECT_EQ(ui.pbProgress->value(), 100);
    EXPECT_TRUE(ui.btnScanAndFix->isEnabled());
    EXPECT_EQ(stored(), kNow);
    // The run is over: what its runner says from now on changes nothing.
    dateutil::ScopedClock later(kNow + 60);
    delegate.repairPermissionsProgress(current, listOf(QStringLiteral("<key>End</key><true/>")));
    delegate.repairPermissionsFinished(current, {});
    EXPECT_EQ(stored(), kNow);
    EXPECT_EQ(delegate.attentionRequests, 1);
}

TEST_F(RepairRun, EveryWayTheToolEndsIsCompletedOrExplainedOnce) {
    struct Row {
        const char* mode;
        bool completes;
        int bar;               // where the bar is left
        const char* explained; // a part of the one alert a failed run shows
    } const rows[] = {
        {"merged", true, 100, nullptr},
        {"split", true, 100, nullptr},
        {"garbage", true, 100, nullptr},
        {"old-style", true, 100, nullptr},
        {"close-early", true, 25, nullptr},
        {"fail", false, 25,
         "ended with exit status 2.\n\nThe tool said: diskutil-sim: Error repairing permissions"},
        {"crash", false, 25, "was stopped by a signal."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.mode);
        AlertWatcher alerts;
        QSettings().setValue(QLatin1String(app::AppDelegate::kLastRunKey), kBefore);
        delegate.attentionRequests = 0;
        simulate(row.mode, 300);
        press();
        ASSERT_TRUE(waitForIdle());
        EXPECT_EQ(ui.pbProgress->value(), row.bar);
        EXPECT_EQ(stored(), row.completes ? kNow : kBefore);
        EXPECT_EQ(delegate.attentionRequests, row.completes ? 1 : 0);
        EXPECT_EQ(ui.lblLastScanned->text(),
                  row.completes ? QStringLiteral("Today") : QStringLiteral("10 days ago"));
        EXPECT_TRUE(ui.lblLastScannedDesc->isVisible());
        EXPECT_EQ(runner(), nullptr);
        if (row.completes) {
            EXPECT_TRUE(alerts.alerts.empty());
        } else {
            ASSERT_EQ(alerts.alerts.size(), 1u);
            EXPECT_TRUE(alerts.alerts[0].text.contains(QStringLiteral(VARNEL_SIM_PATH)));
            EXPECT_TRUE(alerts.alerts[0].text.contains(QLatin1String(row.explained)))
                << alerts.alerts[0].text.toStdString();
        }
    }
}

TEST_F(RepairRun, AToolThatCannotBeStartedIsExplainedAndTheWindowReturnsToIdle) {
    const QString notExecutable = m_scripts.filePath(QStringLiteral("not-executable"));
    QFile(notExecutable).open(QIODevice::WriteOnly);
    for (const QString& tool : {m_scripts.filePath(QStringLiteral("missing")), notExecutable}) {
        SCOPED_TRACE(tool.toStdString());
        AlertWatcher alerts;
        delegate.setRepairToolPath(tool);
        press();
        ASSERT_EQ(alerts.alerts.size(), 1u);
        EXPECT_TRUE(alerts.alerts[0].text.startsWith(QStringLiteral("The repair could not be started.")));
        EXPECT_TRUE(alerts.alerts[0].text.contains(tool));
        EXPECT_TRUE(ui.btnScanAndFix->isEnabled());
        EXPECT_TRUE(ui.lblLastScannedDesc->isHidden());
        EXPECT_TRUE(ui.pbProgress->isHidden() && ui.pbWait->isHidden());
        EXPECT_EQ(ui.lblLastScanned->text(), QStringLiteral("10 days ago"));
        EXPECT_EQ(stored(), kBefore);
        EXPECT_EQ(runner(), nullptr);
    }
}

TEST_F(RepairRun, AnEarlierRunsLateEndCallLeavesTheNextRunBusy) {
    // The first run says "End" and lingers before it exits; the second just works slowly.
    const QString mark = m_scripts.filePath(QStringLiteral("first-done"));
    delegate.setRepairToolPath(script("if [ -e '" + mark.toUtf8() +
                                      "' ]; then sleep 3; exit 0; fi\n"
                                      ": > '" +
                                      mark.toUtf8() +
                                      "'\n"
                                      "printf '%s' '" +
                                      listOf(QStringLiteral("<key>End</key><true/>")).toUtf8() +
                                      "'\nsleep 1"));
    press();
    ASSERT_TRUE(QTest::qWaitFor([this] { return ui.btnScanAndFix->isEnabled(); }, 5000));
    EXPECT_EQ(stored(), kNow);

    dateutil::ScopedClock later(kNow + 60);
    press();
    QTest::qWait(1500); // the first run's tool has exited and its end call has come
    EXPECT_FALSE(ui.btnScanAndFix->isEnabled());
    EXPECT_TRUE(ui.pbWait->isVisible());
    EXPECT_EQ(stored(), kNow);
    EXPECT_EQ(delegate.attentionRequests, 1);
    EXPECT_EQ(delegate.findChildren<repair::repairPermissions*>().size(), 1); // the first one is let go
}

TEST_F(RepairRun, QuittingDuringARunEndsTheToolAndStoresNothing) {
    simulate("hang", 300);
    app::MainWindow otherWindow;
    auto other = std::make_unique<TestDelegate>();
    other->connectOutlets(otherWindow);
    other->setRepairToolPath(QStringLiteral(VARNEL_SIM_PATH));
    other->btnScanAndFixClicked();
    auto* run = other->findChild<repair::repairPermissions*>();
    ASSERT_NE(run, nullptr);
    QTest::qWait(200);
    ASSERT_TRUE(run->isRunning());
    const QString children =
        QStringLiteral("/proc/%1/task/%1/children").arg(QCoreApplication::applicationPid());
    const auto toolPids = [&] {
        QFile file(children);
        file.open(QIODevice::ReadOnly);
        return QString::fromLatin1(file.readAll()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    };
    const QStringList before = toolPids();
    ASSERT_FALSE(before.isEmpty());

    other.reset(); // what the end of the program does to the controller
    for (const QString& pid : before)
        EXPECT_NE(::kill(pid.toInt(), 0), 0) << "the tool is still there";
    EXPECT_EQ(stored(), kBefore);
}

TEST_F(RepairRun, ATimeThatCannotBeSavedIsReportedAndStillShown) {
    QTemporaryDir settingsHome;
    // The settings file is a folder: neither readable nor writable as a file, even for root.
    ASSERT_TRUE(QDir(settingsHome.path()).mkpath(QStringLiteral("VarnelTests/VarnelTests.conf")));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsHome.path());
    AlertWatcher alerts;
    press();
    ASSERT_TRUE(waitForIdle());
    ASSERT_EQ(alerts.alerts.size(), 1u);
    EXPECT_TRUE(alerts.alerts[0].text.contains(QStringLiteral("could not be saved")));
    EXPECT_EQ(ui.lblLastScanned->text(), QStringLiteral("Today"));
    EXPECT_EQ(delegate.attentionRequests, 1);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
}

} // namespace
