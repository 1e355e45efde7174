// The reading of progress from the repair tool's output, decoded the way the runner decodes it. Besides
// the sanitizers, it checks that a reading never invents a percentage from nothing, that the quick reading
// of a chunk gives exactly what the full property-list reader gives, and reads the text as a stream in
// two pieces as well.
#include "plist/PropertyList.h"
#include "repair/ProgressChunk.h"

#include <QString>
#include <cstddef>
#include <cstdint>

namespace {

// Every dictionary the full reader finds, as the application reads it.
std::vector<repair::ProgressReading> fullReading(const QString& chunk) {
    std::vector<repair::ProgressReading> readings;
    for (const plist::Value& list : plist::parseAll(chunk)) {
        if (!list.isDictionary())
            continue;
        repair::ProgressReading reading;
        if (const plist::Value* percent = list.find(u"PercentComplete")) {
            const double value = plist::doubleValue(percent);
            if (value == value && value > -9.2e18 && value < 9.2e18)
                reading.percentComplete = static_cast<std::ptrdiff_t>(value);
        }
        reading.end = plist::boolValue(list.find(u"End"));
        if (const plist::Value* message = list.find(u"Message"); message && message->isString())
            reading.message = message->text();
        readings.push_back(reading);
    }
    return readings;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString chunk =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::vector<repair::ProgressReading> readings = repair::readProgressChunk(chunk);
    for (const auto& reading : readings) {
        if (reading.percentComplete && !chunk.contains(QStringLiteral("PercentComplete")))
            __builtin_trap();
    }
    if (readings != fullReading(chunk))
        __builtin_trap();

    // The same text as a stream in two pieces, cut where the first byte says.
    const qsizetype cut = size == 0 ? 0 : data[0] % (chunk.size() + 1);
    repair::ProgressStream stream;
    for (const QStringView piece : {QStringView(chunk).first(cut), QStringView(chunk).sliced(cut)})
        for (const auto& reading : stream.read(piece))
            if (reading.percentComplete && !chunk.contains(QStringLiteral("PercentComplete")))
                __builtin_trap();
    return 0;
}
