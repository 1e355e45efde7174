// The stand-in repair tool, run through the runner as the application runs it.
#include "RunnerFixture.h"

#include <QProcess>
#include <algorithm>
#include <list>

namespace {

class Simulator : public RunnerTest {
protected:
    void TearDown() override {
        for (const char* name : {"VARNEL_SIM_MODE", "VARNEL_SIM_DURATION_MS", "VARNEL_SIM_COUNT"})
            qunsetenv(name);
    }
    // A whole run in a mode; the simulator takes its settings from the application's environment.
    const Recorder& simulate(const char* mode, const char* durationMs = "100") {
        qputenv("VARNEL_SIM_MODE", mode);
        qputenv("VARNEL_SIM_DURATION_MS", durationMs);
        Recorder& rec = m_records.emplace_back();
        auto runner = run(rec, QStringLiteral(VARNEL_SIM_PATH));
        rec.waitForEnd(runner.get());
        return rec;
    }
    std::list<Recorder> m_records;
};

TEST_F(Simulator, EveryModeEndsAsItsNameSays) {
    const QString normal = simulate("normal").joined();
    EXPECT_TRUE(
        normal.contains(QStringLiteral("<string>Repaired \u201cusr/local/libexec/helper\u201d.</string>")));
    EXPECT_TRUE(normal.endsWith(QStringLiteral("<key>End</key>\n\t<true/>\n\t<key>PercentComplete</key>\n"
                                               "\t<real>100</real>\n</dict>\n</plist>\n")));
    // The same text in other pieces: split several times per list, or several lists per write.
    const Recorder& split = simulate("split", "600");
    EXPECT_EQ(split.joined(), normal);
    EXPECT_TRUE(std::any_of(split.calls.begin(), split.calls.end(), [](const Recorder::Call& c) {
        return !c.chunk.isEmpty() && !c.chunk.endsWith(QStringLiteral("</plist>\n"));
    }));
    const Recorder& merged = simulate("merged");
    EXPECT_EQ(merged.joined(), normal);
    EXPECT_TRUE(std::any_of(merged.calls.begin(), merged.calls.end(), [](const Recorder::Call& c) {
        return c.chunk.count(QStringLiteral("<plist ")) >= 3;
    }));

    struct Case {
        const char* mode;
        bool crashed;
        int status;
        const char* contains;
    };
    for (const Case& c :
         {Case{"fail", false, 2, "<real>"}, Case{"crash", true, 0, "<real>"},
          Case{"close-early", false, 0, "<real>"}, Case{"garbage", false, 0, "\uFFFD garbage"},
          Case{"old-style", false, 0, "    End = YES;\n    PercentComplete = 100;\n}\n"}}) {
        SCOPED_TRACE(c.mode);
        const Recorder& rec = simulate(c.mode);
        EXPECT_TRUE(rec.outcome.crashed == c.crashed && rec.outcome.exitStatus == c.status);
        EXPECT_TRUE(rec.joined().contains(QString::fromUtf8(c.contains)));
        const bool completes = c.status == 0 && !c.crashed && qstrcmp(c.mode, "close-early") != 0;
        EXPECT_EQ(rec.joined().contains(QStringLiteral("End")), completes);
    }
    EXPECT_TRUE(m_records.begin()->outcome.succeeded());
    EXPECT_TRUE(std::next(m_records.begin(), 3)
                    ->outcome.errorOutput.startsWith(QStringLiteral("diskutil-sim: Error")));
    qputenv("VARNEL_SIM_COUNT", "1000");
    EXPECT_EQ(simulate("flood").joined().count(QStringLiteral("<plist ")), 1001);
}

TEST(SimulatorCommandLine, RefusesAnythingButItsOneVerb) {
    for (const QStringList& args : {QStringList{}, QStringList{QStringLiteral("verify"), QStringLiteral("/")},
                                    QStringList{QStringLiteral("repairPermissions"), QStringLiteral("/")}}) {
        QProcess sim;
        sim.start(QStringLiteral(VARNEL_SIM_PATH), args);
        ASSERT_TRUE(sim.waitForFinished(5000));
        EXPECT_EQ(sim.exitCode(), 1);
        EXPECT_TRUE(sim.readAllStandardOutput().isEmpty());
        EXPECT_EQ(sim.readAllStandardError().count('\n'), 1);
    }
}

} // namespace
