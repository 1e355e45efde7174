// Repairs end to end: the real window and controller, driving the stand-in tool and small scripts.
#include "AppFixture.h"
#include "repair/repairPermissions.h"

#include <QClipboard>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

namespace {

constexpr double kBefore = AppFixture::kNow - 10 * 86400; // a repair ten days back

QString listOf(const QString& entries) {
    return QStringLiteral("<?xml version=\"1.0\"?>\n<plist version=\"1.0\">\n<dict>%1</dict>\n</plist>\n")
        .arg(entries);
}
QString percent(const QString& value) {
    return listOf(QStringLiteral("<key>PercentComplete</key><real>%1</real>").arg(value));
}
const QString kEnd =
    listOf(QStringLiteral("<key>PercentComplete</key><real>100</real><key>End</key><true/>"));

// The log's lines without their time of day ("12:00:00  ").
QStringList logLines(const QString& text) {
    QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (QString& line : lines)
        line.remove(0, 10);
    return lines;
}

// Whether the process is there and not just waiting to be reaped (orphans go to a reaper that may be slow).
bool isRunning(int pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray fields = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
    const qsizetype state = fields.lastIndexOf(')') + 2; // the name may hold spaces and parentheses
    return state > 1 && state < fields.size() && fields[state] != 'Z';
}

class RepairRun : public AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        delegate.setRepairToolPath(QStringLiteral(VARNEL_SIM_PATH));
        simulate("normal");
        store(kBefore);
        delegate.updateLabels();
    }
    void TearDown() override {
        for (const char* name :
             {"VARNEL_SIM_MODE", "VARNEL_SIM_DURATION_MS", "VARNEL_SIM_COUNT", "VARNEL_SIM_MESSAGES"})
            qunsetenv(name);
        AppFixture::TearDown();
    }
    static void simulate(const char* mode, int durationMs = 300) {
        qputenv("VARNEL_SIM_MODE", mode);
        qputenv("VARNEL_SIM_DURATION_MS", QByteArray::number(durationMs));
    }
    void press() { QTest::mouseClick(ui.btnScanAndFix, Qt::LeftButton); }
    bool waitForIdle() {
        const bool done = QTest::qWaitFor([this] { return ui.btnScanAndFix->isEnabled(); }, 15000);
        QTest::qWait(100); // room for any call that should not come
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return done;
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
    EXPECT_TRUE(busy());
    EXPECT_TRUE(ui.pbProgress->isVisible());
    // Nothing squeezed: the details' toggle got its room.
    EXPECT_GE(window.centralWidget()->height(), window.centralWidget()->minimumSizeHint().height());
    EXPECT_EQ(std::tuple(ui.pbProgress->minimum(), ui.pbProgress->maximum(), ui.pbProgress->value()),
              std::tuple(0, 100, 0));

    ASSERT_TRUE(waitForIdle());
    ASSERT_GT(bar.size(), 3);
    for (qsizetype i = 1; i < bar.size(); ++i)
        EXPECT_GE(bar[i][0].toInt(), bar[i - 1][0].toInt());
    EXPECT_EQ(ui.pbProgress->value(), 100);
    QFile onDisk(QSettings().fileName());
    ASSERT_TRUE(onDisk.open(QIODevice::ReadOnly));
    EXPECT_TRUE(onDisk.readAll().contains("Varnel.lastRun=1796558400"));
    EXPECT_EQ(ui.lblLastScanned->text(), QStringLiteral("Today"));
    EXPECT_EQ(ui.lblLastScanned->palette().color(QPalette::WindowText),
              QColor::fromRgbF(0.05f, 0.47f, 0.04f));
    EXPECT_TRUE(idle() && ui.lblLastScannedDesc->isVisible());
    EXPECT_EQ(delegate.attentionRequests, 1); // "End", then the end call: one completion
    EXPECT_TRUE(alerts.alerts.empty());
    EXPECT_EQ(runner(), nullptr); // released after its end call
    // The saved log says which day its times of day belong to.
    const QString saved = m_scripts.filePath(QStringLiteral("log.txt"));
    ASSERT_TRUE(delegate.saveLog(saved));
    QFile file(saved);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()),
              QStringLiteral("Varnel repair log of 2026-12-06\n\n") + delegate.repairLog().text());
}

