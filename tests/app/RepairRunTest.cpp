// Repairs end to end: the real window and controller, driving the stand-in tool and small scripts.
#include "AppFixture.h"
#include "repair/repairPermissions.h"

#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
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

// Whether the process is there and not just waiting to be reaped (orphans go to a reaper that may be slow).
bool isRunning(int pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray fields = stat.readAll();
    const qsizetype state = fields.lastIndexOf(')') + 2; // the name may hold spaces and parentheses
    return state < fields.size() && fields[state] != 'Z';
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
        EXPECT_FALSE(isRunning(pid.toInt())) << "the tool is still there";
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

// The log's lines without their time of day.
QStringList logLines(const QString& text) {
    QStringList lines;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        lines << line.mid(10); // "12:00:00  "
    return lines;
}

TEST_F(RepairRun, DetailsShowWhatTheToolSaidAndHowTheRunEnded) {
    const QString markup = QStringLiteral("<b>caf\u00e9</b> & “x”");
    const struct {
        const char* what;
        QString tool; // empty: the stand-in tool in this mode
        const char* mode;
        QStringList said; // what the tool said, in order
        QString summary;
    } rows[] = {
        {"three repairs, each list in pieces",
         {},
         "split",
         {QStringLiteral("Permissions differ on \u201cusr/local/share/man/man1/example.1\u201d; should be "
                         "-rw-r--r-- , they are -rw-rw-r-- ."),
          QStringLiteral("Repaired \u201cusr/local/share/man/man1/example.1\u201d.")},
         QStringLiteral("3 files repaired")},
        {"markup and no repair",
         script(
             "printf '%s' '" +
             listOf(QStringLiteral("<key>Message</key><string>&lt;b&gt;caf\u00e9&lt;/b&gt; &amp; “x”</string>"
                                   "<key>End</key><true/>"))
                 .toUtf8() +
             "'"),
         "normal",
         {markup},
         QStringLiteral("Nothing needed repair")},
        {"a failure", {}, "fail", {}, QStringLiteral("The repair did not finish: the repair tool ")},
    };
    ui.btnDetails->click();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        AlertWatcher alerts;
        delegate.setRepairToolPath(row.tool.isEmpty() ? QStringLiteral(VARNEL_SIM_PATH) : row.tool);
        simulate(row.mode, 300);
        press();
        ASSERT_TRUE(waitForIdle());
        const QStringList shown = logLines(ui.txtLog->toPlainText());
        EXPECT_EQ(logLines(delegate.repairLog().text()), shown);
        ASSERT_GE(shown.size(), 2);
        EXPECT_EQ(shown.first(), QStringLiteral("Repair of the start-up disk started"));
        EXPECT_TRUE(shown.last().startsWith(row.summary)) << shown.last().toStdString();
        qsizetype at = 0; // what the tool said, whole and in its order
        for (const QString& said : row.said) {
            at = shown.indexOf(said, at);
            EXPECT_GE(at, 0) << said.toStdString();
        }
    }
    ui.btnCopyLog->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), delegate.repairLog().text());
}

TEST_F(RepairRun, AFloodOfMessagesKeepsTheLogBoundedAndTheWindowResponsive) {
    simulate("flood", 0);
    qputenv("VARNEL_SIM_COUNT", "40000");
    qputenv("VARNEL_SIM_MESSAGES", "1");
    ui.btnDetails->click();
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    sinceTick.start();
    ticks.start(20);
    press();
    ASSERT_TRUE(waitForIdle());
    qunsetenv("VARNEL_SIM_COUNT");
    qunsetenv("VARNEL_SIM_MESSAGES");
    EXPECT_EQ(delegate.repairLog().lineCount(), app::RepairLog::kMaxLines);
    EXPECT_EQ(delegate.repairLog().dropped(), 40000 + 2 - app::RepairLog::kMaxLines);
    EXPECT_LE(ui.txtLog->blockCount(), app::RepairLog::kMaxLines);
    EXPECT_TRUE(ui.lblLogDropped->isVisible());
    EXPECT_TRUE(delegate.repairLog().text().startsWith(QStringLiteral("(30002 earlier lines not kept)\n")));
    EXPECT_LT(longestGap, 1000); // generous: the machine may be busy, but the window never stalls
}

TEST_F(RepairRun, StopAsksThenEndsTheToolAndWhatItStartedAndStoresNothing) {
    const QString pids = m_scripts.filePath(QStringLiteral("pids"));
    delegate.setRepairToolPath(script("sh -c 'trap \"\" TERM; echo $$ >> \"" + pids.toUtf8() +
                                      "\"; sleep 30' &\necho $$ >> '" + pids.toUtf8() + "'\nsleep 30"));
    press();
    const auto started = [&] {
        QFile list(pids);
        return list.open(QIODevice::ReadOnly) ? list.readAll().split('\n') : QByteArrayList();
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return started().size() == 3; }, 5000)); // the tool and its child
    {
        AlertWatcher keepGoing(QStringLiteral("Continue"));
        ui.btnStop->click();
        ui.miQuit->trigger(); // quitting asks the same
        EXPECT_EQ(keepGoing.alerts.size(), 2u);
    }
    EXPECT_FALSE(ui.btnScanAndFix->isEnabled());
    AlertWatcher stop(QStringLiteral("Stop"));
    ui.btnStop->click();
    ASSERT_EQ(stop.alerts.size(), 1u);
    EXPECT_EQ(stop.alerts[0].text, QStringLiteral("Stop the repair? Files repaired so far stay repaired."));
    EXPECT_TRUE(ui.btnScanAndFix->isEnabled());
    EXPECT_TRUE(ui.lblLastScannedDesc->isVisible() && ui.btnStop->isHidden());
    EXPECT_EQ(ui.lblLastScanned->text(), QStringLiteral("10 days ago"));
    EXPECT_EQ(logLines(delegate.repairLog().text()).last(), QStringLiteral("Stopped by you"));
    for (const QByteArray& pid : started())
        EXPECT_FALSE(!pid.isEmpty() && isRunning(pid.toInt()))
            << "process " << pid.toStdString() << " lives on";
    QTest::qWait(200);
    EXPECT_EQ(stop.alerts.size(), 1u); // nothing more to say
    EXPECT_EQ(stored(), kBefore);
    EXPECT_EQ(delegate.attentionRequests, 0);
}

} // namespace
