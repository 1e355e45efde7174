#pragma once

#include <string>
#include <string_view>

namespace helper {

// Writes the tool's progress as the application reads it: one XML property list 1.0 per message, each a
// dictionary written with a single write(), so a reader never sees two messages' bytes interleaved.
class PlistReporter {
public:
    explicit PlistReporter(int fd)
        : m_fd(fd) {}

    // Each false when the list could not be written (the reader has gone).
    bool progress(double percent);
    bool message(std::string_view text);
    // The last list: "End" true and "PercentComplete" 100.
    bool end();

    // Bytes as text an XML string element can carry: markup characters escaped, bytes that are not
    // UTF-8 and characters XML 1.0 cannot hold (control characters other than tab and line feed,
    // U+FFFE, U+FFFF) replaced by U+FFFD. So a file name can never close the element or the list.
    static std::string xmlText(std::string_view bytes);
    // "“text”", the quotes the messages put around a path.
    static std::string quoted(std::string_view text);

private:
    bool write(const std::string& entries);

    int m_fd;
};

} // namespace helper