TEST_F(RepairRun, TheBarAndTheLogFollowWhatTheToolSaysAndTheFirstEndCompletes) {
    simulate("hang");
    press();
    QTest::qWait(400); // the tool has said what it will say before it hangs
    repair::repairPermissions* current = runner();
    ASSERT_NE(current, nullptr);
    const std::pair<QString, int> chunks[] = {
        {percent("37.9"), 37},
        {percent("0.9") + percent("0") + percent("-5"), 37},
        {listOf(QStringLiteral(
             "<key>Message</key><string>&lt;b&gt;caf\u00e9&lt;/b&gt; &amp; \u201cx\u201d</string>")),
         37},
        {listOf(QStringLiteral("<key>Message</key><string>Repaired 3 of 3 files.</string>")), 37}, // no file
        {QString(), 37}, // the end of the output
        {QStringLiteral("\xff not a list"), 37},
        {percent("150"), 100},
        {percent("12"), 12},
        {percent("25") + percent("30"), 30},
    };
    for (const auto& [chunk, bar] : chunks) {
        delegate.repairPermissionsProgress(current, chunk);
        EXPECT_EQ(ui.pbProgress->value(), bar) << chunk.toStdString();
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Repairing %1% \u2014 Varnel").arg(bar));
    }
    EXPECT_TRUE(busy());

    delegate.repairPermissionsProgress(current, percent("40") + kEnd + percent("7"));
    EXPECT_EQ(ui.pbProgress->value(), 100);
    EXPECT_TRUE(idle());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Varnel"));
    EXPECT_EQ(stored(), kNow);
    EXPECT_EQ(logLines(delegate.repairLog().text()).last(3), // markup shown as the tool wrote it
              QStringList({QStringLiteral("<b>caf\u00e9</b> & \u201cx\u201d"),
                           QStringLiteral("Repaired 3 of 3 files."), QStringLiteral("1 file repaired")}));
    // The run is over: what its runner says from now on changes nothing.
    dateutil::ScopedClock later(kNow + 60);
    delegate.repairPermissionsProgress(current, kEnd);
    delegate.repairPermissionsFinished(current, {});
    EXPECT_EQ(stored(), kNow);
    EXPECT_EQ(delegate.attentionRequests, 1);
}

TEST_F(RepairRun, EveryWayTheToolEndsIsCompletedOrExplainedOnce) {
    const struct {
        const char* mode;
        int bar;               // where the bar is left
        const char* explained; // a part of the one alert a failed run shows; none when it completes
        const char* summary;   // the last line of the details
    } rows[] = {
        {"merged", 100, nullptr, "3 files repaired"},
        {"split", 100, nullptr, "3 files repaired"}, // each list in pieces: read once whole
        {"garbage", 100, nullptr, "3 files repaired"},
        {"old-style", 100, nullptr, "3 files repaired"},
        {"close-early", 25, nullptr, "1 file repaired"},
        {"fail", 25, "ended with exit status 2.\n\nThe tool said: diskutil-sim: Error repairing permissions",
         "The tool said: diskutil-sim: Error repairing permissions on /: the volume could not be read"},
        {"crash", 25, "was stopped by a signal.",
         "The repair did not finish: the repair tool " VARNEL_SIM_PATH " was stopped by a signal."},
    };
    ui.btnDetails->click();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mode);
        AlertWatcher alerts;
        store(kBefore);
        delegate.attentionRequests = 0;
        simulate(row.mode);
        press();
        ASSERT_TRUE(waitForIdle());
        const bool completes = row.explained == nullptr;
        EXPECT_EQ(ui.pbProgress->value(), row.bar);
        EXPECT_EQ(stored(), completes ? kNow : kBefore);
        EXPECT_EQ(delegate.attentionRequests, completes ? 1 : 0);
        EXPECT_EQ(ui.lblLastScanned->text(),
                  completes ? QStringLiteral("Today") : QStringLiteral("10 days ago"));
        EXPECT_TRUE(idle() && ui.lblLastScannedDesc->isVisible());
        EXPECT_EQ(runner(), nullptr);
        ASSERT_EQ(alerts.alerts.size(), completes ? 0u : 1u);
        if (!completes) {
            EXPECT_TRUE(alerts.alerts[0].text.contains(QLatin1String(row.explained)))
                << alerts.alerts[0].text.toStdString();
            EXPECT_EQ(alerts.alerts[0].icon, QMessageBox::Critical);
        }
        // The details: what the tool said, whole and in its order, then how the run ended.
        const QStringList shown = logLines(ui.txtLog->toPlainText());
        EXPECT_EQ(logLines(delegate.repairLog().text()), shown);
        EXPECT_EQ(shown.first(), QStringLiteral("Repair of the start-up disk started"));
        EXPECT_EQ(shown.last(), QLatin1String(row.summary));
        const qsizetype differ =
            shown.indexOf(QStringLiteral("Permissions differ on \u201cusr/local/share/man/"
                                         "man1/example.1\u201d; should be -rw-r--r-- , they "
                                         "are -rw-rw-r-- ."));
        ASSERT_GT(differ, 0);
        EXPECT_EQ(shown[differ + 1],
                  QStringLiteral("Repaired \u201cusr/local/share/man/man1/example.1\u201d."));
    }
    ui.btnCopyLog->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), delegate.repairLog().text());
}

