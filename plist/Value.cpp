#include "plist/PropertyList.h"

#include <algorithm>
#include <utility>

namespace plist {
namespace {

template <Value::Type type>
constexpr std::in_place_index_t<static_cast<std::size_t>(type)> slot{};

const std::vector<Value>& noElements() {
    static const std::vector<Value> empty;
    return empty;
}

const std::vector<DictionaryEntry>& noEntries() {
    static const std::vector<DictionaryEntry> empty;
    return empty;
}

} // namespace

Value Value::fromString(QString text) {
    return Value(Data(slot<Type::String>, std::move(text)));
}
Value Value::fromReal(double number) {
    return Value(Data(slot<Type::Real>, number));
}
Value Value::fromInteger(std::int64_t number) {
    return Value(Data(slot<Type::Integer>, number));
}
Value Value::fromBoolean(bool flag) {
    return Value(Data(slot<Type::Boolean>, flag));
}
Value Value::fromDate(double secondsSince1970) {
    return Value(Data(slot<Type::Date>, DateSeconds{secondsSince1970}));
}
Value Value::fromData(QByteArray bytes) {
    return Value(Data(slot<Type::Data>, std::move(bytes)));
}

Value Value::fromArray(std::vector<Value> elements) {
    return Value(Data(slot<Type::Array>, std::make_shared<const Elements>(std::move(elements))));
}

Value Value::fromDictionary(std::vector<DictionaryEntry> entries) {
    // A stable sort keeps entries with equal keys in the order given, so the last of each run wins.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const DictionaryEntry& a, const DictionaryEntry& b) { return a.key < b.key; });
    Entries unique;
    unique.reserve(entries.size());
    for (auto& entry : entries) {
        if (!unique.empty() && unique.back().key == entry.key)
            unique.back().value = std::move(entry.value);
        else
            unique.push_back(std::move(entry));
    }
    return Value(Data(slot<Type::Dictionary>, std::make_shared<const Entries>(std::move(unique))));
}

QString Value::text() const {
    const auto* s = std::get_if<QString>(&m_data);
    return s ? *s : QString();
}

double Value::real() const {
    const auto* d = std::get_if<double>(&m_data);
    return d ? *d : 0.0;
}

std::int64_t Value::integer() const {
    const auto* i = std::get_if<std::int64_t>(&m_data);
    return i ? *i : 0;
}

bool Value::boolean() const {
    const auto* b = std::get_if<bool>(&m_data);
    return b && *b;
}

double Value::secondsSince1970() const {
    const auto* d = std::get_if<DateSeconds>(&m_data);
    return d ? d->seconds : 0.0;
}

QByteArray Value::bytes() const {
    const auto* b = std::get_if<QByteArray>(&m_data);
    return b ? *b : QByteArray();
}

const std::vector<Value>& Value::elements() const {
    const auto* a = std::get_if<std::shared_ptr<const Elements>>(&m_data);
    return a ? **a : noElements();
}

const std::vector<DictionaryEntry>& Value::entries() const {
    const auto* d = std::get_if<std::shared_ptr<const Entries>>(&m_data);
    return d ? **d : noEntries();
}

const Value* Value::find(QStringView key) const {
    const auto& all = entries();
    const auto it =
        std::lower_bound(all.begin(), all.end(), key,
                         [](const DictionaryEntry& e, QStringView k) { return QStringView(e.key) < k; });
    if (it == all.end() || QStringView(it->key) != key)
        return nullptr;
    return &it->value;
}

bool operator==(const Value& a, const Value& b) {
    if (a.type() != b.type())
        return false;
    switch (a.type()) {
    case Value::Type::Absent:
        return true;
    case Value::Type::String:
        return a.text() == b.text();
    case Value::Type::Real:
        return a.real() == b.real();
    case Value::Type::Integer:
        return a.integer() == b.integer();
    case Value::Type::Boolean:
        return a.boolean() == b.boolean();
    case Value::Type::Date:
        return a.secondsSince1970() == b.secondsSince1970();
    case Value::Type::Data:
        return a.bytes() == b.bytes();
    case Value::Type::Array:
        return a.elements() == b.elements();
    case Value::Type::Dictionary:
        return a.entries() == b.entries();
    }
    return false;
}

} // namespace plist
