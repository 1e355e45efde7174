// The old-style text form: { key = value; }, ( value, value ), "quoted" and unquoted strings, <hex data>,
// and the strings-file form, a dictionary's entries without the braces.
#include "plist/Readers.h"

#include <string_view>
#include <utility>

namespace plist::detail {
namespace {

bool isUnquotedChar(QChar c) {
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'_' ||
           u == u'$' || u == u'/' || u == u':' || u == u'.' || u == u'-';
}

bool isQuote(QChar c) {
    return c == u'"' || c == u'\'';
}

int hexDigitValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// A recursive-descent reader over text[0, size). Every function returns false on failure, with the
// kind of failure in m_outcome; the end of text is always a cut-off.
class Reader {
public:
    Reader(QStringView text, qsizetype from)
        : m_text(text)
        , m_pos(from) {}

    TextList readList() {
        Value value;
        bool ok = false;
        const QChar c = m_text[m_pos];
        if (c == u'{') {
            ++m_pos;
            ok = readDictionary(value, 1);
        } else if (c == u'(') {
            ++m_pos;
            ok = readArray(value, 1);
        } else {
            ok = readStringsFile(value);
        }
        if (!ok)
            return {m_outcome, m_pos, Value()};
        return {Outcome::Complete, m_pos, std::move(value)};
    }

private:
    bool atEnd() const { return m_pos >= m_text.size(); }

    bool malformed() {
        m_outcome = Outcome::Malformed;
        return false;
    }

    bool cutOff() {
        m_outcome = Outcome::CutOff;
        m_pos = m_text.size();
        return false;
    }

    // Skips white space and comments; false (cut off) when the text ends there.
    bool skipToToken() {
        const auto next = skipTextSpace(m_text, m_pos);
        if (!next || *next >= m_text.size())
            return cutOff();
        m_pos = *next;
        return true;
    }

    bool expect(QChar c) {
        if (!skipToToken())
            return false;
        if (m_text[m_pos] != c)
            return malformed();
        ++m_pos;
        return true;
    }

    // A dictionary's entries up to the closing brace; the opening brace is already consumed.
    bool readDictionary(Value& out, int depth) {
        if (depth > kMaxDepth)
            return malformed();
        std::vector<DictionaryEntry> entries;
        for (;;) {
            if (!skipToToken())
                return false;
            if (m_text[m_pos] == u'}') {
                ++m_pos;
                break;
            }
            DictionaryEntry entry;
            if (!readEntry(entry, depth))
                return false;
            entries.push_back(std::move(entry));
        }
        out = Value::fromDictionary(std::move(entries));
        return true;
    }

    // key = value ;  (at a token)
    bool readEntry(DictionaryEntry& entry, int depth) {
        if (!readString(entry.key) || !expect(u'=') || !skipToToken() || !readValue(entry.value, depth))
            return false;
        return expect(u';');
    }

    // Values separated by commas, a trailing comma allowed, up to the closing parenthesis.
    bool readArray(Value& out, int depth) {
        if (depth > kMaxDepth)
            return malformed();
        std::vector<Value> elements;
        if (!skipToToken())
            return false;
        while (m_text[m_pos] != u')') {
            Value element;
            if (!readValue(element, depth))
                return false;
            elements.push_back(std::move(element));
            if (!skipToToken())
                return false;
            if (m_text[m_pos] == u',') {
                ++m_pos;
                if (!skipToToken())
                    return false;
            } else if (m_text[m_pos] != u')') {
                return malformed();
            }
        }
        ++m_pos;
        out = Value::fromArray(std::move(elements));
        return true;
    }

    // Entries until the token after a `;` cannot begin another key.
    bool readStringsFile(Value& out) {
        std::vector<DictionaryEntry> entries;
        for (;;) {
            DictionaryEntry entry;
            if (!readEntry(entry, 1))
                return false;
            entries.push_back(std::move(entry));
            const auto next = skipTextSpace(m_text, m_pos);
            if (!next || *next >= m_text.size())
                break;
            const QChar c = m_text[*next];
            if (!isQuote(c) && !isUnquotedChar(c))
                break;
            m_pos = *next;
        }
        out = Value::fromDictionary(std::move(entries));
        return true;
    }