TEST_F(RepairRun, AuthenticationOutcomesSayWhatHappenedAndWhatToDoInTheAlertAndTheLog) {
    const QString tool = script("cat >&2 \"$0.said\"; exit $(cat \"$0.status\")");
    const QString sudo = QStringLiteral("sudo %1 repairPermissions -plist /").arg(tool);
    const char* const gaveUp = "varnel-repair: could not authenticate as an administrator (no polkit "
                               "authentication agent, or authentication failed); nothing was changed\n";
    const struct {
        int status;
        QByteArray said; // pkexec's words, then the tool's
        QStringList explained;
    } rows[] = {
        {126,
         "Error executing command as another user: Request dismissed\nvarnel-repair: authentication was "
         "cancelled or refused; nothing was changed\n",
         {QStringLiteral(
              "The request for an administrator's password was cancelled, so nothing was changed."),
          QStringLiteral("To repair, press Scan and Repair again and enter an administrator's password when "
                         "asked.")}},
        {127,
         QByteArray("Error executing command as another user: No authentication agent found.\n") + gaveUp,
         {QStringLiteral("Varnel could not ask for an administrator's password: no password prompt can be "
                         "shown in this session, so nothing was changed."),
          QStringLiteral("Start Varnel from a desktop session, or run the repair in a terminal:"), sudo}},
        {127,
         QByteArray("==== AUTHENTICATING FOR app.varnel.Varnel.repair ====\nError creating textual "
                    "authentication agent: Error opening current controlling terminal for the process "
                    "(`/dev/tty'): No such device or address\n") +
             gaveUp,
         {QStringLiteral("Varnel could not ask for an administrator's password: no password prompt can be "
                         "shown in this session, so nothing was changed."),
          QStringLiteral("Start Varnel from a desktop session, or run the repair in a terminal:"), sudo}},
        {127,
         QByteArray("Error executing command as another user: Not authorized\n\nThis incident has been "
                    "reported.\n") +
             gaveUp,
         {QStringLiteral(
              "The password was not accepted, or this account may not repair the system, so nothing "
              "was changed."),
          QStringLiteral("Press Scan and Repair again and enter an administrator's password, or let an "
                         "administrator run the repair in a terminal:"),
          sudo}},
        {127,
         "varnel-repair: needs root, and cannot start /usr/bin/pkexec to ask for it: No such file or "
         "directory\n",
         {QStringLiteral("Varnel could not ask for an administrator's password because pkexec could not be "
                         "started, so nothing was changed."),
          QStringLiteral("Install pkexec, or run the repair in a terminal:"), sudo}},
        {3,
         "varnel-repair: cannot read the rpm database\n",
         {QStringLiteral("The repair did not finish: the repair tool %1 ended with exit status 3.").arg(tool),
          QStringLiteral("The tool said: varnel-repair: cannot read the rpm database")}},
    };
    delegate.setRepairToolPath(tool);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.explained.first().toStdString());
        QFile said(tool + QStringLiteral(".said")), status(tool + QStringLiteral(".status"));
        ASSERT_TRUE(said.open(QIODevice::WriteOnly) && status.open(QIODevice::WriteOnly));
        said.write(row.said);
        status.write(QByteArray::number(row.status));
        said.close();
        status.close();
        AlertWatcher alerts;
        press();
        ASSERT_TRUE(waitForIdle());
        ASSERT_EQ(alerts.alerts.size(), 1u);
        EXPECT_EQ(alerts.alerts[0].icon, QMessageBox::Critical);
        QStringList paragraphs = alerts.alerts[0].text.split(QStringLiteral("\n\n"));
        EXPECT_EQ(paragraphs.takeLast(), QStringLiteral("The time of the last repair was left as it was."));
        EXPECT_EQ(paragraphs.join(QLatin1Char('\n')).split(QLatin1Char('\n')), row.explained);
        EXPECT_EQ(logLines(delegate.repairLog().text()).mid(1), row.explained); // the same words
        EXPECT_EQ(stored(), kBefore);
    }
}

