#include "helper/PlistReporter.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace helper {

namespace {

constexpr std::string_view kReplacement = "\uFFFD";

} // namespace

std::string PlistReporter::xmlText(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        const size_t length = utf8SequenceLength(bytes);
        const std::string_view character = bytes.substr(0, length);
        if (length == 0) {
            out += kReplacement;
            bytes.remove_prefix(1);
            continue;
        }
        bytes.remove_prefix(length);
        const unsigned char c = static_cast<unsigned char>(character[0]);
        if (character == "&")
            out += "&amp;";
        else if (character == "<")
            out += "&lt;";
        else if (character == ">")
            out += "&gt;";
        else if ((c < 0x20 && c != '\t' && c != '\n') || character == "\uFFFE" || character == "\uFFFF")
            out += kReplacement; // a carriage return would also be changed by the reader's line ending rules
        else
            out += character;
    }
    return out;
}

std::string PlistReporter::quoted(std::string_view text) {
    return "\u201c" + std::string(text) + "\u201d";
}

bool PlistReporter::progress(double percent) {
    char number[32];
    std::snprintf(number, sizeof number, "%g", percent);
    return writeList(std::string("\t<key>PercentComplete</key>\n\t<real>") + number + "</real>\n");
}

bool PlistReporter::write(const Report& line) {
    return writeList("\t<key>Message</key>\n\t<string>" + xmlText(line.text) + "</string>\n");
}

bool PlistReporter::summary(const Summary& summary) {
    return writeList("\t<key>Message</key>\n\t<string>" + xmlText(summary.text) + "</string>\n");
}

bool PlistReporter::end() {
    return writeList("\t<key>End</key>\n\t<true/>\n\t<key>PercentComplete</key>\n\t<real>100</real>\n");
}

bool PlistReporter::writeList(const std::string& entries) {
    const std::string list = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                             "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                             "<plist version=\"1.0\">\n<dict>\n" +
                             entries + "</dict>\n</plist>\n";
    // A blocking write of a pipe or file takes the whole list at once; writeAll only guards against a
    // signal cutting it short.
    return writeAll(m_fd, list);
}

} // namespace helper