    // Any value, at a token. Nested containers are one level deeper than the container holding them.
    bool readValue(Value& out, int depth) {
        const QChar c = m_text[m_pos];
        if (c == u'{') {
            ++m_pos;
            return readDictionary(out, depth + 1);
        }
        if (c == u'(') {
            ++m_pos;
            return readArray(out, depth + 1);
        }
        if (c == u'<') {
            ++m_pos;
            QByteArray bytes;
            if (!readData(bytes))
                return false;
            out = Value::fromData(std::move(bytes));
            return true;
        }
        QString text;
        if (!readString(text))
            return false;
        out = Value::fromString(std::move(text));
        return true;
    }

    bool readString(QString& out) {
        const QChar c = m_text[m_pos];
        if (isQuote(c)) {
            ++m_pos;
            return readQuoted(c, out);
        }
        if (!isUnquotedChar(c))
            return malformed();
        const qsizetype start = m_pos;
        while (m_pos < m_text.size() && isUnquotedChar(m_text[m_pos]))
            ++m_pos;
        out = m_text.sliced(start, m_pos - start).toString();
        return true;
    }

    bool readQuoted(QChar quote, QString& out) {
        for (;;) {
            // Copy plain runs in one go; stop at the closing quote or an escape.
            const qsizetype start = m_pos;
            while (m_pos < m_text.size() && m_text[m_pos] != quote && m_text[m_pos] != u'\\')
                ++m_pos;
            out.append(m_text.sliced(start, m_pos - start));
            if (atEnd())
                return cutOff();
            if (m_text[m_pos++] == quote)
                return true;
            if (atEnd())
                return cutOff();
            readEscape(out);
        }
    }

    // The character after a backslash. \U takes up to four hex digits (a UTF-16 unit), a digit up to
    // three octal digits (a Latin-1 character); any other character stands for itself, except the
    // C control letters.
    void readEscape(QString& out) {
        static constexpr std::u16string_view kLetters = u"abfnrtv";
        static constexpr std::u16string_view kControls = u"\a\b\f\n\r\t\v";
        const QChar c = m_text[m_pos++];
        if (const auto i = kLetters.find(c.unicode()); i != std::u16string_view::npos) {
            out.append(QChar(kControls[i]));
            return;
        }
        if (c == u'U') {
            char16_t unit = 0;
            int digits = 0;
            while (digits < 4 && !atEnd() && hexDigitValue(m_text[m_pos]) >= 0) {
                unit = static_cast<char16_t>(unit * 16 + hexDigitValue(m_text[m_pos++]));
                ++digits;
            }
            out.append(digits ? QChar(unit) : c);
            return;
        }
        if (c >= u'0' && c <= u'7') {
            int code = c.unicode() - u'0';
            for (int i = 1; i < 3 && !atEnd() && m_text[m_pos] >= u'0' && m_text[m_pos] <= u'7'; ++i)
                code = code * 8 + (m_text[m_pos++].unicode() - u'0');
            out.append(QChar(static_cast<char16_t>(code)));
            return;
        }
        out.append(c);
    }

    // Hex digit pairs, white space between them allowed, up to `>`.
    bool readData(QByteArray& out) {
        int high = -1;
        for (;; ++m_pos) {
            if (atEnd())
                return cutOff();
            const QChar c = m_text[m_pos];
            if (c == u'>') {
                ++m_pos;
                if (high >= 0)
                    return malformed(); // an odd number of digits
                return true;
            }
            if (c.isSpace())
                continue;
            const int digit = hexDigitValue(c);
            if (digit < 0)
                return malformed();
            if (high < 0) {
                high = digit;
            } else {
                out.append(static_cast<char>(high * 16 + digit));
                high = -1;
            }
        }
    }

    QStringView m_text;
    qsizetype m_pos;
    Outcome m_outcome = Outcome::Malformed;
};

} // namespace

bool canStartTextList(QChar c) {
    return c == u'{' || c == u'(' || isQuote(c) || isUnquotedChar(c);
}

std::optional<qsizetype> skipTextSpace(QStringView text, qsizetype from) {
    qsizetype i = from;
    const qsizetype n = text.size();
    while (i < n) {
        if (text[i].isSpace()) {
            ++i;
        } else if (text[i] == u'/' && i + 1 < n && text[i + 1] == u'/') {
            while (i < n && text[i] != u'\n' && text[i] != u'\r')
                ++i;
        } else if (text[i] == u'/' && i + 1 < n && text[i + 1] == u'*') {
            const qsizetype close = text.indexOf(u"*/", i + 2);
            if (close < 0)
                return std::nullopt;
            i = close + 2;
        } else {
            break;
        }
    }
    return i;
}

TextList readTextList(QStringView text, qsizetype from) {
    return Reader(text, from).readList();
}

} // namespace plist::detail