TEST_F(RepairRun, FocusGoesToStopDuringARunAndBackToTheButtonAfter) {
    window.activateWindow();
    ui.btnScanAndFix->setFocus();
    QTest::keyClick(ui.btnScanAndFix, Qt::Key_Space);
    ASSERT_TRUE(busy());
    EXPECT_EQ(window.focusWidget(), ui.btnStop); // not the link that follows the disabled button
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(window.focusWidget(), ui.btnScanAndFix);
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
        EXPECT_EQ(alerts.alerts[0].icon, QMessageBox::Critical);
        EXPECT_TRUE(alerts.alerts[0].text.contains(tool));
        EXPECT_TRUE(idle() && ui.lblLastScannedDesc->isHidden());
        EXPECT_EQ(ui.lblLastScanned->text(), QStringLiteral("10 days ago"));
        EXPECT_EQ(stored(), kBefore);
        EXPECT_EQ(runner(), nullptr);
    }
}

TEST_F(RepairRun, AnEarlierRunsLateEndCallLeavesTheNextRunBusy) {
    // The first run says "End" and lingers before it exits; the second just works slowly.
    const QByteArray mark = m_scripts.filePath(QStringLiteral("first-done")).toUtf8();
    delegate.setRepairToolPath(script("[ -e '" + mark + "' ] && exec sleep 3\n: > '" + mark +
                                      "'\nprintf '%s' '" + kEnd.toUtf8() + "'\nsleep 1"));
    press();
    ASSERT_TRUE(QTest::qWaitFor([this] { return idle(); }, 5000));
    dateutil::ScopedClock later(kNow + 60);
    press();
    QTest::qWait(1500); // the first run's tool has exited and its end call has come
    EXPECT_TRUE(busy());
    EXPECT_EQ(stored(), kNow);
    EXPECT_EQ(delegate.attentionRequests, 1);
    EXPECT_EQ(delegate.findChildren<repair::repairPermissions*>().size(), 1); // the first one is let go
}

TEST_F(RepairRun, StopAndQuitAskThenEndTheToolAndWhatItStartedAndStoreNothing) {
    const QByteArray pids = m_scripts.filePath(QStringLiteral("pids")).toUtf8();
    delegate.setRepairToolPath(script("sh -c 'trap \"\" TERM; echo $$ >> \"" + pids +
                                      "\"; sleep 30' &\necho $$ >> '" + pids + "'\nsleep 30"));
    const auto started = [&] {
        QFile list(QString::fromUtf8(pids));
        return list.open(QIODevice::ReadOnly) ? list.readAll().split('\n') : QByteArrayList();
    };
    const std::function<void()> askToStop[] = {[&] { ui.btnStop->click(); }, [&] { ui.miQuit->trigger(); },
                                               [&] {
                                                   activate(window);
                                                   QTest::keyClick(&window, Qt::Key_Escape);
                                               }};
    for (const auto& stop : askToStop) {
        QFile::remove(QString::fromUtf8(pids));
        press();
        ASSERT_TRUE(QTest::qWaitFor([&] { return started().size() == 3; }, 5000)); // the tool and its child
        {
            AlertWatcher keepGoing(QStringLiteral("Continue"));
            stop();
            EXPECT_EQ(keepGoing.alerts.size(), 1u);
        }
        EXPECT_TRUE(busy());
        AlertWatcher answer(QStringLiteral("Stop"));
        stop();
        ASSERT_EQ(answer.alerts.size(), 1u);
        EXPECT_EQ(answer.alerts[0].text,
                  QStringLiteral("Stop the repair? Files repaired so far stay repaired."));
        EXPECT_TRUE(idle() && ui.lblLastScannedDesc->isVisible());
        EXPECT_EQ(ui.lblLastScanned->text(), QStringLiteral("10 days ago"));
        EXPECT_EQ(logLines(delegate.repairLog().text()).last(), QStringLiteral("Stopped by you"));
        for (const QByteArray& pid : started())
            EXPECT_FALSE(!pid.isEmpty() && isRunning(pid.toInt()))
                << "process " << pid.toStdString() << " lives on";
        QTest::qWait(200);
        EXPECT_EQ(answer.alerts.size(), 1u); // nothing more to say
    }
    EXPECT_EQ(stored(), kBefore);
    EXPECT_EQ(delegate.attentionRequests, 0);
}

