// Reading progress from the tool's output: chunk by chunk, and as one stream whose lists may come in pieces.
#include "repair/ProgressChunk.h"

#include <gtest/gtest.h>

using repair::ProgressReading;
using repair::ProgressStream;
using repair::readProgressChunk;

namespace {

QString xmlList(const QString& body) {
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n") +
           body + QStringLiteral("</dict>\n</plist>\n");
}

QString percent(const char* value) {
    return xmlList(
        QStringLiteral("<key>PercentComplete</key><real>%1</real>\n").arg(QString::fromLatin1(value)));
}

TEST(ProgressChunk, ReadsPercentEndAndMessageOfEveryList) {
    const auto none = std::nullopt;
    const std::pair<QString, std::vector<ProgressReading>> cases[] = {
        {percent("37.9"), {{37, false, {}}}},
        {xmlList(QStringLiteral("<key>PercentComplete</key><real>100</real><key>End</key><true/>\n")),
         {{100, true, {}}}},
        // The tool's words come through as text, markup and all; a message that is not text is none.
        {xmlList(
             QStringLiteral("<key>Message</key><string>&lt;b&gt;Repaired \u201cx\u201d&lt;/b&gt;</string>")),
         {{none, false, QStringLiteral("<b>Repaired \u201cx\u201d</b>")}}},
        {xmlList(QStringLiteral("<key>Message</key><integer>7</integer>")), {{none, false, {}}}},
        // A value held as text is read as a number and a boolean.
        {xmlList(QStringLiteral(
             "<key>PercentComplete</key><string> 4.2e1</string><key>End</key><string>YES</string>")),
         {{42, true, {}}}},
        // Beyond any whole number: no value rather than an undefined conversion.
        {percent("1e300"), {{none, false, {}}}},
        // Several lists in one chunk, each read in order; one cut off by the end of the chunk yields nothing.
        {percent("10") + percent("20") + percent("30").left(60), {{10, false, {}}, {20, false, {}}}},
        // What the tool does not write is read by the full reader: the same rules, the same result.
        {xmlList(
             QStringLiteral("<key>PercentComplete</key><integer>55</integer><key>End</key><real>nan</real>")),
         {{55, false, {}}}},
        {xmlList(QStringLiteral("<key>PercentComplete</key><real>10</real><key>When</key><date>soon</date>")),
         {}},
        {xmlList(QStringLiteral(
             "<key>PercentComplete</key><real>10</real><key>PercentComplete</key><real>20</real>")),
         {{20, false, {}}}},
        // The text is decoded already: a declared encoding changes nothing.
        {QStringLiteral("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><plist><dict><key>Message</key>"
                        "<string>\u201cx\u201d</string></dict></plist>"),
         {{none, false, QStringLiteral("\u201cx\u201d")}}},
        {QStringLiteral("\uFFFD\uFFFD not a property list"), {}},
        {QStringLiteral(
             "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><real>5</real></array></plist>"),
         {}},
    };
    for (const auto& [chunk, expected] : cases)
        EXPECT_EQ(readProgressChunk(chunk), expected) << chunk.toStdString();
}

TEST(ProgressStream, EveryCutOfTheStreamGivesTheSameReadings) {
    const QString end =
        xmlList(QStringLiteral("<key>PercentComplete</key><real>100</real><key>End</key><true/>"));
    const QString stream = percent("10") + percent("20") + QStringLiteral("\xfffd noise\n") + end;
    const std::vector<ProgressReading> whole = {{10, false, {}}, {20, false, {}}, {100, true, {}}};
    for (qsizetype a = 0; a <= stream.size(); a += 3) {
        for (qsizetype b = a; b <= stream.size(); b += 5) {
            ProgressStream reader;
            std::vector<ProgressReading> got;
            for (const QStringView piece :
                 {QStringView(stream).first(a), QStringView(stream).sliced(a, b - a),
                  QStringView(stream).sliced(b)})
                for (const ProgressReading& r : reader.read(piece))
                    got.push_back(r);
            ASSERT_EQ(got, whole) << "cut at " << a << " and " << b;
        }
    }
}

TEST(ProgressStream, HoldsBackABoundedAmountAndForgetsItForANewRun) {
    ProgressStream reader;
    EXPECT_TRUE(reader.read(percent("30").first(40)).empty());
    reader.reset();
    EXPECT_TRUE(reader.read(percent("30").sliced(40)).empty()); // the head belonged to the run before

    // An unfinished list longer than the bound is dropped; the stream goes on with the next one.
    EXPECT_TRUE(reader.read(QStringLiteral("<?xml ") + QString(ProgressStream::kMaxHeldBack, u'x')).empty());
    EXPECT_EQ(reader.read(percent("40")), (std::vector<ProgressReading>{{40, false, {}}}));

    // However long a chunk is, every list in it is read: a window far behind its tool loses nothing.
    EXPECT_EQ(reader.read(QString(9 * 1024 * 1024, u' ') + percent("45")).size(), 1u);

    // Old-style lists are read as the chunk holds them.
    EXPECT_EQ(reader.read(QStringLiteral("{ PercentComplete = 50; }")),
              (std::vector<ProgressReading>{{50, false, {}}}));
}

} // namespace
