// The runner against real child processes: small shell scripts standing in for the repair tool.
#include "../common/PeakMemory.h"
#include "repair/repairPermissions.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <utility>
#include <vector>

using repair::repairPermissions;

namespace {

// Records every call a runner makes, in order; the hooks act from inside a call.
struct Recorder : repair::RepairProgressDelegate {
    struct Call {
        repairPermissions* runner;
        bool isEnd;
        QString chunk;
    };
    std::vector<Call> calls;
    QString output; // every chunk, joined
    repair::RepairOutcome outcome;
    int ends = 0;
    bool runningInEndCall = false;
    std::function<void(repairPermissions*)> onChunk, onEnd;

    void repairPermissionsProgress(repairPermissions* runner, const QString& chunk) override {
        calls.push_back({runner, false, chunk});
        output += chunk;
        if (onChunk)
            onChunk(runner);
    }
    void repairPermissionsFinished(repairPermissions* runner, const repair::RepairOutcome& o) override {
        calls.push_back({runner, true, {}});
        outcome = o;
        runningInEndCall = runningInEndCall || runner->isRunning();
        ++ends;
        if (onEnd)
            onEnd(runner);
    }
    // Waits for the end call, then a little longer to see that nothing follows it. A finished run
    // is its non-empty chunks, one empty text, the end call, all from the runner.
    void waitForEnd(const repairPermissions* runner, int timeoutMs = 5000) {
        ASSERT_TRUE(QTest::qWaitFor([this] { return ends > 0; }, timeoutMs));
        QTest::qWait(50);
        ASSERT_EQ(ends, 1);
        ASSERT_GE(calls.size(), 2u);
        EXPECT_TRUE(calls.back().isEnd);
        EXPECT_TRUE(calls[calls.size() - 2].chunk.isEmpty());
        EXPECT_FALSE(runningInEndCall);
        for (size_t i = 0; i < calls.size(); ++i)
            EXPECT_TRUE(calls[i].runner == runner && (i + 2 >= calls.size() || !calls[i].chunk.isEmpty()));
    }
};

// Writes tool scripts to a scratch folder and starts them on fresh runners.
class RunnerTest : public testing::Test {
protected:
    QString script(const QByteArray& body, const QString& name = QStringLiteral("tool"),
                   const QByteArray& firstLine = "#!/bin/sh\n") {
        QFile file(m_dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(firstLine + body + "\n");
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
        return file.fileName();
    }
    // A script line that waits until the test calls release().
    QByteArray waitForRelease() const {
        return "while [ ! -e '" + m_dir.filePath(QStringLiteral("go")).toUtf8() + "' ]; do sleep 0.02; done";
    }
    void release() { QFile(m_dir.filePath(QStringLiteral("go"))).open(QIODevice::WriteOnly); }
    std::unique_ptr<repairPermissions> run(Recorder& rec, const QString& tool,
                                           const QString& volume = QStringLiteral("/")) {
        auto runner = std::make_unique<repairPermissions>(&rec, tool);
        EXPECT_TRUE(runner->beginRepair(volume)) << runner->startError().toStdString();
        return runner;
    }

    static qsizetype openDescriptors() { return QDir(QStringLiteral("/proc/self/fd")).count(); }

    // Under the build folder: the temporary folder may be mounted noexec.
    QTemporaryDir m_dir{QStringLiteral(VARNEL_SCRATCH_DIR "/runner-XXXXXX")};
};

// Every byte of standard output, decoded, before the end call, and how the tool ended; standard error
// stays apart. The end follows the tool's exit, not the end of its output. The runs go side by side, each
// seeing only its own tool.
TEST_F(RunnerTest, DeliversEveryByteThenReportsHowTheToolEnded) {
    const struct {
        const char* body;
        bool crashed;
        int status;
        QString output = {};
        QString errorOutput = {};
    } cases[] = {
        // The exact arguments; standard input is the null device; a big write just before the exit.
        {"printf '[%s]' \"$@\"; cat; sleep 0.2; printf '.'; exec head -c 65536 /dev/zero", false, 0,
         QStringLiteral("[repairPermissions][-plist][/Volumes/Disk One].") + QString(65536, QChar())},
        // Only the last 4096 bytes of standard error are kept, from the first whole character on: the
        // cut falls inside a three-byte character.
        {"head -c 9999 /dev/zero | tr '\\0' e >&2; printf '\\342\\202\\254' >&2; head -c 4081 /dev/zero | "
         "tr '\\0' e >&2; echo 'tool: cannot' >&2; echo out; exit 3",
         false, 3, QStringLiteral("out\n"), QString(4081, u'e') + QStringLiteral("tool: cannot\n")},
        // A character split between reads comes whole, a read that ends inside one gives no text, and bytes
        // that are not UTF-8 are U+FFFD, up to one cut short by the exit.
        {"printf 'a\\342'; sleep 0.1; printf '\\200'; sleep 0.1; printf '\\234\\377b\\342'", false, 0,
         QStringLiteral("a\u201c\uFFFDb\uFFFD")},
        {"kill -KILL $$", true, 0},
        {"ulimit -c 0; kill -SEGV $$", true, 0},
        // Closes its output and lingers: one empty text, however long it lingers, then its status.
        {"printf x; exec 1>&-; sleep 0.5; exit 4", false, 4, QStringLiteral("x")},
        // Leaves a background process holding the output open.
        {"(sleep 3; echo late) & printf y", false, 0, QStringLiteral("y")},
    };
    Recorder recs[std::size(cases)];
    std::unique_ptr<repairPermissions> runners[std::size(cases)];
    for (size_t i = 0; i < std::size(cases); ++i) {
        runners[i] =
            run(recs[i], script(cases[i].body, QString::number(i)), QStringLiteral("/Volumes/Disk One"));
        EXPECT_FALSE(runners[i]->beginRepair(QStringLiteral("/"))); // refused while Active, and harmless
    }
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        Recorder& rec = recs[i];
        SCOPED_TRACE(c.body);
        rec.waitForEnd(runners[i].get(), 2500);
        EXPECT_EQ(rec.output, c.output);
        EXPECT_EQ(rec.outcome.crashed, c.crashed);
        EXPECT_EQ(rec.outcome.exitStatus, c.status);
        EXPECT_EQ(rec.outcome.errorOutput, c.errorOutput);
    }
}

TEST_F(RunnerTest, AToolThatCannotBeLaunchedLeavesAReadyRunnerThatHoldsNothing) {
    const QString tool = m_dir.filePath(QStringLiteral("tool"));
    const struct {
        std::function<void()> breakTool;
        const char* reason;
    } cases[] = {
        {[] {}, "does not exist"},
        {[&] { QDir(m_dir.path()).mkdir(QStringLiteral("tool")); }, "is a folder"},
        {[&] { QFile::setPermissions(script("exit 0"), QFileDevice::ReadOwner); }, "is not executable"},
        {[&] { script("exit 0", QStringLiteral("tool"), ""); }, "is not a program this system can run"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        c.breakTool();
        Recorder rec;
        repairPermissions runner(&rec, tool);
        const auto descriptors = openDescriptors();
        for (int i = 0; i < 200; ++i)
            ASSERT_FALSE(runner.beginRepair(QStringLiteral("/")));
        EXPECT_EQ(openDescriptors(), descriptors);
        EXPECT_TRUE(runner.startError().contains(tool + QStringLiteral(" ") + QString::fromUtf8(c.reason)))
            << runner.startError().toStdString();
        QTest::qWait(50);
        EXPECT_TRUE(rec.calls.empty());
        // Ready: the same runner then runs a tool that ends at once, normally.
        QDir(m_dir.path()).rmdir(QStringLiteral("tool"));
        QFile::remove(tool);
        script("printf ok");
        ASSERT_TRUE(runner.beginRepair(QStringLiteral("/")));
        rec.waitForEnd(&runner);
        EXPECT_EQ(rec.output, QStringLiteral("ok"));
        QFile::remove(tool);
    }
}

// From inside each of its calls (a piece of output, the end of the output, the end call) a delegate may
// cancel the run, start the next one, or delete the runner at once or later. The runner says nothing
// more of a cancelled run, starts again (with or without a delegate), and no run leaves anything behind.
TEST_F(RunnerTest, ADelegateMayCancelStartAgainOrDeleteFromInsideEveryCall) {
    enum Where { Piece, EndOfOutput, End };
    enum Act { Cancel, Begin, Delete, DeleteLater };
    const QString tool = script("printf a; sleep 0.2; printf b");
    const struct {
        Where where;
        Act act;
        int ends;
        const char* output;
    } cases[] = {
        {Piece, Cancel, 0, "a"}, {EndOfOutput, Cancel, 0, "ab"},
        {End, Cancel, 1, "ab"}, // Ready: nothing to do
        {Piece, Begin, 1, "ab"}, {EndOfOutput, Begin, 1, "ab"},
        {End, Begin, 2, "abab"}, // refused while Active
        {Piece, Delete, 0, "a"}, {EndOfOutput, Delete, 0, "ab"},
        {End, Delete, 1, "ab"},  {End, DeleteLater, 1, "ab"},
    };
    const auto descriptors = openDescriptors();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.where * 4 + c.act);
        Recorder rec;
        QPointer<repairPermissions> runner = new repairPermissions(&rec, tool);
        bool acted = false;
        rec.onChunk = rec.onEnd = [&](repairPermissions* r) {
            const auto& call = rec.calls.back();
            if ((call.isEnd             ? End
                 : call.chunk.isEmpty() ? EndOfOutput
                                        : Piece) != c.where ||
                std::exchange(acted, true))
                return;
            if (c.act == Cancel)
                r->cancelRepair();
            else if (c.act == Begin)
                EXPECT_EQ(r->beginRepair(QStringLiteral("/")), c.where == End);
            else
                c.act == Delete ? delete r : r->deleteLater();
        };
        ASSERT_TRUE(runner->beginRepair(QStringLiteral("/")));
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return rec.ends == c.ends && !(runner && runner->isRunning()); }, 5000));
        QTest::qWait(100);
        EXPECT_EQ(rec.ends, c.ends);
        EXPECT_EQ(rec.output, QString::fromLatin1(c.output));
        EXPECT_FALSE(rec.runningInEndCall);
        if (runner) {
            runner->setDelegate(nullptr); // a run without a delegate goes ahead and ends all the same
            ASSERT_TRUE(runner->beginRepair(QStringLiteral("/")));
            ASSERT_TRUE(QTest::qWaitFor([&] { return !runner->isRunning(); }, 5000));
            EXPECT_TRUE(runner->beginRepair(QStringLiteral("/")));
            delete runner;
        }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(openDescriptors(), descriptors);
}

