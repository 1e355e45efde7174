#pragma once

#include "plist/PropertyList.h"

#include <QStringView>
#include <optional>

// The pieces parseAll is made of: finding where lists begin and end, reading each form, and the number
// scanning shared with the lenient value reading. Internal to the library.
namespace plist::detail {

// Length of the longest prefix of text of the form [+|-] digits [. digits] [(e|E) [+|-] digits] with at
// least one digit before the exponent; 0 when text does not start with such a number.
qsizetype decimalPrefixLength(QStringView text);

// The value of a decimal number that decimalPrefixLength accepts in full, independent of the locale:
// an infinity when it is too large, a zero when it is too small.
double decimalToDouble(QStringView number);

// How reading a list from some position ended.
enum class Outcome {
    Complete,  // a whole list; end is just past it
    Malformed, // not a valid list; end is where reading may resume
    CutOff,    // the text ended inside the list
};

// ---- XML lists -------------------------------------------------------------------------------------

// Whether an XML list begins at text[at]: `<?xml` (the declaration), `<!DOCTYPE` or a `<plist` tag.
bool isXmlListStart(QStringView text, qsizetype at);
// The first position at or after from where an XML list begins, or text.size() when there is none.
qsizetype nextXmlListStart(QStringView text, qsizetype from);

struct XmlExtent {
    Outcome outcome;
    qsizetype end;
    // Never to be handed to the XML reader: the document type has an internal subset (entity or other
    // declarations), or a tag carries more attributes than any property list needs.
    bool refused = false;
};
// Finds where the XML list that begins at start ends, by a lexical scan that knows comments, CDATA
// sections, processing instructions, the document type and quoted attribute values. A second list
// beginning inside this one (a new declaration, document type or <plist> tag) means this one was cut
// off: the result is Malformed with end at that second list.
XmlExtent findXmlListEnd(QStringView text, qsizetype start);

// Reads one complete XML list (a piece found by findXmlListEnd). Nothing for a malformed or empty list,
// for any entity reference the XML reader could not resolve from the predefined ones, and for a list
// nested deeper than kMaxDepth.
std::optional<Value> readXmlList(QStringView list);

// ---- Old-style lists -------------------------------------------------------------------------------

// Whether c may begin an old-style list: `{`, `(`, a quote or a character of an unquoted string.
bool canStartTextList(QChar c);

// Skips white space and `//` and `/* */` comments from `from`; nullopt when a `/*` comment runs off the
// end of text.
std::optional<qsizetype> skipTextSpace(QStringView text, qsizetype from);

struct TextList {
    Outcome outcome;
    qsizetype end;
    Value value;
};
// Reads one old-style list beginning at text[from] (a character canStartTextList accepts): a `{…}`
// dictionary, a `(…)` array, or strings-file entries `key = value;` as one dictionary, which ends before
// the first token after a `;` that cannot begin another entry. The end of text counts as a cut-off.
TextList readTextList(QStringView text, qsizetype from);

// How a walk over a text of concatenated lists ended.
struct Walk {
    qsizetype consumed = 0;            // just past the last complete list
    std::optional<qsizetype> cutOffAt; // where an XML list cut off by the end of the text begins
    bool inComment = false;            // an XML comment runs off the end: the rest is commentary
};

// Walks `text` list by list, the one way every reader of the tool's output finds its lists: onTextList
// gets each complete old-style list's value, onXmlList each complete XML list's text (refused ones are
// skipped). Old-style lists are looked for only at the start and right after a complete list; elsewhere
// only XML lists are. A template so that the progress path pays no call through a pointer per list.
template <typename OnTextList, typename OnXmlList>
Walk walkLists(QStringView text, OnTextList&& onTextList, OnXmlList&& onXmlList) {
    const qsizetype n = text.size();
    Walk walk;
    qsizetype pos = 0;
    // The first XML list start at or after the position it was last looked up for. No start lies between
    // that position and it, so it stays the answer until pos passes it; keeping it makes the whole walk a
    // single pass.
    qsizetype nextXml = -1;
    auto nextXmlFrom = [&](qsizetype from) {
        if (nextXml < from)
            nextXml = nextXmlListStart(text, from);
        return nextXml;
    };
    // Whether pos is where a list may begin: the start of the text or just after a complete list.
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
                if (close < 0) {
                    walk.inComment = true;
                    return walk;
                }
                pos = close + 3;
                atBoundary = true;
                continue;
            }
            if (pos < limit && text[pos] != u'<' && canStartTextList(text[pos])) {
                TextList list = readTextList(textPart, pos);
                if (list.outcome == Outcome::Complete) {
                    onTextList(std::move(list.value));
                    pos = walk.consumed = list.end;
                    atBoundary = true;
                } else {
                    pos = limit; // old-style lists are read as the text holds them: a cut-off one is not held
                }
                continue;
            }
        }

        pos = nextXmlFrom(pos);
        if (pos >= n)
            break;
        const XmlExtent extent = findXmlListEnd(text, pos);
        if (extent.outcome == Outcome::CutOff) {
            walk.cutOffAt = pos;
            return walk;
        }
        if (extent.outcome == Outcome::Complete) {
            if (!extent.refused)
                onXmlList(text.sliced(pos, extent.end - pos));
            walk.consumed = extent.end;
            atBoundary = true;
        }
        pos = extent.end;
    }
    return walk;
}

} // namespace plist::detail
