#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <memory>
#include <variant>
#include <vector>

// Reading property lists from text: the XML form (plist 1.0) and the old-style text form, including the
// strings-file form `"key" = "value";`, plus the lenient number and boolean reading of text values.
// Everything here works on outside input: nothing throws, nothing depends on the process locale, and
// the limits below bound the work done for one call.
namespace plist {

// Longest text parseAll reads, in UTF-16 code units (8 MiB of text); a longer text yields nothing.
inline constexpr qsizetype kMaxTextLength = qsizetype{8} * 1024 * 1024;
// Deepest nesting of arrays and dictionaries in one list (the top-level container counts as 1);
// a deeper list yields nothing.
inline constexpr int kMaxDepth = 64;

struct DictionaryEntry;

// An immutable property-list value. A default-constructed Value is absent (holds nothing).
// Copies are cheap: arrays and dictionaries share their elements.
class Value {
public:
    enum class Type { Absent, String, Real, Integer, Boolean, Date, Data, Array, Dictionary };

    Value() = default;
    static Value fromString(QString text);
    static Value fromReal(double number);
    static Value fromInteger(std::int64_t number);
    static Value fromBoolean(bool flag);
    // A moment as seconds since 1970-01-01 00:00:00 UTC.
    static Value fromDate(double secondsSince1970);
    static Value fromData(QByteArray bytes);
    static Value fromArray(std::vector<Value> elements);
    // Entries are kept in key order; of several entries with the same key the last one given wins.
    static Value fromDictionary(std::vector<DictionaryEntry> entries);

    Type type() const { return static_cast<Type>(m_data.index()); }
    bool isAbsent() const { return type() == Type::Absent; }
    bool isString() const { return type() == Type::String; }
    bool isReal() const { return type() == Type::Real; }
    bool isInteger() const { return type() == Type::Integer; }
    bool isBoolean() const { return type() == Type::Boolean; }
    bool isDate() const { return type() == Type::Date; }
    bool isData() const { return type() == Type::Data; }
    bool isArray() const { return type() == Type::Array; }
    bool isDictionary() const { return type() == Type::Dictionary; }

    // Each accessor gives the value when it is of that type, else an empty or zero result.
    QString text() const;
    double real() const;
    std::int64_t integer() const;
    bool boolean() const;
    double secondsSince1970() const;
    QByteArray bytes() const;
    const std::vector<Value>& elements() const;
    const std::vector<DictionaryEntry>& entries() const; // in key order

    // The entry of a dictionary under key; nullptr when this is not a dictionary or has no such key.
    const Value* find(QStringView key) const;

    friend bool operator==(const Value& a, const Value& b);

private:
    struct DateSeconds {
        double seconds;
    };
    using Elements = std::vector<Value>;
    using Entries = std::vector<DictionaryEntry>;
    // The order of the alternatives follows Type.
    using Data = std::variant<std::monostate, QString, double, std::int64_t, bool, DateSeconds, QByteArray,
                              std::shared_ptr<const Elements>, std::shared_ptr<const Entries>>;

    explicit Value(Data data)
        : m_data(std::move(data)) {}

    Data m_data;
};

struct DictionaryEntry {
    QString key;
    Value value;

    friend bool operator==(const DictionaryEntry&, const DictionaryEntry&) = default;
};

// Every complete top-level property list in text, in order. A text may hold several lists back to back,
// XML or old-style, with white space, comments or other text between them. Lists are found at these
// places: an XML list wherever it begins (`<?xml`, `<!DOCTYPE`, `<plist`); an old-style list (a `{…}`
// dictionary, a `(…)` array, or strings-file entries `key = value;`) at the start of the text or right
// after a complete list, white space and comments aside. Text that is none of these is skipped up to the
// next XML list, since it cannot be told apart from the tail of a list cut off at the front.
//
// A list cut off by the end of the text or by the start of another list, a malformed list, an XML list
// whose document type declares anything (entities are never expanded; an external DTD is only named,
// never fetched) or whose tags carry more than 16 attributes, and a list beyond the limits above yield
// nothing. The work is linear in the length of the text. Never throws.
std::vector<Value> parseAll(QStringView text);

// A number read from text: after leading white space, the longest prefix of the form
// [+|-] digits [. digits] [(e|E) [+|-] digits] with at least one digit in the mantissa; 0 when there is
// none. Too large a magnitude gives an infinity, too small a zero. Independent of the process locale.
double doubleValue(QStringView text);
// A boolean read from text: after leading white space, an optional sign and any zeros, true when the
// next character is Y, y, T, t or a digit 1-9.
bool boolValue(QStringView text);

// The number of a value: 0 for nullptr; a real or integer as itself; a boolean as 1 or 0; a string read
// by doubleValue(QStringView); 0 for anything else.
double doubleValue(const Value* value);
// The boolean of a value: false for nullptr; a real or integer is true when it is neither zero nor NaN;
// a boolean as itself; a string read by boolValue(QStringView); false for anything else.
bool boolValue(const Value* value);

} // namespace plist
