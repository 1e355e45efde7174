// Reading progress from chunks of the tool's output.
#include "repair/ProgressChunk.h"

#include "RunnerFixture.h"

#include <limits>

using repair::ProgressReading;
using repair::readProgressChunk;

namespace {

QString xmlList(const QString& body) {
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n") +
           body + QStringLiteral("</dict>\n</plist>\n");
}

QString percent(const char* value) {
    return QStringLiteral("<key>PercentComplete</key><real>%1</real>\n").arg(QString::fromLatin1(value));
}

TEST(ProgressChunk, ReadsPercentEndAndMessageOfEveryList) {
    struct Case {
        QString chunk;
        std::vector<ProgressReading> expected;
    };
    const auto none = std::nullopt;
    const Case cases[] = {
        {xmlList(percent("37.9")), {{37, false, {}}}},
        {xmlList(percent("0.9")), {{0, false, {}}}},
        {xmlList(percent("-12.5")), {{-12, false, {}}}},
        {xmlList(percent("100") + QStringLiteral("<key>End</key><true/>\n")), {{100, true, {}}}},
        // The tool's words come through as text, markup and all.
        {xmlList(QStringLiteral("<key>Message</key><string>Repaired \u201cx\u201d</string>\n")),
         {{none, false, QStringLiteral("Repaired \u201cx\u201d")}}},
        {xmlList(QStringLiteral("<key>Message</key><string>&lt;b&gt;caf\u00e9&lt;/b&gt;</string>")),
         {{none, false, QStringLiteral("<b>caf\u00e9</b>")}}},
        {xmlList(QStringLiteral("<key>Message</key><integer>7</integer>")), {{none, false, {}}}},
        // A value held as text is read as a number and a boolean.
        {xmlList(QStringLiteral(
             "<key>PercentComplete</key><string> 4.2e1</string><key>End</key><string>YES</string>")),
         {{42, true, {}}}},
        // Beyond any whole number: no value rather than an undefined conversion.
        {xmlList(percent("1e300")), {{none, false, {}}}},
        {QStringLiteral("{ PercentComplete = 61.5; End = NO; }"), {{61, false, {}}}},
        {QStringLiteral("\"PercentComplete\" = \"7\";\n\"End\" = \"1\";\n"), {{7, true, {}}}},
        // Several lists in one chunk, each read in order; one cut off by the end of the chunk yields nothing.
        {xmlList(percent("10")) + xmlList(percent("20")) + xmlList(percent("30")).left(60),
         {{10, false, {}}, {20, false, {}}}},
        {QString(), {}},
        {QStringLiteral("\uFFFD\uFFFD not a property list"), {}},
        {QStringLiteral(
             "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><real>5</real></array></plist>"),
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chunk.toStdString());
        EXPECT_EQ(readProgressChunk(c.chunk), c.expected);
    }
}

// The stand-in tool in its modes, run and read as one stream as the application does: the progress
// rises, and ends in "End" exactly when the run ends well.
TEST_F(RunnerTest, TheStandInToolReadsAsRisingProgressEndingInEnd) {
    const struct {
        const char* mode;
        int status; // -1: killed by a signal
        bool ends;
    } cases[] = {{"normal", 0, true},    {"split", 0, true},   {"merged", 0, true},
                 {"old-style", 0, true}, {"garbage", 0, true}, {"flood", 0, true},
                 {"fail", 2, false},     {"crash", -1, false}, {"close-early", 0, false}};
    qputenv("VARNEL_SIM_DURATION_MS", "100");
    qputenv("VARNEL_SIM_COUNT", "1000");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        qputenv("VARNEL_SIM_MODE", c.mode); // the tool takes its settings from the application's environment
        Recorder rec;
        auto runner = run(rec, QStringLiteral(VARNEL_SIM_PATH));
        rec.waitForEnd(runner.get());
        EXPECT_EQ(rec.outcome.crashed ? -1 : rec.outcome.exitStatus, c.status);
        EXPECT_EQ(rec.outcome.errorOutput.startsWith("diskutil-sim: Error"), c.status == 2);
        std::vector<ProgressReading> readings;
        repair::ProgressStream stream;
        for (const auto& call : rec.calls)
            for (const auto& r : stream.read(call.chunk))
                readings.push_back(r);
        ASSERT_GT(readings.size(), 3u);
        EXPECT_EQ(readings.back() == (ProgressReading{100, true, {}}), c.ends);
        std::ptrdiff_t last = 0;
        for (const auto& r : readings) {
            EXPECT_TRUE(!r.end || &r == &readings.back());
            EXPECT_GE(r.percentComplete.value_or(last), last);
            last = r.percentComplete.value_or(last);
        }
    }
    for (const char* name : {"VARNEL_SIM_MODE", "VARNEL_SIM_DURATION_MS", "VARNEL_SIM_COUNT"})
        qunsetenv(name);
}

} // namespace
