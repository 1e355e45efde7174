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
        readings.push_back(reading);
    }
    return readings;
}

} // namespace repair
