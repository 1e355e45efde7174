// Reading the tool's output as one stream: lists that arrive in pieces are read once they are whole.
#include "repair/ProgressChunk.h"

#include <gtest/gtest.h>

using repair::ProgressReading;
using repair::ProgressStream;

namespace {

QString xmlList(const QString& body) {
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n") +
           body + QStringLiteral("</dict>\n</plist>\n");
}

QString percent(int value) {
    return xmlList(QStringLiteral("<key>PercentComplete</key><real>%1</real>\n").arg(value));
}

TEST(ProgressStream, EveryCutOfTheStreamGivesTheSameReadings) {
    const QString end =
        xmlList(QStringLiteral("<key>PercentComplete</key><real>100</real><key>End</key><true/>"));
    const QString stream = percent(10) + percent(20) + QStringLiteral("\xfffd noise\n") + end;
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
    const QString head = percent(30).first(40);
    EXPECT_TRUE(reader.read(head).empty());
    reader.reset();
    EXPECT_TRUE(reader.read(percent(30).sliced(40)).empty()); // the head belonged to the run before

    // An unfinished list longer than the bound is dropped; the stream goes on with the next one.
    EXPECT_TRUE(reader.read(QStringLiteral("<?xml ") + QString(ProgressStream::kMaxHeldBack, u'x')).empty());
    EXPECT_EQ(reader.read(percent(40)), (std::vector<ProgressReading>{{40, false, {}}}));

    // Old-style lists are read as the chunk holds them.
    EXPECT_EQ(reader.read(QStringLiteral("{ PercentComplete = 50; }")),
              (std::vector<ProgressReading>{{50, false, {}}}));
}

} // namespace
