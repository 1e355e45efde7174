#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

namespace repair {

// Decodes a byte stream that arrives in pieces as UTF-8.
//
// A character split between two pieces comes out whole with the later piece; bytes that are not UTF-8
// become U+FFFD; a byte-order mark is kept as the character it is. The text of all pieces joined equals
// the decoding of all bytes at once.
//
// Qt's own stateful decoder is not used across pieces: Qt 6.4 loses the byte that follows an unfinished
// sequence held over from the previous piece when that sequence turns out to be invalid. Here an
// unfinished character is held back as bytes and decoded together with the next piece instead.
class Utf8StreamDecoder {
public:
    // The text of every complete character in the bytes held back so far and these; an unfinished
    // character at the end is held back for the next call.
    QString decode(QByteArrayView bytes);
    // The end of the stream: what is still held back, as U+FFFD; the decoder is then as new.
    QString finish();

private:
    QStringDecoder m_decoder{QStringDecoder::Utf8,
                             QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom};
    QByteArray m_unfinished;
};

} // namespace repair