// Ctrl+S saves the log once there is one; before the first run, and Escape without a run, do nothing.
TEST_F(RepairRun, KeysSaveTheLogAndStopOnlyWhenThereIsSomething) {
    activate(window);
    QStringList dialogs;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            dialogs << dialog->windowTitle();
            dialog->reject();
        }
    });
    watch.start(10);
    QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
    QTest::keyClick(&window, Qt::Key_Escape);
    QTest::qWait(100);
    EXPECT_EQ(dialogs, QStringList());
    press();
    ASSERT_TRUE(waitForIdle());
    QTest::keyClick(&window, Qt::Key_Escape);
    QTest::qWait(100);
    EXPECT_EQ(dialogs, QStringList());
    QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dialogs.isEmpty(); }, 3000));
    EXPECT_EQ(dialogs, QStringList{QStringLiteral("Save the Repair Log")});
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
    EXPECT_EQ(delegate.repairLog().lineCount(), app::RepairLog::kMaxLines);
    EXPECT_TRUE(delegate.repairLog().text().startsWith(QStringLiteral("(30002 earlier lines not kept)\n")));
    EXPECT_LE(ui.txtLog->blockCount(), app::RepairLog::kMaxLines);
    EXPECT_TRUE(ui.lblLogDropped->isVisible());
    EXPECT_LT(longestGap, 1000); // generous: the machine may be busy, but the window never stalls
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
    EXPECT_EQ(alerts.alerts[0].icon, QMessageBox::Warning);
    EXPECT_EQ(ui.lblLastScanned->text(), QStringLiteral("Today"));
    EXPECT_EQ(delegate.attentionRequests, 1);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
}

// A check without repairing runs as a repair does, stores no time and asks for no attention; what it found
// ends in an offer of the repair when a repair would change something.
TEST_F(RepairRun, ACheckChangesNoTimeAndOffersTheRepairOnlyWhenFilesDiffer) {
    const struct {
        const char* mode;
        const char* answer;    // the button the check's alert is answered with
        QStringList buttons;   // the alert's buttons; none for a failure's OK alone
        const char* explained; // part of the alert
        const char* summary;   // the last line of the details
        bool repairs;          // the answer starts the repair
    } rows[] = {
        {"normal",
         "Not Now",
         {"Repair Now", "Not Now"},
         "The check found 3 files whose permissions differ",
         "Check complete: 3 files differ and would be repaired",
         false},
        {"normal",
         "Repair Now",
         {"Repair Now", "Not Now"},
         "Nothing was changed.\n\nRepair now?",
         "3 files repaired",
         true},
        {"clean",
         "OK",
         {"OK"},
         "The check found no file whose permissions need repair.",
         "Check complete: no file needs repair",
         false},
        {"fail",
         "OK",
         {"OK"},
         "The check did not finish: the repair tool " VARNEL_SIM_PATH " ended with exit status 2.",
         "The tool said: diskutil-sim: Error repairing permissions on /: the volume could not be read",
         false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.mode) + " " + row.answer);
        activate(window); // the last alert had the focus
        store(kBefore);
        delegate.attentionRequests = 0;
        simulate(row.mode);
        AlertWatcher alerts(QString::fromUtf8(row.answer));
        QTest::keyClick(&window, Qt::Key_K, Qt::ControlModifier);
        ASSERT_TRUE(busy());
        EXPECT_FALSE(ui.miCheck->isEnabled()); // one run at a time
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Checking 0% \u2014 Varnel"));
        EXPECT_EQ(ui.lblProgress->text(), QStringLiteral("Checking permissions\u2026"));
        if (row.repairs) { // the check ends, then the repair runs to its end
            ASSERT_TRUE(QTest::qWaitFor([&] { return !alerts.alerts.empty(); }, 15000));
            ASSERT_TRUE(QTest::qWaitFor([&] { return busy(); }, 1000));
            EXPECT_EQ(ui.lblProgress->text(), QStringLiteral("Repairing permissions\u2026"));
        }
        ASSERT_TRUE(waitForIdle());
        EXPECT_TRUE(idle() && ui.miCheck->isEnabled());
        ASSERT_EQ(alerts.alerts.size(), 1u);
        EXPECT_EQ(alerts.alerts[0].buttons, row.buttons);
        EXPECT_TRUE(alerts.alerts[0].text.contains(QLatin1String(row.explained)))
            << alerts.alerts[0].text.toStdString();
        EXPECT_EQ(stored(), row.repairs ? kNow : kBefore);
        EXPECT_EQ(delegate.attentionRequests, row.repairs ? 1 : 0);
        EXPECT_EQ(ui.lblLastScanned->text(),
                  row.repairs ? QStringLiteral("Today") : QStringLiteral("10 days ago"));
        const QStringList shown = logLines(delegate.repairLog().text());
        EXPECT_EQ(shown.first(), row.repairs ? QStringLiteral("Repair of the start-up disk started")
                                             : QStringLiteral("Check of the start-up disk started"));
        EXPECT_EQ(shown.last(), QLatin1String(row.summary));
        EXPECT_EQ(shown.contains(QStringLiteral("Would repair \u201cusr/local/libexec/helper\u201d.")),
                  QLatin1String(row.summary).startsWith(QLatin1String("Check complete: 3")));
    }
}