// Whether a process is gone (a zombie that nobody reaped yet counts as gone).
bool gone(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray fields = stat.readAll();
    return fields.mid(fields.lastIndexOf(')') + 2, 1) == "Z";
}

// However a run is ended early (cancelled or destroyed), the tool and everything it started are gone
// within the bound, nothing is said, and nothing the tool still writes is kept.
TEST_F(RunnerTest, EndingARunEarlyEndsTheToolAndWhatItStartedSilently) {
    enum How { Cancel, Destroy };
    const struct {
        QByteArray body;
        How how;
    } cases[] = {
        // Ignores SIGTERM and writes as fast as it can until it is killed.
        {"trap '' TERM; echo $$; " + waitForRelease() + "; exec cat /dev/zero", Destroy},
        // Obeys SIGTERM, but has started a process that ignores it.
        {"(trap '' TERM; exec sleep 30) & echo $$ $!; exec sleep 30", Cancel},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body.constData());
        Recorder rec;
        auto runner = run(rec, script(c.body));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !rec.calls.empty(); }, 5000));
        release();
        ASSERT_TRUE(resetPeakMemory());
        const long memoryBefore = peakMemoryKiB();
        QElapsedTimer clock;
        clock.start();
        c.how == Cancel ? runner->cancelRepair() : runner.reset();
        EXPECT_LT(clock.elapsed(), 2500);
        EXPECT_LT(peakMemoryKiB() - memoryBefore, 16 * 1024);
        for (const QString& pid : rec.calls.front().chunk.simplified().split(' '))
            EXPECT_TRUE(gone(pid.toInt())) << pid.toStdString();
        QTest::qWait(100);
        EXPECT_EQ(rec.calls.size(), 1u);
    }
}

