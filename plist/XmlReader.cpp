// The XML form: where a list begins and ends in a text, and reading one list with QXmlStreamReader.
#include "plist/Readers.h"

#include <QXmlStreamReader>
#include <cmath>
#include <limits>
#include <utility>

namespace plist::detail {
namespace {

enum class Markup { None, Declaration, DocumentType, PlistTag };

bool isXmlSpace(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

// Whether text continues at `at` with prefix followed by one of the characters in `next` (or by the end
// of text, which leaves the question open and so counts as a match).
bool startsWithThen(QStringView text, qsizetype at, QStringView prefix, QStringView next) {
    if (!text.sliced(at).startsWith(prefix))
        return false;
    const qsizetype after = at + prefix.size();
    return after >= text.size() || isXmlSpace(text[after]) || next.contains(text[after]);
}

Markup listMarkupAt(QStringView text, qsizetype at) {
    if (text[at] != u'<' || at + 1 >= text.size())
        return Markup::None;
    if (startsWithThen(text, at, u"<?xml", u"?"))
        return Markup::Declaration;
    if (startsWithThen(text, at, u"<!DOCTYPE", u""))
        return Markup::DocumentType;
    if (startsWithThen(text, at, u"<plist", u">/"))
        return Markup::PlistTag;
    return Markup::None;
}

// No element of a property list needs more attributes than this; QXmlStreamReader's check for repeated
// attributes takes time quadratic in their number, so a tag with more is refused before it gets there.
constexpr int kMaxAttributes = 16;

struct Scan {
    Outcome outcome;
    qsizetype end;
    bool tooManyAttributes = false;
};

// A tag from its `<` to just past its `>`, across quoted attribute values. A `<` before the tag's end is
// never part of a well-formed tag: the tag is malformed and reading resumes at that `<`.
Scan scanTag(QStringView text, qsizetype at) {
    QChar quote;
    int attributes = 0;
    for (qsizetype i = at + 1; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'<')
            return {Outcome::Malformed, i};
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (c == u'=') {
            ++attributes;
        } else if (c == u'>') {
            return {Outcome::Complete, i + 1, attributes > kMaxAttributes};
        }
    }
    return {Outcome::CutOff, text.size()};
}

// A document type declaration from its `<` to just past its `>`; notes whether it has an internal subset.
Scan scanDocumentType(QStringView text, qsizetype at, bool& hasSubset) {
    QChar quote;
    bool inSubset = false;
    for (qsizetype i = at + 1; i < text.size(); ++i) {
        const QChar c = text[i];
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (inSubset) {
            if (c == u']')
                inSubset = false;
        } else if (c == u'[') {
            inSubset = hasSubset = true;
        } else if (c == u'<') {
            return {Outcome::Malformed, i};
        } else if (c == u'>') {
            return {Outcome::Complete, i + 1};
        }
    }
    return {Outcome::CutOff, text.size()};
}

// Reads one list from the token stream. Each function returns false as soon as the input is not a
// well-formed property list; the reader's own errors surface as Invalid tokens.
class ListReader {
public:
    // Given a QString, the reader keeps to it and ignores the encoding the declaration names: the text
    // is already decoded, and reading its bytes as, say, ISO-8859-1 would garble every non-ASCII letter.
    explicit ListReader(QStringView list)
        : m_reader(list.toString()) {
        m_reader.setNamespaceProcessing(false);
    }

    std::optional<Value> read() {
        if (!readProlog())
            return std::nullopt;
        // Inside <plist>: one value, or none at all (an empty list yields nothing).
        if (!nextSignificant())
            return std::nullopt;
        if (m_token == QXmlStreamReader::EndElement)
            return std::nullopt;
        Value value;
        if (m_token != QXmlStreamReader::StartElement || !readValue(value, 0) || !nextSignificant() ||
            m_token != QXmlStreamReader::EndElement)
            return std::nullopt;
        return value;
    }

private:
    // Up to and including the <plist> start tag.
    bool readProlog() {
        for (;;) {
            switch (m_reader.readNext()) {
            case QXmlStreamReader::StartDocument:
            case QXmlStreamReader::Comment:
            case QXmlStreamReader::ProcessingInstruction:
                continue;
            case QXmlStreamReader::DTD:
                // The scan before already refused internal subsets; this guards the reader's own view.
                if (!m_reader.entityDeclarations().isEmpty() || !m_reader.notationDeclarations().isEmpty())
                    return false;
                continue;
            case QXmlStreamReader::Characters:
                if (!m_reader.isWhitespace())
                    return false;
                continue;
            case QXmlStreamReader::StartElement:
                return m_reader.name() == u"plist";
            default:
                return false;
            }
        }
    }