TEST_F(RepairRun, StopEndsACheckAndTheNextRepairSaysRepairingAgain) {
    simulate("hang");
    ui.miCheck->trigger();
    ASSERT_TRUE(busy());
    QTest::qWait(300);
    {
        AlertWatcher answer(QStringLiteral("Stop"));
        ui.btnStop->click();
        ASSERT_EQ(answer.alerts.size(), 1u);
        EXPECT_EQ(answer.alerts[0].text, QStringLiteral("Stop the check? Nothing has been changed."));
    }
    EXPECT_TRUE(idle());
    EXPECT_EQ(logLines(delegate.repairLog().text()).last(), QStringLiteral("Stopped by you"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(runner(), nullptr);
    EXPECT_EQ(stored(), kBefore);
    simulate("normal");
    press();
    EXPECT_EQ(ui.lblProgress->text(), QStringLiteral("Repairing permissions\u2026"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Repairing 0% \u2014 Varnel"));
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(stored(), kNow);
}

TEST(RepairLogView, FollowsNewLinesWrappedOnesTooUntilTheUserScrollsUp) {
    QPlainTextEdit view;
    view.resize(300, 150);
    view.show();
    app::RepairLog log;
    log.setView(&view, nullptr);
    QScrollBar* bar = view.verticalScrollBar();
    const auto lastLineShown = [&] {
        QTextCursor end(view.document());
        end.movePosition(QTextCursor::End);
        const QRect line = view.cursorRect(end);
        return line.top() >= 0 && line.bottom() <= view.viewport()->height();
    };
    const auto addLines = [&](int count) {
        for (int i = 0; i < count; ++i)
            log.add(QStringLiteral("Permissions differ on \u201c%1\u201d; should be -rw-r--r-- , they are "
                                   "-rw-rw-r-- .")
                        .arg(QStringLiteral("usr/share/doc/some-package/examples/").repeated(3)));
        log.flush();
        QCoreApplication::processEvents();
    };
    addLines(40); // while the details are closed
    log.setViewOpen(true);
    QTest::qWait(50);
    EXPECT_TRUE(lastLineShown());
    for (int round = 0; round < 4; ++round) {
        addLines(round == 0 ? 200 : 3);
        EXPECT_TRUE(lastLineShown()) << "round " << round;
    }
    bar->triggerAction(QAbstractSlider::SliderPageStepSub); // the user reads something further up
    const int readingAt = bar->value();
    addLines(15);
    EXPECT_EQ(bar->value(), readingAt);
    EXPECT_FALSE(lastLineShown());
    bar->triggerAction(QAbstractSlider::SliderToMaximum); // and comes back down
    addLines(15);
    EXPECT_TRUE(lastLineShown());
}

} // namespace
