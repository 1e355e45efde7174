#include "update/VersionComparator.h"

#include <cstddef>
#include <vector>

namespace update {
namespace {

enum class Kind { Number, Separator, Text };

struct Token {
    Kind kind;
    QStringView text;
};

bool isAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

Kind kindOf(QChar c) {
    if (isAsciiDigit(c))
        return Kind::Number;
    return c == u'.' ? Kind::Separator : Kind::Text;
}

std::vector<Token> tokenize(QStringView version) {
    version = version.trimmed();
    std::vector<Token> tokens;
    qsizetype start = 0;
    for (qsizetype i = 1; i <= version.size(); ++i) {
        const Kind kind = kindOf(version[start]);
        // Every dot is a token of its own; digits and text run on.
        if (i < version.size() && kind != Kind::Separator && kindOf(version[i]) == kind)
            continue;
        tokens.push_back({kind, version.mid(start, i - start)});
        start = i;
    }
    return tokens;
}

// Digit runs compared by value without converting them, so no length overflows.
std::weak_ordering compareNumbers(QStringView a, QStringView b) {
    while (a.size() > 1 && a.front() == u'0')
        a = a.mid(1);
    while (b.size() > 1 && b.front() == u'0')
        b = b.mid(1);
    if (a.size() != b.size())
        return a.size() <=> b.size();
    const int c = a.compare(b);
    return c <=> 0;
}

bool isZero(const Token& t) {
    if (t.kind != Kind::Number)
        return false;
    for (QChar c : t.text)
        if (c != u'0')
            return false;
    return true;
}

// The longer version has tokens left over. It is equivalent if they are only separators and zeros,
// older if the first other token is text (a pre-release), newer otherwise.
std::weak_ordering compareRest(const std::vector<Token>& longer, std::size_t from) {
    for (std::size_t i = from; i < longer.size(); ++i) {
        if (longer[i].kind == Kind::Separator || isZero(longer[i]))
            continue;
        return longer[i].kind == Kind::Text ? std::weak_ordering::less : std::weak_ordering::greater;
    }
    return std::weak_ordering::equivalent;
}

} // namespace

std::weak_ordering VersionComparator::compare(QStringView a, QStringView b) {
    const auto ta = tokenize(a);
    const auto tb = tokenize(b);
    const std::size_t common = std::min(ta.size(), tb.size());
    for (std::size_t i = 0; i < common; ++i) {
        const Token& x = ta[i];
        const Token& y = tb[i];
        if (x.kind == y.kind) {
            std::weak_ordering order = std::weak_ordering::equivalent;
            if (x.kind == Kind::Number)
                order = compareNumbers(x.text, y.text);
            else if (x.kind == Kind::Text)
                order = x.text.compare(y.text) <=> 0;
            if (order != 0)
                return order;
            continue;
        }
        // Kinds differ: text is a pre-release, older than anything else; a number outranks a separator.
        if (x.kind == Kind::Text)
            return std::weak_ordering::less;
        if (y.kind == Kind::Text)
            return std::weak_ordering::greater;
        return x.kind == Kind::Number ? std::weak_ordering::greater : std::weak_ordering::less;
    }
    if (ta.size() > tb.size())
        return compareRest(ta, common);
    if (tb.size() > ta.size())
        return 0 <=> compareRest(tb, common);
    return std::weak_ordering::equivalent;
}

} // namespace update