// A tool that not even the kill ends at once is left to go in its own time, in the application and at
// its exit: neither waits for it, and once it has gone nothing of it is held.
TEST_F(RunnerTest, NothingWaitsForAToolThatOutlivesItsKill) {
    static Recorder rec; // outlives the application object, which owns the runner in the exit probe
    const auto start = [&](repairPermissions* runner) {
        EXPECT_TRUE(runner->beginRepair(QStringLiteral("/")));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !rec.calls.empty(); }, 5000));
        return rec.output.trimmed();
    };
    if (qEnvironmentVariableIsSet("VARNEL_EXIT_PROBE")) // quits with an Active runner
        return void(start(new repairPermissions(&rec, QStringLiteral(VARNEL_STUBBORN_TOOL_PATH), qApp)));
    const auto descriptors = openDescriptors();
    auto runner = std::make_unique<repairPermissions>(&rec, QStringLiteral(VARNEL_STUBBORN_TOOL_PATH));
    const QString pid = start(runner.get());
    if (pid == QStringLiteral("untraceable"))
        GTEST_SKIP() << "this system lets no process trace another, so none outlives its kill";
    QElapsedTimer clock;
    clock.start();
    runner.reset();
    EXPECT_LT(clock.elapsed(), 2500);
    EXPECT_TRUE(QFile::exists(QStringLiteral("/proc/") + pid)); // held at its exit, not gone yet
    EXPECT_TRUE(QTest::qWaitFor([&] { return openDescriptors() == descriptors; }, 10000));
    EXPECT_EQ(rec.calls.size(), 1u);

    qputenv("VARNEL_EXIT_PROBE", "1");
    QProcess probe;
    clock.restart();
    probe.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=RunnerTest.NothingWaitsForAToolThatOutlivesItsKill")});
    qunsetenv("VARNEL_EXIT_PROBE");
    ASSERT_TRUE(probe.waitForFinished(20000));
    EXPECT_EQ(probe.exitCode(), 0) << probe.readAll().toStdString();
    EXPECT_LT(clock.elapsed(), 4500);
}

} // namespace
