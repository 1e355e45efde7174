#include "plist/PropertyList.h"
#include "plist/Readers.h"

#include <cmath>

namespace plist {
namespace detail {
namespace {

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

qsizetype skipDigits(QStringView text, qsizetype i) {
    while (i < text.size() && isDigit(text[i]))
        ++i;
    return i;
}

bool isSign(QChar c) {
    return c == u'+' || c == u'-';
}

} // namespace

qsizetype decimalPrefixLength(QStringView text) {
    qsizetype i = 0;
    if (i < text.size() && isSign(text[i]))
        ++i;
    const qsizetype intStart = i;
    i = skipDigits(text, i);
    bool digits = i > intStart;
    if (i < text.size() && text[i] == u'.') {
        const qsizetype fracEnd = skipDigits(text, i + 1);
        if (digits || fracEnd > i + 1) {
            digits = true;
            i = fracEnd;
        }
    }
    if (!digits)
        return 0;
    // An exponent counts only when at least one digit follows it.
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        qsizetype e = i + 1;
        if (e < text.size() && isSign(text[e]))
            ++e;
        const qsizetype expEnd = skipDigits(text, e);
        if (expEnd > e)
            i = expEnd;
    }
    return i;
}

double decimalToDouble(QStringView number) {
    // QStringView::toDouble always reads the C locale's notation. On overflow it gives an infinity and
    // on underflow a zero, each with ok false, which is the reading wanted here.
    bool ok = false;
    return number.toDouble(&ok);
}

} // namespace detail

double doubleValue(QStringView text) {
    qsizetype start = 0;
    while (start < text.size() && text[start].isSpace())
        ++start;
    const QStringView rest = text.sliced(start);
    const qsizetype length = detail::decimalPrefixLength(rest);
    return length ? detail::decimalToDouble(rest.first(length)) : 0.0;
}

bool boolValue(QStringView text) {
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    while (i < text.size() && text[i] == u'0')
        ++i;
    if (i == text.size())
        return false;
    const QChar c = text[i];
    return c == u'Y' || c == u'y' || c == u'T' || c == u't' || (c >= u'1' && c <= u'9');
}

double doubleValue(const Value* value) {
    if (!value)
        return 0.0;
    switch (value->type()) {
    case Value::Type::Real:
        return value->real();
    case Value::Type::Integer:
        return static_cast<double>(value->integer());
    case Value::Type::Boolean:
        return value->boolean() ? 1.0 : 0.0;
    case Value::Type::String:
        return doubleValue(QStringView(value->text()));
    default:
        return 0.0;
    }
}

bool boolValue(const Value* value) {
    if (!value)
        return false;
    switch (value->type()) {
    case Value::Type::Real:
        return value->real() != 0.0 && !std::isnan(value->real());
    case Value::Type::Integer:
        return value->integer() != 0;
    case Value::Type::Boolean:
        return value->boolean();
    case Value::Type::String:
        return boolValue(QStringView(value->text()));
    default:
        return false;
    }
}

} // namespace plist
