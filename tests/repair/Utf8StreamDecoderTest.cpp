#include "repair/Utf8StreamDecoder.h"

#include <gtest/gtest.h>

namespace {

// One decoder serves every stream: finish() leaves it as new.
repair::Utf8StreamDecoder decoder;

QString decodeInPieces(const QByteArray& bytes, std::initializer_list<qsizetype> cuts) {
    QString text;
    qsizetype from = 0;
    for (const qsizetype cut : cuts) {
        text += decoder.decode(QByteArrayView(bytes).sliced(from, cut - from));
        from = cut;
    }
    text += decoder.decode(QByteArrayView(bytes).sliced(from));
    return text + decoder.finish();
}

// However a stream is cut, the pieces give the text of the whole: characters of two, three and four
// bytes, invalid and truncated sequences, a byte-order mark.
TEST(Utf8StreamDecoder, EveryCutGivesTheTextOfTheWholeStream) {
    const QByteArray stream = "\xEF\xBB\xBF"
                              "a\xC3\xA9\xE2\x80\x9C\xF0\x9F\x98\x80\xFF"
                              "b\xE2\x80"
                              "c\xC3\n\xF0\x9F";
    const QString whole =
        QStringLiteral("\uFEFFa\u00E9\u201C\U0001F600\uFFFDb\uFFFD\uFFFDc\uFFFD\n\uFFFD\uFFFD");
    for (qsizetype i = 0; i <= stream.size(); ++i) // a cut at either end leaves a piece empty
        for (qsizetype j = i; j <= stream.size(); ++j)
            EXPECT_EQ(decodeInPieces(stream, {i, j}), whole) << "cuts at " << i << ", " << j;
}

} // namespace