    // The next token that is not a comment, a processing instruction or white space between elements;
    // false for anything else than a start or end tag.
    bool nextSignificant() {
        for (;;) {
            m_token = m_reader.readNext();
            switch (m_token) {
            case QXmlStreamReader::Comment:
            case QXmlStreamReader::ProcessingInstruction:
                continue;
            case QXmlStreamReader::Characters:
                if (!m_reader.isWhitespace())
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

    // The character content of the current element up to its end tag; false if it holds an element or
    // an entity reference the reader did not resolve.
    bool readText(QString& out) {
        for (;;) {
            switch (m_reader.readNext()) {
            case QXmlStreamReader::Characters:
                out.append(m_reader.text());
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

    // The value whose start tag is the current token, at a nesting depth of the enclosing containers.
    bool readValue(Value& out, int depth) {
        const QStringView name = m_reader.name();
        if (name == u"dict")
            return readDictionary(out, depth + 1);
        if (name == u"array")
            return readArray(out, depth + 1);
        enum { String, Real, Integer, True, False, Date, Data } kind;
        if (name == u"string")
            kind = String;
        else if (name == u"real")
            kind = Real;
        else if (name == u"integer")
            kind = Integer;
        else if (name == u"true")
            kind = True;
        else if (name == u"false")
            kind = False;
        else if (name == u"date")
            kind = Date;
        else if (name == u"data")
            kind = Data;
        else
            return false;
        QString text;
        if (!readText(text))
            return false;
        switch (kind) {
        case String:
            out = Value::fromString(std::move(text));
            return true;
        case Real:
            return readReal(text, out);
        case Integer:
            return readInteger(text, out);
        case True:
        case False:
            if (!text.trimmed().isEmpty())
                return false;
            out = Value::fromBoolean(kind == True);
            return true;
        case Date:
            return readDate(text, out);
        case Data:
            return readData(text, out);
        }
        return false;
    }

    bool readDictionary(Value& out, int depth) {
        if (depth > kMaxDepth)
            return false;
        std::vector<DictionaryEntry> entries;
        for (;;) {
            if (!nextSignificant())
                return false;
            if (m_token == QXmlStreamReader::EndElement)
                break;
            DictionaryEntry entry;
            if (m_reader.name() != u"key" || !readText(entry.key) || !nextSignificant() ||
                m_token != QXmlStreamReader::StartElement || !readValue(entry.value, depth))
                return false;
            entries.push_back(std::move(entry));
        }
        out = Value::fromDictionary(std::move(entries));
        return true;
    }

    bool readArray(Value& out, int depth) {
        if (depth > kMaxDepth)
            return false;
        std::vector<Value> elements;
        for (;;) {
            if (!nextSignificant())
                return false;
            if (m_token == QXmlStreamReader::EndElement)
                break;
            Value element;
            if (!readValue(element, depth))
                return false;
            elements.push_back(std::move(element));
        }
        out = Value::fromArray(std::move(elements));
        return true;
    }

    // A decimal number, or one of the names of infinity and NaN, with white space around it.
    static bool readReal(const QString& text, Value& out) {
        const QStringView t = QStringView(text).trimmed();
        if (!t.isEmpty() && decimalPrefixLength(t) == t.size()) {
            out = Value::fromReal(decimalToDouble(t));
            return true;
        }
        const QStringView magnitude = (t.startsWith(u'+') || t.startsWith(u'-')) ? t.sliced(1) : t;
        const bool negative = t.startsWith(u'-');
        constexpr double inf = std::numeric_limits<double>::infinity();
        if (magnitude.compare(u"inf", Qt::CaseInsensitive) == 0 ||
            magnitude.compare(u"infinity", Qt::CaseInsensitive) == 0) {
            out = Value::fromReal(negative ? -inf : inf);
            return true;
        }
        if (magnitude.compare(u"nan", Qt::CaseInsensitive) == 0) {
            out = Value::fromReal(std::numeric_limits<double>::quiet_NaN());
            return true;
        }
        return false;
    }

    // A decimal integer with an optional sign that fits in 64 bits.
    static bool readInteger(const QString& text, Value& out) {
        const QStringView t = QStringView(text).trimmed();
        qsizetype i = 0;
        const bool negative = i < t.size() && t[i] == u'-';
        if (i < t.size() && (t[i] == u'-' || t[i] == u'+'))
            ++i;
        if (i == t.size())
            return false;
        // Accumulate as a negative number: its range reaches one further than the positive one.
        std::int64_t value = 0;
        constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::lowest();
        for (; i < t.size(); ++i) {
            const char16_t u = t[i].unicode();
            if (u < u'0' || u > u'9')
                return false;
            const int digit = u - u'0';
            if (value < (lowest + digit) / 10)
                return false;
            value = value * 10 - digit;
        }
        if (!negative) {
            if (value == lowest)
                return false;
            value = -value;
        }
        out = Value::fromInteger(value);
        return true;
    }

    // YYYY-MM-DDTHH:MM:SSZ, in UTC.
    static bool readDate(const QString& text, Value& out) {
        const QStringView t = QStringView(text).trimmed();
        if (t.size() != 20 || t[4] != u'-' || t[7] != u'-' || t[10] != u'T' || t[13] != u':' ||
            t[16] != u':' || t[19] != u'Z')
            return false;
        auto field = [&t](qsizetype at, qsizetype length, int& value) {
            value = 0;
            for (qsizetype i = at; i < at + length; ++i) {
                if (t[i] < u'0' || t[i] > u'9')
                    return false;
                value = value * 10 + (t[i].unicode() - u'0');
            }
            return true;
        };
        int year, month, day, hour, minute, second;
        if (!field(0, 4, year) || !field(5, 2, month) || !field(8, 2, day) || !field(11, 2, hour) ||
            !field(14, 2, minute) || !field(17, 2, second))
            return false;
        static constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        if (month < 1 || month > 12 || day < 1 || day > kDaysInMonth[month - 1] + (month == 2 && leap) ||
            hour > 23 || minute > 59 || second > 59)
            return false;
        // Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
        const int y = year - (month <= 2);
        const int era = (y >= 0 ? y : y - 399) / 400;
        const int yearOfEra = y - era * 400;
        const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
        const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
        const double days = era * 146097.0 + dayOfEra - 719468.0;
        out = Value::fromDate(days * 86400.0 + hour * 3600.0 + minute * 60.0 + second);
        return true;
    }

    // Base64, white space anywhere.
    static bool readData(const QString& text, Value& out) {
        QByteArray encoded;
        encoded.reserve(text.size());
        for (const QChar c : text) {
            if (isXmlSpace(c))
                continue;
            if (c.unicode() > 0x7f)
                return false;
            encoded.append(static_cast<char>(c.unicode()));
        }
        auto decoded = QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return false;
        out = Value::fromData(std::move(*decoded));
        return true;
    }

    QXmlStreamReader m_reader;
    QXmlStreamReader::TokenType m_token = QXmlStreamReader::NoToken;
};

} // namespace

bool isXmlListStart(QStringView text, qsizetype at) {
    return listMarkupAt(text, at) != Markup::None;
}

qsizetype nextXmlListStart(QStringView text, qsizetype from) {
    for (qsizetype i = text.indexOf(u'<', from); i >= 0; i = text.indexOf(u'<', i + 1)) {
        if (isXmlListStart(text, i))
            return i;
    }
    return text.size();
}

XmlExtent findXmlListEnd(QStringView text, qsizetype start) {
    bool inBody = false;
    bool seenDocumentType = false;
    bool hasSubset = false;
    bool tooManyAttributes = false;
    auto result = [&](Outcome outcome, qsizetype end) {
        return XmlExtent{outcome, end, hasSubset || tooManyAttributes};
    };
    auto skipPast = [&text](qsizetype from, QStringView close) -> qsizetype {
        const qsizetype at = text.indexOf(close, from);
        return at < 0 ? -1 : at + close.size();
    };

    for (qsizetype i = start;;) {
        i = text.indexOf(u'<', i);
        if (i < 0)
            return result(Outcome::CutOff, text.size());
        const QStringView rest = text.sliced(i);
        const Markup markup = listMarkupAt(text, i);
        if (i != start && (markup == Markup::Declaration ||
                           (markup == Markup::DocumentType && (inBody || seenDocumentType)) ||
                           (markup == Markup::PlistTag && inBody)))
            return result(Outcome::Malformed, i); // another list begins: this one was cut off
        qsizetype next = -1;
        if (rest.startsWith(u"<!--")) {
            next = skipPast(i + 4, u"-->");
        } else if (rest.startsWith(u"<![CDATA[")) {
            next = skipPast(i + 9, u"]]>");
        } else if (rest.startsWith(u"<?")) {
            next = skipPast(i + 2, u"?>");
        } else if (markup == Markup::DocumentType) {
            seenDocumentType = true;
            const Scan scan = scanDocumentType(text, i, hasSubset);
            if (scan.outcome != Outcome::Complete)
                return result(scan.outcome, scan.end);
            next = scan.end;
        } else {
            const Scan scan = scanTag(text, i);
            if (scan.outcome != Outcome::Complete)
                return result(scan.outcome, scan.end);
            next = scan.end;
            tooManyAttributes = tooManyAttributes || scan.tooManyAttributes;
            const bool selfClosing = text[next - 2] == u'/';
            if (markup == Markup::PlistTag) {
                if (selfClosing)
                    return result(Outcome::Complete, next);
                inBody = true;
            } else if (inBody && startsWithThen(text, i, u"</plist", u">")) {
                return result(Outcome::Complete, next);
            }
        }
        if (next < 0)
            return result(Outcome::CutOff, text.size());
        i = next;
    }
}

std::optional<Value> readXmlList(QStringView list) {
    return ListReader(list).read();
}

} // namespace plist::detail
