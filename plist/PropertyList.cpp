#include "plist/PropertyList.h"

#include "plist/Readers.h"

namespace plist {

using namespace detail;

std::vector<Value> parseAll(QStringView text) {
    std::vector<Value> lists;
    if (text.size() > kMaxTextLength)
        return lists;

    const qsizetype n = text.size();
    qsizetype pos = 0;
    // Whether pos is where a list may begin: the start of the text or just after a complete list.
    // Elsewhere only XML lists are looked for.
    bool atBoundary = true;
    while (pos < n) {
        if (atBoundary) {
            atBoundary = false;
            // Like an old-style list, an unterminated /* comment ends at the next XML list.
            const auto token = skipTextSpace(text, pos);
            if (!token)
                continue;
            pos = *token;
            if (pos < n && text.sliced(pos).startsWith(u"<!--")) {
                const qsizetype close = text.indexOf(u"-->", pos + 4);
                if (close < 0)
                    break; // everything after it is commentary
                pos = close + 3;
                atBoundary = true;
                continue;
            }
            if (pos < n && text[pos] != u'<' && canStartTextList(text[pos])) {
                // An old-style list never runs into an XML list: the next XML list start ends its text.
                const qsizetype limit = nextXmlListStart(text, pos);
                TextList list = readTextList(text.first(limit), pos);
                if (list.outcome == Outcome::Complete) {
                    lists.push_back(std::move(list.value));
                    pos = list.end;
                    atBoundary = true;
                } else {
                    pos = limit;
                }
                continue;
            }
        }

        pos = nextXmlListStart(text, pos);
        if (pos >= n)
            break;
        const XmlExtent extent = findXmlListEnd(text, pos);
        if (extent.outcome == Outcome::CutOff)
            break;
        if (extent.outcome == Outcome::Complete) {
            if (!extent.declaresSubset) {
                if (auto value = readXmlList(text.sliced(pos, extent.end - pos)))
                    lists.push_back(std::move(*value));
            }
            atBoundary = true;
        }
        pos = extent.end;
    }
    return lists;
}

} // namespace plist
