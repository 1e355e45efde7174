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
    // The first XML list start at or after the position it was last looked up for. No start lies
    // between that position and it, so it stays the answer until pos passes it; keeping it makes the
    // whole walk a single pass.
    qsizetype nextXml = -1;
    auto nextXmlFrom = [&](qsizetype from) {
        if (nextXml < from)
            nextXml = nextXmlListStart(text, from);
        return nextXml;
    };
    // Whether pos is where a list may begin: the start of the text or just after a complete list.
    // Elsewhere only XML lists are looked for.
    bool atBoundary = true;
    while (pos < n) {
        if (atBoundary) {
            atBoundary = false;
            // Old-style syntax, comments included, never runs into an XML list: the next XML list start
            // ends its text.
            const qsizetype limit = nextXmlFrom(pos);
            const QStringView textPart = text.first(limit);
            const auto token = skipTextSpace(textPart, pos);
            pos = token ? *token : limit;
            if (pos < limit && text.sliced(pos).startsWith(u"<!--")) {
                const qsizetype close = text.indexOf(u"-->", pos + 4);
                if (close < 0)
                    break; // everything after it is commentary
                pos = close + 3;
                atBoundary = true;
                continue;
            }
            if (pos < limit && text[pos] != u'<' && canStartTextList(text[pos])) {
                TextList list = readTextList(textPart, pos);
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

        pos = nextXmlFrom(pos);
        if (pos >= n)
            break;
        const XmlExtent extent = findXmlListEnd(text, pos);
        if (extent.outcome == Outcome::CutOff)
            break;
        if (extent.outcome == Outcome::Complete) {
            if (!extent.refused) {
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
