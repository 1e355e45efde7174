// The runner against real child processes: small shell scripts standing in for the repair tool.
#include "RunnerFixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <cerrno>
#include <csignal>

using repair::repairPermissions;

namespace {

// Every byte of standard output before the end call, and how the tool ended; standard error stays apart.
TEST_F(RunnerTest, DeliversEveryByteThenReportsHowTheToolEnded) {
    const struct {
        const char* body;
        bool crashed;
        int status;
        QString output = {};
        QString errorEnd = {}; // how standard error ends
    } cases[] = {
        // The exact arguments; standard input is the null device; a big write just before the exit.
        {"printf '[%s]' \"$@\"; cat; sleep 0.2; printf '.'; exec head -c 65536 /dev/zero", false, 0,
         QStringLiteral("[repairPermissions][-plist][/Volumes/Disk One].") + QString(65536, QChar())},
        // Only the end of standard error is kept.
        {"head -c 9999 /dev/zero | tr '\\0' e >&2; echo 'tool: cannot' >&2; echo out; exit 3", false, 3,
         QStringLiteral("out\n"), QStringLiteral("eeetool: cannot\n")},
        {"kill -KILL $$", true, 0},
        {"ulimit -c 0; kill -SEGV $$", true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        Recorder rec;
        auto runner = run(rec, script(c.body), QStringLiteral("/Volumes/Disk One"));
        EXPECT_FALSE(runner->beginRepair(QStringLiteral("/"))); // refused while Active, and harmless
        rec.waitForEnd(runner.get());
        EXPECT_EQ(rec.joined(), c.output);
        EXPECT_EQ(rec.outcome.crashed, c.crashed);
        EXPECT_EQ(rec.outcome.exitStatus, c.status);
        EXPECT_TRUE(rec.outcome.errorOutput.size() <= 4096 && rec.outcome.errorOutput.endsWith(c.errorEnd));
    }
}

TEST_F(RunnerTest, KeepsSplitCharactersWholeAndNeverTakesBadBytesForTheEnd) {
    Recorder rec;
    auto runner = run(rec, script("printf 'a\\342\\200'; sleep 0.1; printf '\\234\\377'; " +
                                  waitForRelease() + "; printf 'b\\342'"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return rec.joined().size() >= 3; }, 5000));
    EXPECT_TRUE(rec.ends == 0 && runner->isRunning());
    release();
    rec.waitForEnd(runner.get());
    EXPECT_EQ(rec.joined(), QStringLiteral("a\u201c\uFFFDb\uFFFD"));
}

TEST_F(RunnerTest, AToolThatCannotBeLaunchedLeavesAReadyRunnerAndNoCalls) {
    const QString tool = m_dir.filePath(QStringLiteral("tool"));
    const std::function<void()> breakings[] = {
        [] {}, // missing
        [&] { QFile::setPermissions(script("exit 0"), QFileDevice::ReadOwner | QFileDevice::WriteOwner); },
        [&] { QDir(m_dir.path()).mkdir(QStringLiteral("tool")); }};
    for (const auto& breakTool : breakings) {
        QFile::remove(tool);
        breakTool();
        Recorder rec;
        repairPermissions runner(&rec, tool);
        EXPECT_FALSE(runner.beginRepair(QStringLiteral("/")));
        EXPECT_TRUE(runner.startError().contains(tool));
        QTest::qWait(50);
        EXPECT_TRUE(rec.calls.empty());
        // Ready: the same runner then runs a tool that ends at once, normally.
        QDir(m_dir.path()).rmdir(QStringLiteral("tool"));
        script("printf ok");
        ASSERT_TRUE(runner.beginRepair(QStringLiteral("/")));
        rec.waitForEnd(&runner);
        EXPECT_EQ(rec.joined(), QStringLiteral("ok"));
    }
}

TEST_F(RunnerTest, TheEndFollowsTheToolsExitNotTheEndOfItsOutput) {
    // Two runs at once, each seeing only its own output. One tool closes its output and lingers: one
    // empty text, however long it lingers. The other leaves a background process holding the output.
    Recorder closed, held;
    auto closing = run(closed, script("printf x; exec 1>&-; " + waitForRelease(), QStringLiteral("closing")));
    auto holding = run(held, script("sleep 5 & echo $!", QStringLiteral("holding")));
    held.waitForEnd(holding.get(), 2000);
    ::kill(held.joined().trimmed().toInt(), SIGTERM);
    QTest::qWait(200);
    EXPECT_EQ(closed.ends, 0);
    release();
    closed.waitForEnd(closing.get());
    EXPECT_EQ(closed.joined(), QStringLiteral("x"));
}

TEST_F(RunnerTest, DestroyingAnActiveRunnerEndsTheToolAndSaysNothing) {
    // From outside (one tool obeys the termination signal, the other has to be killed), or from inside
    // the delegate's first call.
    const struct {
        const char* body;
        bool fromInside;
    } cases[] = {{"echo $$; exec sleep 30", false},
                 {"trap '' TERM; echo $$; while :; do sleep 0.1; done", false},
                 {"echo $$; exec sleep 30", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        Recorder rec;
        auto runner = run(rec, script(c.body));
        if (c.fromInside)
            rec.onChunk = [&](repairPermissions*) { runner.reset(); };
        ASSERT_TRUE(QTest::qWaitFor([&] { return !rec.calls.empty(); }, 5000));
        const pid_t pid = rec.joined().trimmed().toInt();
        QElapsedTimer clock;
        clock.start();
        runner.reset();
        EXPECT_LT(clock.elapsed(), 2500);
        EXPECT_TRUE(::kill(pid, 0) == -1 && errno == ESRCH);
        QTest::qWait(100);
        EXPECT_EQ(rec.calls.size(), 1u);
    }
}

TEST_F(RunnerTest, RunnersReusedOrDeletedInTheirEndCallLeaveNoDescriptorsBehind) {
    const QString tool = script("printf a; printf b");
    const auto openDescriptors = [] { return QDir(QStringLiteral("/proc/self/fd")).count(); };
    const auto before = openDescriptors();
    Recorder reused;
    repairPermissions runner(&reused, tool);
    for (int i = 1; i <= 10; ++i) {
        ASSERT_TRUE(runner.beginRepair(QStringLiteral("/")));
        ASSERT_TRUE(QTest::qWaitFor([&] { return reused.ends == i; }, 5000));
        Recorder once; // a runner per run, deleted from inside its end call: at once, or later
        once.onEnd = [i](repairPermissions* r) { i % 2 ? delete r : r->deleteLater(); };
        (new repairPermissions(&once, tool))->beginRepair(QStringLiteral("/"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return once.ends == 1; }, 5000));
        EXPECT_EQ(once.joined(), QStringLiteral("ab"));
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(openDescriptors(), before);
}

} // namespace
