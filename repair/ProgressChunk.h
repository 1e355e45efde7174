#pragma once

#include <QString>
#include <QStringView>
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

namespace repair {

// What one property list in the repair tool's output says about the run.
struct ProgressReading {
    // "PercentComplete" truncated toward zero; none when the entry is missing, or is not a number
    // (NaN) or lies outside the range of the type.
    std::optional<std::ptrdiff_t> percentComplete;
    // "End" read as a boolean; false when missing.
    bool end = false;
    // "Message", the tool's own words about what it found or did; none when missing or not text.
    std::optional<QString> message;

    friend bool operator==(const ProgressReading&, const ProgressReading&) = default;
};

// One reading per dictionary in a chunk of the tool's output, in the order the tool wrote them. A chunk
// is read on its own: a list cut off at either end of it, and anything that is not a dictionary, yields
// no reading.
std::vector<ProgressReading> readProgressChunk(QStringView chunk);

// Reads the tool's output chunk after chunk, as one stream: an XML list that a chunk leaves unfinished is
// held back and read once the chunk that completes it arrives, so a tool that writes its lists in pieces
// still shows its progress and its end. What is held back is bounded; a list longer than that is dropped.
// Lists are found as plist::parseAll finds them; one XML reader serves every list of the stream, and the
// lists the tool writes are read straight from its tokens, without building their values.
class ProgressStream {
public:
    static constexpr qsizetype kMaxHeldBack = 1024 * 1024;

    ProgressStream();
    ~ProgressStream();
    ProgressStream(const ProgressStream&) = delete;
    ProgressStream& operator=(const ProgressStream&) = delete;

    std::vector<ProgressReading> read(QStringView chunk);
    // A chunk read on its own, as readProgressChunk reads it; what is held back stays as it is.
    std::vector<ProgressReading> readChunk(QStringView chunk);
    // Forgets what is held back, for a new run.
    void reset() { m_heldBack.clear(); }

private:
    class QuickReader;
    static qsizetype readLists(QStringView text, QuickReader& quick, std::vector<ProgressReading>& readings);

    QString m_heldBack;
    std::unique_ptr<QuickReader> m_quick;
};

} // namespace repair
