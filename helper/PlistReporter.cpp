#include "helper/PlistReporter.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace helper {

namespace {

constexpr std::string_view kReplacement = "\uFFFD";

// The length of the well-formed UTF-8 sequence at the start of `bytes` (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0 when it does not start with one.
size_t sequenceLength(std::string_view bytes) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else
        return 0;
    if (bytes.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}

} // namespace

std::string PlistReporter::xmlText(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        const size_t length = sequenceLength(bytes);
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
    return write(std::string("\t<key>PercentComplete</key>\n\t<real>") + number + "</real>\n");
}

bool PlistReporter::message(std::string_view text) {
    return write("\t<key>Message</key>\n\t<string>" + xmlText(text) + "</string>\n");
}

bool PlistReporter::end() {
    return write("\t<key>End</key>\n\t<true/>\n\t<key>PercentComplete</key>\n\t<real>100</real>\n");
}

bool PlistReporter::write(const std::string& entries) {
    const std::string list = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                             "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                             "<plist version=\"1.0\">\n<dict>\n" +
                             entries + "</dict>\n</plist>\n";
    // A blocking write of a pipe or file takes the whole list at once; the loop only guards against a
    // signal cutting it short.
    std::string_view rest = list;
    while (!rest.empty()) {
        const ssize_t n = ::write(m_fd, rest.data(), rest.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        rest.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

} // namespace helper
