#include "repair/ProgressChunk.h"

#include "core/CheckedConversion.h"
#include "plist/PropertyList.h"
#include "plist/Readers.h"

#include <QXmlStreamReader>
#include <algorithm>

namespace repair {
namespace {

using namespace plist::detail;

ProgressReading readingOf(const plist::Value* percent, const plist::Value* end, const plist::Value* message) {
    ProgressReading reading;
    if (percent)
        reading.percentComplete = varnel::truncatedOrNone<std::ptrdiff_t>(plist::doubleValue(percent));
    reading.end = plist::boolValue(end);
    if (message && message->isString())
        reading.message = message->text();
    return reading;
}

ProgressReading readingOf(const plist::Value& list) {
    return readingOf(list.find(u"PercentComplete"), list.find(u"End"), list.find(u"Message"));
}

} // namespace

// Reads the lists the tool writes (a dictionary of strings, reals and booleans) straight from the XML
// tokens into a reading, with one reader kept for the whole stream. It keeps to the full reader's rules
// for what it accepts; whatever else it meets (other types, nesting, an empty list, a malformed list) it
// leaves to the full reader, so both always agree.
class ProgressStream::QuickReader {
public:
    // The reading of one complete XML list; nullopt when the full reader must decide.
    std::optional<ProgressReading> read(QStringView list) {
        m_xml.clear();
        m_xml.setNamespaceProcessing(false);
        // Given text, the reader keeps to it whatever encoding the declaration names.
        m_xml.addData(list.toString());
        if (!readProlog() || !nextSignificant() || m_token != QXmlStreamReader::StartElement ||
            m_xml.name() != u"dict")
            return std::nullopt;
        plist::Value percent, end, message;
        bool hasPercent = false, hasEnd = false, hasMessage = false;
        for (;;) {
            if (!nextSignificant())
                return std::nullopt;
            if (m_token == QXmlStreamReader::EndElement)
                break;
            if (m_xml.name() != u"key" || !readText(m_key) || !nextSignificant() ||
                m_token != QXmlStreamReader::StartElement)
                return std::nullopt;
            plist::Value value;
            if (!readSimpleValue(value))
                return std::nullopt;
            if (m_key == u"PercentComplete") {
                percent = std::move(value);
                hasPercent = true;
            } else if (m_key == u"End") {
                end = std::move(value);
                hasEnd = true;
            } else if (m_key == u"Message") {
                message = std::move(value);
                hasMessage = true;
            }
        }
        if (!nextSignificant() || m_token != QXmlStreamReader::EndElement)
            return std::nullopt;
        return readingOf(hasPercent ? &percent : nullptr, hasEnd ? &end : nullptr,
                         hasMessage ? &message : nullptr);
    }

private:
    bool readProlog() {
        for (;;) {
            switch (m_xml.readNext()) {
            case QXmlStreamReader::StartDocument:
            case QXmlStreamReader::Comment:
            case QXmlStreamReader::ProcessingInstruction:
                continue;
            case QXmlStreamReader::DTD:
                if (!m_xml.entityDeclarations().isEmpty() || !m_xml.notationDeclarations().isEmpty())
                    return false;
                continue;
            case QXmlStreamReader::Characters:
                if (!m_xml.isWhitespace())
                    return false;
                continue;
            case QXmlStreamReader::StartElement:
                return m_xml.name() == u"plist";
            default:
                return false;
            }
        }
    }

    bool nextSignificant() {
        for (;;) {
            m_token = m_xml.readNext();
            switch (m_token) {
            case QXmlStreamReader::Comment:
            case QXmlStreamReader::ProcessingInstruction:
                continue;
            case QXmlStreamReader::Characters:
                if (!m_xml.isWhitespace())
                    return false;
                continue;
            case QXmlStreamReader::StartElement:
            case QXmlStreamReader::EndElement:
                return true;
            default:
                return false;
            }
        }
    }

