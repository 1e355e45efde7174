#include "repair/ProgressChunk.h"

#include "core/CheckedConversion.h"
#include "plist/PropertyList.h"

namespace repair {

std::vector<ProgressReading> readProgressChunk(QStringView chunk) {
    std::vector<ProgressReading> readings;
    for (const plist::Value& list : plist::parseAll(chunk)) {
        if (!list.isDictionary())
            continue;
        ProgressReading reading;
        if (const plist::Value* percent = list.find(u"PercentComplete"))
            reading.percentComplete = varnel::truncatedOrNone<std::ptrdiff_t>(plist::doubleValue(percent));
        reading.end = plist::boolValue(list.find(u"End"));
        if (const plist::Value* message = list.find(u"Message"); message && message->isString())
            reading.message = message->text();
        readings.push_back(reading);
    }
    return readings;
}

std::vector<ProgressReading> ProgressStream::read(QStringView chunk) {
    QString joined;
    QStringView text = chunk;
    if (!m_heldBack.isEmpty()) {
        joined = m_heldBack;
        joined += chunk;
        m_heldBack.clear();
        text = joined;
    }
    // Whatever follows the last complete XML list and opens another one is the start of an unfinished list.
    qsizetype lastEnd = text.lastIndexOf(u"</plist>");
    lastEnd = lastEnd < 0 ? 0 : lastEnd + 8;
    // A tag cut off at the end of the text may be the start of one too.
    const qsizetype lastTag = text.lastIndexOf(u'<');
    qsizetype unfinished = lastTag >= lastEnd && text.indexOf(u'>', lastTag) < 0 ? lastTag : -1;
    for (QStringView opening : {u"<?xml", u"<!DOCTYPE", u"<plist"}) {
        const qsizetype at = text.indexOf(opening, lastEnd);
        if (at >= 0 && (unfinished < 0 || at < unfinished))
            unfinished = at;
    }
    if (unfinished >= 0) {
        if (text.size() - unfinished <= kMaxHeldBack)
            m_heldBack = text.sliced(unfinished).toString();
        text = text.first(unfinished);
    }
    return readProgressChunk(text);
}

} // namespace repair
