// The stand-in repair tool, run through the runner as the application runs it.
#include "RunnerFixture.h"

#include <QProcess>
#include <algorithm>

namespace {

bool anyChunk(const Recorder& rec, bool (*matches)(const QString&)) {
    return std::any_of(rec.calls.begin(), rec.calls.end(),
                       [&](const Recorder::Call& c) { return matches(c.chunk); });
}

TEST_F(RunnerTest, EverySimulatorModeBehavesAsItsNameSays) {
    // A whole run in a mode; the simulator takes its settings from the application's environment.
    const auto simulate = [this](const char* mode, const char* durationMs = "100") {
        qputenv("VARNEL_SIM_MODE", mode);
        qputenv("VARNEL_SIM_DURATION_MS", durationMs);
        Recorder rec;
        auto runner = run(rec, QStringLiteral(VARNEL_SIM_PATH));
        rec.waitForEnd(runner.get());
        return rec;
    };
    const Recorder normal = simulate("normal");
    qputenv("VARNEL_SIM_MODE", "hang"); // runs beside the other modes, and still runs after them
    Recorder hung;
    auto hanging = run(hung, QStringLiteral(VARNEL_SIM_PATH));
    // The same text in other pieces: every list cut in three writes, or three lists in one write.
    const Recorder split = simulate("split", "600"), merged = simulate("merged");
    EXPECT_TRUE(split.joined() == normal.joined() && merged.joined() == normal.joined());
    EXPECT_TRUE(anyChunk(split, [](const QString& c) { return !c.isEmpty() && !c.endsWith("</plist>\n"); }));
    EXPECT_TRUE(anyChunk(merged, [](const QString& c) { return c.count("<plist ") >= 3; }));
    EXPECT_TRUE(normal.outcome.succeeded() && normal.joined().contains("<key>End</key>\n\t<true/>"));
    EXPECT_TRUE(split.outcome.succeeded() && merged.outcome.succeeded());
    const struct {
        const char* mode;
        int status; // -1: killed by a signal
        const char* contains;
        bool ends;
    } cases[] = {{"fail", 2, "<real>", false},
                 {"crash", -1, "<real>", false},
                 {"close-early", 0, "<real>", false},
                 {"garbage", 0, "\uFFFD garbage", true},
                 {"old-style", 0, "    End = YES;\n    PercentComplete = 100;\n}\n", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        const Recorder rec = simulate(c.mode);
        EXPECT_EQ(rec.outcome.crashed ? -1 : rec.outcome.exitStatus, c.status);
        EXPECT_TRUE(rec.joined().contains(QString::fromUtf8(c.contains)));
        EXPECT_EQ(rec.joined().contains("End"), c.ends);
        EXPECT_EQ(rec.outcome.errorOutput.startsWith("diskutil-sim: Error"), c.status == 2);
    }
    qputenv("VARNEL_SIM_COUNT", "1000");
    EXPECT_EQ(simulate("flood").joined().count("<plist "), 1001);
    EXPECT_TRUE(hanging->isRunning() && hung.ends == 0);
    EXPECT_TRUE(hung.joined().contains("<real>") && !hung.joined().contains("End"));
    for (const char* name : {"VARNEL_SIM_MODE", "VARNEL_SIM_DURATION_MS", "VARNEL_SIM_COUNT"})
        qunsetenv(name);
}

TEST(SimulatorCommandLine, RefusesAnythingButItsOneVerb) {
    for (const QStringList& args : {QStringList{}, {"verify", "/"}, {"repairPermissions", "/"}}) {
        QProcess sim;
        sim.start(QStringLiteral(VARNEL_SIM_PATH), args);
        ASSERT_TRUE(sim.waitForFinished(5000));
        EXPECT_EQ(sim.exitCode(), 1);
        EXPECT_TRUE(sim.readAllStandardOutput().isEmpty());
        EXPECT_EQ(sim.readAllStandardError().count('\n'), 1);
    }
}

} // namespace
