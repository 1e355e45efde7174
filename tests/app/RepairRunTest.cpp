// Repairs end to end: the real window and controller, driving the stand-in tool and small scripts.
#include "AppFixture.h"
#include "repair/repairPermissions.h"

#include <QClipboard>
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
    QString script(const QByteArray& body) {
        return writeScript(m_scripts.filePath(QStringLiteral("tool")), body);
    }

    QTemporaryDir m_scripts{QCoreApplication::applicationDirPath() + QStringLiteral("/scripts-XXXXXX")};
};

// How a run starts and what it leaves behind; the table further down has every way a run ends.
TEST_F(RepairRun, PressingTheButtonRunsTheToolToOneCompletion) {
    AlertWatcher alerts;            // none expected; it keeps a wrong one from blocking the test
    ui.pbProgress->setRange(0, 50); // whatever the previous run left, the busy state starts at 0 of 0-100
    ui.pbProgress->setValue(40);
    QSignalSpy bar(ui.pbProgress, &QProgressBar::valueChanged);
    window.activateWindow();
    ui.btnScanAndFix->setFocus();
    QTest::keyClick(ui.btnScanAndFix, Qt::Key_Space);
    ASSERT_TRUE(busy());
    EXPECT_EQ(window.focusWidget(), ui.btnStop); // not the link that follows the disabled button
    // Nothing squeezed: the details' toggle got its room.
    EXPECT_GE(window.centralWidget()->height(), window.centralWidget()->minimumSizeHint().height());
    EXPECT_EQ(std::tuple(ui.pbProgress->minimum(), ui.pbProgress->maximum(), ui.pbProgress->value()),
              std::tuple(0, 100, 0));

    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(window.focusWidget(), ui.btnScanAndFix);
    ASSERT_GT(bar.size(), 3);
    for (qsizetype i = 1; i < bar.size(); ++i)
        EXPECT_GE(bar[i][0].toInt(), bar[i - 1][0].toInt());
    EXPECT_EQ(ui.pbProgress->value(), 100);
    QFile onDisk(QSettings().fileName());
    ASSERT_TRUE(onDisk.open(QIODevice::ReadOnly));
    EXPECT_TRUE(onDisk.readAll().contains("Varnel.lastRun=1796558400"));
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

// Every way a repair or a check ends. A repair completes once, storing its time and asking for attention, or
// explains its failure once; a check stores no time, asks for no attention, and offers the repair when a
// repair would change something.
TEST_F(RepairRun, EveryWayARunEndsIsCompletedOrExplainedOnce) {
    const struct {
        const char* mode;
        const char* check;     // a check (Ctrl+K), its alert answered with this button; none: a repair
        int bar;               // where the bar is left
        const char* explained; // a part of the one alert; none when a repair completes
        const char* summary;   // the last line of the details
    } rows[] = {
        {"normal", "Not Now", 100, "The check found 3 files whose permissions differ",
         "Check complete: 3 files differ and would be repaired"},
        {"normal", "Repair Now", 100, "Nothing was changed.\n\nRepair now?", "3 files repaired"},
        {"clean", "OK", 100, "The check found no file whose permissions need repair.",
         "Check complete: no file needs repair"},
        {"fail", "OK", 31,
         "The check did not finish: the repair tool " VARNEL_SIM_PATH " ended with exit status 2.",
         "The tool said: diskutil-sim: Error repairing permissions on /: the volume could not be read"},
        {"merged", nullptr, 100, nullptr, "3 files repaired"},
        {"split", nullptr, 100, nullptr, "3 files repaired"}, // each list in pieces: read once whole
        {"garbage", nullptr, 100, nullptr, "3 files repaired"},
        {"old-style", nullptr, 100, nullptr, "3 files repaired"},
        {"close-early", nullptr, 25, nullptr, "1 file repaired"},
        {"fail", nullptr, 25,
         "ended with exit status 2.\n\nThe tool said: diskutil-sim: Error repairing permissions",
         "The tool said: diskutil-sim: Error repairing permissions on /: the volume could not be read"},
        {"crash", nullptr, 25, "was stopped by a signal.",
         "The repair did not finish: the repair tool " VARNEL_SIM_PATH " was stopped by a signal."},
    };
    ui.btnDetails->click();
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.mode) + " " + (row.check ? row.check : "repair"));
        const std::string_view mode = row.mode, answer = row.check ? row.check : "";
        const bool repairs = row.check ? answer == "Repair Now" : !row.explained,
                   failed = mode == "fail" || mode == "crash", checked = row.check && !repairs;
        activate(window); // the last alert had the focus
        store(kBefore);
        delegate.attentionRequests = 0;
        simulate(row.mode);
        AlertWatcher alerts(QString::fromUtf8(row.check ? row.check : "OK"));
        if (row.check)
            QTest::keyClick(&window, Qt::Key_K, Qt::ControlModifier);
        else
            press();
        ASSERT_TRUE(busy());
        EXPECT_FALSE(ui.miCheck->isEnabled()); // one run at a time
        EXPECT_EQ(window.windowTitle(), row.check ? QStringLiteral("Checking 0% \u2014 Varnel")
                                                  : QStringLiteral("Repairing 0% \u2014 Varnel"));
        EXPECT_EQ(ui.lblProgress->text(), row.check ? QStringLiteral("Checking permissions\u2026")
                                                    : QStringLiteral("Repairing permissions\u2026"));
        if (row.check && repairs) { // the check ends, then the repair runs to its end
            ASSERT_TRUE(QTest::qWaitFor([&] { return !alerts.alerts.empty(); }, 15000));
            ASSERT_TRUE(QTest::qWaitFor([&] { return busy(); }, 1000));
            EXPECT_EQ(ui.lblProgress->text(), QStringLiteral("Repairing permissions\u2026"));
        }
        ASSERT_TRUE(waitForIdle());
        EXPECT_EQ(ui.pbProgress->value(), row.bar);
        EXPECT_EQ(stored(), repairs ? kNow : kBefore);
        EXPECT_EQ(delegate.attentionRequests, repairs ? 1 : 0); // "End", then the end call: one completion
        EXPECT_EQ(ui.lblLastScanned->text(),
                  repairs ? QStringLiteral("Today") : QStringLiteral("10 days ago"));
        EXPECT_TRUE(idle() && ui.lblLastScannedDesc->isVisible() && ui.miCheck->isEnabled());
        EXPECT_EQ(runner(), nullptr); // released after its end call
        ASSERT_EQ(alerts.alerts.size(), row.explained ? 1u : 0u);
        if (row.explained) {
            EXPECT_TRUE(alerts.alerts[0].text.contains(QLatin1String(row.explained)))
                << alerts.alerts[0].text.toStdString();
            EXPECT_EQ(alerts.alerts[0].icon, failed ? QMessageBox::Critical : QMessageBox::NoIcon);
            EXPECT_EQ(alerts.alerts[0].buttons,
                      (failed || answer == "OK" ? QStringList{"OK"} : QStringList{"Repair Now", "Not Now"}));
        }
        // The details: what the tool said, whole and in its order, then how the run ended.
        const QStringList shown = logLines(ui.txtLog->toPlainText());
        EXPECT_EQ(logLines(delegate.repairLog().text()), shown);
        EXPECT_EQ(shown.first(), checked ? QStringLiteral("Check of the start-up disk started")
                                         : QStringLiteral("Repair of the start-up disk started"));
        EXPECT_EQ(shown.last(), QLatin1String(row.summary));
        if (mode == "clean")
            continue;
        const qsizetype differ =
            shown.indexOf(QStringLiteral("Permissions differ on \u201cusr/local/share/man/"
                                         "man1/example.1\u201d; should be -rw-r--r-- , they "
                                         "are -rw-rw-r-- ."));
        ASSERT_GT(differ, 0);
        EXPECT_EQ(shown[differ + 1], (checked ? QStringLiteral("Would repair") : QStringLiteral("Repaired")) +
                                         QStringLiteral(" \u201cusr/local/share/man/man1/example.1\u201d."));
    }
    ui.btnCopyLog->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), delegate.repairLog().text());
}

