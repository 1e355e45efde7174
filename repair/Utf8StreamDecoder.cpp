#include "repair/Utf8StreamDecoder.h"

namespace repair {
namespace {

// The number of bytes at the end of bytes that begin a multi-byte character whose continuation bytes have
// not all arrived yet: a lead byte followed by fewer continuation bytes than it announces.
qsizetype unfinishedLength(QByteArrayView bytes) {
    const qsizetype size = bytes.size();
    for (qsizetype back = 1; back <= 3 && back <= size; ++back) {
        const auto byte = static_cast<unsigned char>(bytes[size - back]);
        if ((byte & 0xC0) == 0x80)
            continue; // a continuation byte; its lead lies further back
        const qsizetype length = (byte & 0xE0) == 0xC0   ? 2
                                 : (byte & 0xF0) == 0xE0 ? 3
                                 : (byte & 0xF8) == 0xF0 ? 4
                                                         : 1;
        return length > back ? back : 0;
    }
    return 0;
}

} // namespace

QString Utf8StreamDecoder::decode(QByteArrayView bytes) {
    if (m_unfinished.isEmpty()) {
        const qsizetype held = unfinishedLength(bytes);
        m_unfinished = bytes.last(held).toByteArray();
        return m_decoder.decode(bytes.chopped(held));
    }
    // At most three held-back bytes: joining them to the new piece is cheap enough.
    QByteArray joined = m_unfinished;
    joined.append(bytes);
    const qsizetype held = unfinishedLength(joined);
    m_unfinished = joined.last(held);
    return m_decoder.decode(QByteArrayView(joined).chopped(held));
}

QString Utf8StreamDecoder::finish() {
    QString text = m_decoder.decode(m_unfinished);
    m_unfinished.clear();
    return text;
}

} // namespace repair
