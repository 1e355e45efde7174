// The runner against real child processes: small shell scripts standing in for the repair tool.
#include "RunnerFixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <cerrno>
#include <csignal>

using repair::repairPermissions;

namespace {

TEST_F(RunnerTest, PassesTheArgumentsAndDeliversEveryByteUpToALastBigWrite) {
    Recorder rec;
    const QString tool =
        script("printf '[%s]' \"$@\"; cat; sleep 0.2; printf '.'; exec head -c 65536 /dev/zero");
    auto runner = run(rec, tool, QStringLiteral("/Volumes/Disk One"));
    EXPECT_FALSE(runner->beginRepair(QStringLiteral("/"))); // refused while Active, and harmless
    rec.waitForEnd(runner.get());
    EXPECT_EQ(rec.joined(),
              QStringLiteral("[repairPermissions][-plist][/Volumes/Disk One].") + QString(65536, QChar()));
    EXPECT_TRUE(rec.outcome.succeeded());
    EXPECT_FALSE(runner->isRunning());
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

TEST_F(RunnerTest, ReportsHowTheToolEndedEvenWhenItEndsAtOnce) {
    struct Case {
        const char* body;
        bool crashed;
        int status;
    } const cases[] = {
        {"exit 0", false, 0},
        {"head -c 9999 /dev/zero | tr '\\0' e >&2; echo 'tool: cannot' >&2; echo out; exit 3", false, 3},
        {"kill -KILL $$", true, 0},
        {"ulimit -c 0; kill -SEGV $$", true, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        Recorder rec;
        auto runner = run(rec, script(c.body));
        rec.waitForEnd(runner.get());
        EXPECT_EQ(rec.outcome.crashed, c.crashed);
        EXPECT_EQ(rec.outcome.exitStatus, c.status);
        EXPECT_EQ(rec.outcome.succeeded(), c.status == 0 && !c.crashed);
        if (c.status == 3) { // standard error stays apart, and only its end is kept
            EXPECT_EQ(rec.joined(), QStringLiteral("out\n"));
            EXPECT_TRUE(rec.outcome.errorOutput.size() <= 4096 &&
                        rec.outcome.errorOutput.endsWith(QStringLiteral("eeetool: cannot\n")));
        }
    }
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
        EXPECT_FALSE(runner.isRunning());
        QTest::qWait(50);
        EXPECT_TRUE(rec.calls.empty());

        QDir(m_dir.path()).rmdir(QStringLiteral("tool"));
        script("printf ok");
        ASSERT_TRUE(runner.beginRepair(QStringLiteral("/")));
        EXPECT_TRUE(runner.startError().isEmpty());
        rec.waitForEnd(&runner);
        EXPECT_EQ(rec.joined(), QStringLiteral("ok"));
    }
}

TEST_F(RunnerTest, TheEndFollowsTheToolsExitNotTheEndOfItsOutput) {
    // Two runs at once, each seeing only its own output. One tool closes its output and lingers: one
    // empty text, however long it lingers. The other leaves a background process holding the output.
    Recorder closed, held;
    QElapsedTimer clock;
    clock.start();
    auto closing = run(closed, script("printf x; exec 1>&-; " + waitForRelease(), QStringLiteral("closing")));
    auto holding = run(held, script("sleep 5 & echo $!", QStringLiteral("holding")));
    held.waitForEnd(holding.get(), 2000);
    EXPECT_LT(clock.elapsed(), 2000);
    ::kill(held.joined().trimmed().toInt(), SIGTERM);
    QTest::qWait(200);
    EXPECT_EQ(closed.ends, 0);
    release();
    closed.waitForEnd(closing.get());
    EXPECT_EQ(closed.joined(), QStringLiteral("x"));
}

TEST_F(RunnerTest, DestroyingAnActiveRunnerEndsTheToolAndSaysNothing) {
    // One tool obeys the termination signal, the other has to be killed.
    for (const char* body :
         {"echo $$; exec sleep 30", "trap '' TERM; echo $$; while :; do sleep 0.1; done"}) {
        SCOPED_TRACE(body);
        Recorder rec;
        auto runner = run(rec, script(body));
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

TEST_F(RunnerTest, TheDelegateMayDeleteTheRunnerFromInsideACall) {
    const QString tool = script("printf a; sleep 0.2; printf b");
    Recorder atEnd; // deleteLater() there is covered by the test below
    atEnd.onEnd = [](repairPermissions* r) { delete r; };
    (new repairPermissions(&atEnd, tool))->beginRepair(QStringLiteral("/"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return atEnd.ends == 1; }, 5000));
    EXPECT_EQ(atEnd.joined(), QStringLiteral("ab"));

    Recorder atFirstChunk; // still Active: the tool is ended and nothing more is said
    atFirstChunk.onChunk = [](repairPermissions* r) { delete r; };
    (new repairPermissions(&atFirstChunk, tool))->beginRepair(QStringLiteral("/"));
    QTest::qWait(500);
    EXPECT_EQ(atFirstChunk.calls.size(), 1u);
}

TEST_F(RunnerTest, ManyRunsLeaveNoDescriptorsBehind) {
    const QString tool = script("printf x");
    const auto openDescriptors = [] { return QDir(QStringLiteral("/proc/self/fd")).count(); };
    const auto before = openDescriptors();
    Recorder reused;
    repairPermissions runner(&reused, tool);
    for (int i = 1; i <= 10; ++i) {
        ASSERT_TRUE(runner.beginRepair(QStringLiteral("/")));
        ASSERT_TRUE(QTest::qWaitFor([&] { return reused.ends == i; }, 5000));
        Recorder once; // a runner per run, let go from inside its end call
        once.onEnd = &repairPermissions::deleteLater;
        (new repairPermissions(&once, tool))->beginRepair(QStringLiteral("/"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return once.ends == 1; }, 5000));
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(openDescriptors(), before);
}

} // namespace
