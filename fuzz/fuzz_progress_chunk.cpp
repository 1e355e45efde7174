// The reading of progress from one chunk of the repair tool's output, decoded the way the runner decodes
// it. Besides the sanitizers, it checks that a reading never invents a percentage from nothing.
#include "repair/ProgressChunk.h"

#include <QString>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString chunk =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const auto& reading : repair::readProgressChunk(chunk)) {
        if (reading.percentComplete && !chunk.contains(QStringLiteral("PercentComplete")))
            __builtin_trap();
    }
    return 0;
}
