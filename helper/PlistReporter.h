#pragma once

#include "helper/Reporter.h"

#include <string>
#include <string_view>

namespace helper {

// Writes the tool's progress as the application reads it: one XML property list 1.0 per message, each a
// dictionary written with a single write(), so a reader never sees two messages' bytes interleaved. Every
// report and the summary is a "Message", its text as a person reads it.
class PlistReporter : public Reporter {
public:
    explicit PlistReporter(int fd)
        : m_fd(fd) {}

    bool progress(double percent) override;
    bool summary(const Summary& summary) override;
    // The last list: "End" true and "PercentComplete" 100.
    bool end() override;

    // Bytes as text an XML string element can carry: markup characters escaped, bytes that are not
    // UTF-8 and characters XML 1.0 cannot hold (control characters other than tab and line feed,
    // U+FFFE, U+FFFF) replaced by U+FFFD. So a file name can never close the element or the list.
    static std::string xmlText(std::string_view bytes);
    // "“text”", the quotes the messages put around a path.
    static std::string quoted(std::string_view text);

protected:
    bool write(const Report& line) override;

private:
    bool writeList(const std::string& entries);

    int m_fd;
};

} // namespace helper
