#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace helper {

// One line of a run's report. `text` is the line as a person reads it (and as the property lists carry
// it); the other fields say the same for a program: what kind of line it is, the packaged path it is
// about, and for a finding the attribute with the package's value and the one found.
struct Report {
    enum class Kind {
        Message,     // the start, a stage, a problem with the package database
        Finding,     // an attribute of a packaged path differs from the package's value
        LeftAlone,   // a path, or one attribute of it, that is not changed, and why
        Repair,      // a path changed
        WouldRepair, // a path a repair would change (a check changes nothing)
        Error,       // a path that could not be checked or repaired
    };
    static constexpr size_t kKinds = 6;

    Kind kind = Kind::Message;
    std::string_view text;
    std::string_view path = {};
    std::string_view attribute = {}; // "mode", "owner" or "group"
    std::string_view expected = {}, actual = {};
};

// The end of a whole run.
struct Summary {
    bool check = false; // nothing was changed, by design
    std::string_view volume;
    std::string_view text;
    int differing = 0; // packaged paths whose mode, owner or group differ
    int toRepair = 0;  // of them, those a repair changes (or, in a check, would change)
    int repaired = 0;  // those changed
    int status = 0;    // the exit status the run ends with
};

// Where a run's report goes: the property lists the application reads (PlistReporter), lines for a
// person (HumanReporter) or JSON lines for scripts (JsonReporter). Each call is false when the report
// could not be written (the reader has gone), which ends the run.
class Reporter {
public:
    virtual ~Reporter() = default;

    // How far the run is, 0 to 99; 100 comes with end().
    virtual bool progress(double percent) = 0;
    bool report(const Report& line) {
        ++m_counts[static_cast<size_t>(line.kind)];
        return write(line);
    }
    bool message(std::string_view text) { return report({Report::Kind::Message, text}); }
    virtual bool summary(const Summary& summary) = 0;
    virtual bool end() = 0;

    // How many lines of a kind were reported.
    int count(Report::Kind kind) const { return m_counts[static_cast<size_t>(kind)]; }

    // The length of the well-formed UTF-8 sequence at the start of `bytes` (RFC 3629: no overlong forms,
    // no surrogates, nothing above U+10FFFF), or 0 when it does not start with one.
    static size_t utf8SequenceLength(std::string_view bytes);
    // Writes all of `bytes` to `fd`, retrying after a signal; false when it could not.
    static bool writeAll(int fd, std::string_view bytes);

protected:
    virtual bool write(const Report& line) = 0;

private:
    std::array<int, Report::kKinds> m_counts{};
};

// The progress line on a terminal, "\r"-rewritten on `fd`; nothing at all when `fd` is not a terminal, so
// that a pipe or a file never gets it.
class ProgressLine {
public:
    ProgressLine(int fd, std::string label);
    ~ProgressLine() { clear(); }
    void show(double percent);
    // Blanks the line, before other output and at the end.
    void clear();

private:
    int m_fd;
    bool m_terminal;
    std::string m_label;
    size_t m_shown = 0; // the length of what is on the line now
};

// One line per report and the summary, for a person: on `fd` (standard output), every byte that is not
// UTF-8 and every control character (which could move a terminal's cursor or change its settings)
// replaced by U+FFFD; progress on the terminal `progressFd` only.
class HumanReporter : public Reporter {
public:
    HumanReporter(int fd, int progressFd, std::string progressLabel);
    bool progress(double percent) override;
    bool summary(const Summary& summary) override;
    bool end() override;

    static std::string terminalText(std::string_view bytes);

protected:
    bool write(const Report& line) override;

private:
    bool line(std::string_view text);

    int m_fd;
    ProgressLine m_progress;
};

// One JSON object per line (JSON Lines) for every report and for the summary; the man page
// varnel-repair(8) documents the fields. Strings are UTF-8: control characters are escaped, bytes that
// are not UTF-8 become U+FFFD ("\ufffd"). Progress on the terminal `progressFd` only, never in the JSON.
class JsonReporter : public Reporter {
public:
    JsonReporter(int fd, int progressFd, std::string progressLabel);
    bool progress(double percent) override;
    bool summary(const Summary& summary) override;
    bool end() override;

    // `bytes` as a JSON string, quotes included.
    static std::string jsonString(std::string_view bytes);

protected:
    bool write(const Report& line) override;

private:
    bool line(const std::string& object);

    int m_fd;
    ProgressLine m_progress;
};

} // namespace helper
