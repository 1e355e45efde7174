#include "helper/Reporter.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace helper {

namespace {

constexpr std::string_view kReplacement = "\uFFFD";

const char* kindName(Report::Kind kind) {
    switch (kind) {
    case Report::Kind::Message:
        return "message";
    case Report::Kind::Finding:
        return "finding";
    case Report::Kind::LeftAlone:
        return "left-alone";
    case Report::Kind::Repair:
        return "repair";
    case Report::Kind::WouldRepair:
        return "would-repair";
    case Report::Kind::Error:
        return "error";
    }
    return "message";
}

// Whether a whole UTF-8 character is a C0 or C1 control character or DEL.
bool isControl(std::string_view character) {
    const auto c = static_cast<unsigned char>(character[0]);
    if (character.size() == 1)
        return c < 0x20 || c == 0x7f;
    return character.size() == 2 && c == 0xC2 && static_cast<unsigned char>(character[1]) < 0xA0;
}

} // namespace

size_t Reporter::utf8SequenceLength(std::string_view bytes) {
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

bool Reporter::writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

ProgressLine::ProgressLine(int fd, std::string label)
    : m_fd(fd)
    , m_terminal(fd >= 0 && ::isatty(fd) == 1)
    , m_label(std::move(label)) {}

void ProgressLine::show(double percent) {
    if (!m_terminal)
        return;
    char number[16];
    std::snprintf(number, sizeof number, "%3d%%", static_cast<int>(percent));
    const std::string text = m_label + " " + number;
    std::string out = "\r" + text;
    if (text.size() < m_shown)
        out += std::string(m_shown - text.size(), ' ') + "\r" + text;
    m_shown = text.size();
    // The progress line is a courtesy: a terminal that cannot take it does not end the run.
    (void)Reporter::writeAll(m_fd, out);
}

void ProgressLine::clear() {
    if (!m_terminal || m_shown == 0)
        return;
    (void)Reporter::writeAll(m_fd, "\r" + std::string(m_shown, ' ') + "\r");
    m_shown = 0;
}

HumanReporter::HumanReporter(int fd, int progressFd, std::string progressLabel)
    : m_fd(fd)
    , m_progress(progressFd, std::move(progressLabel)) {}

std::string HumanReporter::terminalText(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        const size_t length = utf8SequenceLength(bytes);
        const std::string_view character = bytes.substr(0, length == 0 ? 1 : length);
        bytes.remove_prefix(character.size());
        out += length == 0 || isControl(character) ? kReplacement : character;
    }
    return out;
}

bool HumanReporter::progress(double percent) {
    m_progress.show(percent);
    return true;
}

bool HumanReporter::line(std::string_view text) {
    m_progress.clear();
    return writeAll(m_fd, terminalText(text) + "\n");
}

bool HumanReporter::write(const Report& report) {
    return line(report.text);
}

bool HumanReporter::summary(const Summary& summary) {
    return line(summary.text);
}

bool HumanReporter::end() {
    m_progress.clear();
    return true;
}

JsonReporter::JsonReporter(int fd, int progressFd, std::string progressLabel)
    : m_fd(fd)
    , m_progress(progressFd, std::move(progressLabel)) {}

std::string JsonReporter::jsonString(std::string_view bytes) {
    std::string out = "\"";
    out.reserve(bytes.size() + 2);
    while (!bytes.empty()) {
        const size_t length = utf8SequenceLength(bytes);
        const std::string_view character = bytes.substr(0, length == 0 ? 1 : length);
        bytes.remove_prefix(character.size());
        const auto c = static_cast<unsigned char>(character[0]);
        if (length == 0)
            out += "\\ufffd";
        else if (character == "\"")
            out += "\\\"";
        else if (character == "\\")
            out += "\\\\";
        else if (character == "\n")
            out += "\\n";
        else if (character == "\t")
            out += "\\t";
        else if (character == "\r")
            out += "\\r";
        else if (isControl(character)) {
            char escaped[8];
            const unsigned code = length == 1 ? c : static_cast<unsigned char>(character[1]);
            std::snprintf(escaped, sizeof escaped, "\\u%04x", code);
            out += escaped;
        } else
            out += character;
    }
    return out + "\"";
}

bool JsonReporter::progress(double percent) {
    m_progress.show(percent);
    return true;
}

bool JsonReporter::line(const std::string& object) {
    m_progress.clear();
    return writeAll(m_fd, object + "}\n");
}

bool JsonReporter::write(const Report& report) {
    std::string object = "{\"type\":\"" + std::string(kindName(report.kind)) + "\"";
    if (!report.path.empty())
        object += ",\"path\":" + jsonString(report.path);
    if (!report.attribute.empty())
        object += ",\"attribute\":" + jsonString(report.attribute);
    if (report.kind == Report::Kind::Finding)
        object += ",\"expected\":" + jsonString(report.expected) + ",\"actual\":" + jsonString(report.actual);
    object += ",\"text\":" + jsonString(report.text);
    return line(object);
}

bool JsonReporter::summary(const Summary& summary) {
    const auto number = [](const char* name, int value) {
        return std::string(",\"") + name + "\":" + std::to_string(value);
    };
    return line(std::string("{\"type\":\"summary\",\"verb\":\"") + (summary.check ? "check" : "repair") +
                "\",\"volume\":" + jsonString(summary.volume) + number("differing", summary.differing) +
                number("to_repair", summary.toRepair) + number("repaired", summary.repaired) +
                number("left_alone", count(Report::Kind::LeftAlone)) +
                number("errors", count(Report::Kind::Error)) +
                ",\"changed\":" + (summary.repaired > 0 ? "true" : "false") +
                number("exit_status", summary.status) + ",\"text\":" + jsonString(summary.text));
}

bool JsonReporter::end() {
    m_progress.clear();
    return true;
}

} // namespace helper