// Which explanation each outcome gets, told by a part of each of its lines: the words themselves are held by
// the translations, which fail on any change to them.
TEST_F(RepairRun, AuthenticationOutcomesSayWhatHappenedAndWhatToDoInTheAlertAndTheLog) {
    const QString tool = script("cat >&2 \"$0.said\"; exit $(cat \"$0.status\")");
    const QString sudo = QStringLiteral("sudo %1 repairPermissions -plist /").arg(tool);
    const QByteArray noAgent = "Error executing command as another user: No authentication agent found.\n",
                     gaveUp = "varnel-repair: could not authenticate as an administrator (no polkit "
                              "authentication agent, or authentication failed); nothing was changed\n";
    const struct {
        int status;
        QByteArray said;   // pkexec's words, then the tool's
        QStringList lines; // a part of each line of the explanation, in order
    } rows[] = {
        {126,
         "Error executing command as another user: Request dismissed\nvarnel-repair: authentication was "
         "cancelled or refused; nothing was changed\n",
         {"password was cancelled, so nothing was changed.",
          "enter an administrator's password when asked."}},
        {127, noAgent + gaveUp, {"no password prompt can be shown", "from a desktop session", sudo}},
        {127,
         "==== AUTHENTICATING FOR app.varnel.Varnel.repair ====\nError creating textual authentication "
         "agent: "
         "Error opening current controlling terminal for the process (`/dev/tty'): No such device or "
         "address\n" +
             gaveUp,
         {"no password prompt can be shown", "from a desktop session", sudo}},
        {127,
         "Error executing command as another user: Not authorized\n\nThis incident has been reported.\n" +
             gaveUp,
         {"password was not accepted", "let an administrator run the repair in a terminal:", sudo}},
        {127,
         "varnel-repair: needs root, and cannot start /usr/bin/pkexec to ask for it: No such file or "
         "directory\n",
         {"because pkexec could not be started", "Install pkexec, or run the repair in a terminal:", sudo}},
        {3,
         "varnel-repair: reading the rpm database\nvarnel-repair: cannot read the rpm database\n",
         {"The repair did not finish: the repair tool " + tool + " ended with exit status 3.",
          "The tool said: varnel-repair: cannot read the rpm database"}},
    };
    delegate.setRepairToolPath(tool);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.lines.first().toStdString());
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
        const QStringList lines = paragraphs.join(QLatin1Char('\n')).split(QLatin1Char('\n'));
        ASSERT_EQ(lines.size(), row.lines.size()) << lines.join(QLatin1Char('\n')).toStdString();
        for (qsizetype i = 0; i < lines.size(); ++i)
            EXPECT_TRUE(lines[i].contains(row.lines[i])) << lines[i].toStdString();
        EXPECT_EQ(lines.last() == sudo, row.lines.last() == sudo);      // the command alone on its line
        EXPECT_EQ(logLines(delegate.repairLog().text()).mid(1), lines); // the same words
        EXPECT_EQ(stored(), kBefore);
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
    // Stop during a check; Stop, Quit and Escape during a repair.
    const std::function<void()> askToStop[] = {[&] { ui.btnStop->click(); }, [&] { ui.btnStop->click(); },
                                               [&] { ui.miQuit->trigger(); },
                                               [&] {
                                                   activate(window);
                                                   QTest::keyClick(&window, Qt::Key_Escape);
                                               }};
    for (const auto& stop : askToStop) {
        const bool check = &stop == askToStop;
        SCOPED_TRACE(check ? "a check" : "a repair");
        QFile::remove(QString::fromUtf8(pids));
        check ? ui.miCheck->trigger() : press();
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
                  check ? QStringLiteral("Stop the check? Nothing has been changed.")
                        : QStringLiteral("Stop the repair? Files repaired so far stay repaired."));
        EXPECT_TRUE(idle() && ui.lblLastScannedDesc->isVisible());
        EXPECT_EQ(ui.lblLastScanned->text(), QStringLiteral("10 days ago"));
        EXPECT_EQ(logLines(delegate.repairLog().text()).last(), QStringLiteral("Stopped by you"));
        for (const QByteArray& pid : started())
            EXPECT_FALSE(!pid.isEmpty() && isRunning(pid.toInt()))
                << "process " << pid.toStdString() << " lives on";
        QTest::qWait(200);
        EXPECT_EQ(answer.alerts.size(), 1u); // nothing more to say
        EXPECT_EQ(runner(), nullptr);
    }
    EXPECT_EQ(stored(), kBefore);
    EXPECT_EQ(delegate.attentionRequests, 0);
}

// Ctrl+S saves the log once there is one; before the first run, and Escape without a run, do nothing.
TEST_F(RepairRun, KeysSaveTheLogAndStopOnlyWhenThereIsSomething) {
    activate(window);
    AlertWatcher dialogs;
    QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
    QTest::keyClick(&window, Qt::Key_Escape);
    QTest::qWait(100);
    EXPECT_TRUE(dialogs.alerts.empty());
    press();
    ASSERT_TRUE(waitForIdle());
    QTest::keyClick(&window, Qt::Key_Escape);
    QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs.alerts.empty(); }, 3000));
    EXPECT_EQ(dialogs.alerts.size(), 1u);
    EXPECT_EQ(dialogs.alerts[0].title, QStringLiteral("Save the Repair Log"));
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
