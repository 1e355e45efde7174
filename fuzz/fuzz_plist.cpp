// Property-list parsing of arbitrary text, read as UTF-8 the way the repair runner decodes the tool's
// output, and as raw UTF-16 to reach every code unit (lone surrogates, NULs). Besides the sanitizers,
// it checks what every parsed value promises.
#include "plist/PropertyList.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

void check(bool condition) {
    if (!condition)
        __builtin_trap();
}

// enclosing: the number of containers around value.
void visit(const plist::Value& value, int enclosing) {
    const int depth = enclosing + (value.isArray() || value.isDictionary() ? 1 : 0);
    check(depth <= plist::kMaxDepth);
    (void)plist::doubleValue(&value);
    (void)plist::boolValue(&value);
    if (value.isString()) {
        (void)plist::doubleValue(value.text());
        (void)plist::boolValue(value.text());
    }
    for (const auto& element : value.elements())
        visit(element, depth);
    const auto& entries = value.entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        // Keys are unique and ordered, and find reaches each entry.
        check(i == 0 || entries[i - 1].key < entries[i].key);
        check(value.find(entries[i].key) == &entries[i].value);
        visit(entries[i].value, depth);
    }
}

void parse(QStringView text) {
    for (const auto& list : plist::parseAll(text))
        visit(list, 0);
    (void)plist::doubleValue(text);
    (void)plist::boolValue(text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto length = static_cast<qsizetype>(size);
    parse(QString::fromUtf8(reinterpret_cast<const char*>(data), length));
    QString units(length / 2, Qt::Uninitialized); // the input need not be aligned for QChar
    std::memcpy(units.data(), data, static_cast<std::size_t>(units.size()) * sizeof(QChar));
    parse(units);
    return 0;
}