    // The character content up to the current element's end tag, into out (its capacity kept).
    bool readText(QString& out) {
        out.resize(0);
        for (;;) {
            switch (m_xml.readNext()) {
            case QXmlStreamReader::Characters:
                out.append(m_xml.text());
                continue;
            case QXmlStreamReader::Comment:
            case QXmlStreamReader::ProcessingInstruction:
                continue;
            case QXmlStreamReader::EndElement:
                return true;
            default:
                return false;
            }
        }
    }

    // A string, a real written as a decimal number, or a boolean; false for anything else.
    bool readSimpleValue(plist::Value& out) {
        const QStringView name = m_xml.name();
        if (name == u"string") {
            QString text;
            if (!readText(text))
                return false;
            out = plist::Value::fromString(std::move(text));
            return true;
        }
        const bool real = name == u"real";
        const bool yes = name == u"true";
        if (!real && !yes && name != u"false")
            return false;
        if (!readText(m_text))
            return false;
        const QStringView text = QStringView(m_text).trimmed();
        if (!real) {
            out = plist::Value::fromBoolean(yes);
            return text.isEmpty();
        }
        if (text.isEmpty() || decimalPrefixLength(text) != text.size())
            return false; // infinity, NaN or not a number: the full reader knows
        out = plist::Value::fromReal(decimalToDouble(text));
        return true;
    }

    QXmlStreamReader m_xml;
    QXmlStreamReader::TokenType m_token = QXmlStreamReader::NoToken;
    QString m_key;
    QString m_text;
};

namespace {

// The start of an XML list's opening cut off at the end of text ("<", "<?xm", "<!DOC", "<pli"), at or
// after from; text.size() when there is none.
qsizetype unfinishedOpening(QStringView text, qsizetype from) {
    constexpr qsizetype kLongest = 8; // "<!DOCTYP"
    const qsizetype tailStart = std::max(from, text.size() - kLongest);
    const qsizetype at = text.sliced(tailStart).lastIndexOf(u'<');
    if (at < 0)
        return text.size();
    const QStringView tail = text.sliced(tailStart + at);
    for (const QStringView opening : {u"<?xml", u"<!DOCTYPE", u"<plist"})
        if (tail.size() < opening.size() && opening.startsWith(tail))
            return tailStart + at;
    return text.size();
}

} // namespace

// Walks the text as plist::parseAll does and turns every dictionary into a reading; returns where an XML
// list cut off by the end of the text begins (or a cut-off opening of one), text.size() when none is.
qsizetype ProgressStream::readLists(QStringView text, QuickReader& quick,
                                    std::vector<ProgressReading>& readings) {
    const Walk walk = walkLists(
        text,
        [&](plist::Value&& value) {
            if (value.isDictionary())
                readings.push_back(readingOf(value));
        },
        [&](QStringView list) {
            if (std::optional<ProgressReading> reading = quick.read(list))
                readings.push_back(std::move(*reading));
            else if (const std::optional<plist::Value> value = readXmlList(list);
                     value && value->isDictionary())
                readings.push_back(readingOf(*value));
        });
    if (walk.inComment)
        return text.size(); // everything after it is commentary
    if (walk.cutOffAt)
        return *walk.cutOffAt;
    return unfinishedOpening(text, walk.consumed);
}

ProgressStream::ProgressStream()
    : m_quick(std::make_unique<QuickReader>()) {}

ProgressStream::~ProgressStream() = default;

std::vector<ProgressReading> readProgressChunk(QStringView chunk) {
    return ProgressStream().readChunk(chunk);
}

std::vector<ProgressReading> ProgressStream::readChunk(QStringView chunk) {
    std::vector<ProgressReading> readings;
    readLists(chunk, *m_quick, readings);
    return readings;
}

std::vector<ProgressReading> ProgressStream::read(QStringView chunk) {
    QString joined;
    QStringView text = chunk;
    if (!m_heldBack.isEmpty()) {
        joined = m_heldBack;
        joined += chunk;
        m_heldBack.clear();
        text = joined;
    }
    std::vector<ProgressReading> readings;
    const qsizetype unfinished = readLists(text, *m_quick, readings);
    if (unfinished < text.size() && text.size() - unfinished <= kMaxHeldBack)
        m_heldBack = text.sliced(unfinished).toString();
    return readings;
}

} // namespace repair
