#include "helper/RpmDatabase.h"

#include "helper/PathResolver.h"
#include "helper/RpmHeader.h"
#include "helper/RpmSqlite.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace helper {

namespace {

constexpr size_t kMaxField = 64 * 1024;

// rpm gets no part of our environment. It needs a search path of its own for the shell commands in its
// macro files (Debian's computes the database's place that way), and the C locale.
const std::vector<std::string> kRpmEnvironment = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LC_ALL=C"};

// The file each database format keeps in its folder: sqlite, bdb, ndb.
constexpr const char* kDatabaseFiles[] = {"rpmdb.sqlite", "Packages", "Packages.db"};

// read() that waits at most `seconds` for the first byte: -2 when nothing came in that time.
ssize_t readWithin(int fd, char* buffer, size_t size, int seconds) {
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, seconds * 1000);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0)
            return -2;
        if (ready < 0)
            return -1;
        const ssize_t n = ::read(fd, buffer, size);
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

bool exitedWell(int status) {
    return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string silent(int seconds) {
    return "rpm wrote nothing for " + std::to_string(seconds) + " seconds and was stopped";
}

} // namespace

RpmListing::Item RpmListing::error(std::string why) {
    m_failure = std::move(why);
    return Item::Error;
}

ssize_t RpmListing::readMore() {
    const ssize_t n = readWithin(m_fd, m_buffer + m_length, sizeof m_buffer - m_length, m_silenceSeconds);
    if (n == -2)
        m_failure = silent(m_silenceSeconds);
    else if (n < 0)
        m_failure = std::string("cannot read rpm's output: ") + std::strerror(errno);
    if (n > 0)
        m_length += static_cast<size_t>(n);
    return n < 0 ? -1 : n;
}

int RpmListing::refill() {
    m_position = m_length = 0;
    const ssize_t n = readMore();
    if (n <= 0)
        return n == 0 ? -1 : -2;
    return static_cast<unsigned char>(m_buffer[0]);
}

int RpmListing::markedLineOrEndAhead() {
    const size_t line = m_mark.size() + 2; // kind, mark, space
    while (m_length - m_position < line) {
        std::memmove(m_buffer, m_buffer + m_position, m_length - m_position);
        m_length -= m_position;
        m_position = 0;
        const ssize_t n = readMore();
        if (n < 0)
            return -1;
        if (n == 0)
            return m_length == 0; // a few bytes before the end cannot be a line: the name goes on
    }
    const char* const at = m_buffer + m_position;
    return (at[0] == 'P' || at[0] == 'F') && std::memcmp(at + 1, m_mark.data(), m_mark.size()) == 0 &&
           at[line - 1] == ' ';
}

bool RpmListing::appendUpTo(std::string& field, char delimiter) {
    for (;;) {
        if (!fill())
            return false; // the listing ended first, or could not be read
        const char* begin = m_buffer + m_position;
        const auto* found = static_cast<const char*>(std::memchr(begin, delimiter, m_length - m_position));
        const char* end = found ? found : m_buffer + m_length;
        field.append(begin, end);
        m_position += static_cast<size_t>(end - begin);
        if (field.size() > kMaxField)
            return false;
        if (found) {
            ++m_position;
            return true;
        }
    }
}

bool RpmListing::readName(std::string& name) {
    name.clear();
    for (;;) {
        if (!appendUpTo(name, '\n'))
            return false;
        const int ahead = markedLineOrEndAhead();
        if (ahead != 0)
            return ahead > 0;
        name += '\n'; // a line feed of the name itself
    }
}

bool RpmListing::readField(std::string& field, bool& quoted, bool bare) {
    field.clear();
    quoted = !bare && peekByte() == '\'';
    if (!quoted) {
        // Up to the next space or line feed, taken a buffer's worth at a time.
        while (fill()) {
            const char* begin = m_buffer + m_position;
            const char* end = begin;
            const char* const limit = m_buffer + m_length;
            while (end < limit && *end != ' ' && *end != '\n')
                ++end;
            field.append(begin, end);
            m_position += static_cast<size_t>(end - begin);
            if (field.size() > kMaxField)
                return false;
            if (end < limit)
                return true;
        }
        return m_failure.empty(); // the end of the listing ends the field; a failed read does not
    }
    readByte();
    for (;;) {
        if (!appendUpTo(field, '\''))
            return false;
        // A quote inside the text comes out as '\'' : close, escaped quote, reopen.
        if (peekByte() != '\\')
            return true;
        if (readByte() != '\\' || readByte() != '\'' || readByte() != '\'')
            return false;
        field += '\'';
    }
}

bool RpmListing::readNumber(long& value) {
    const bool negative = peekByte() == '-';
    if (negative)
        readByte();
    value = 0;
    int digits = 0;
    for (;;) {
        // The digits in the buffer at once; a number cut by the buffer's end goes on after a refill.
        if (!fill())
            break;
        const char* at = m_buffer + m_position;
        const char* const end = m_buffer + m_length;
        for (; at < end && *at >= '0' && *at <= '9'; ++at) {
            if (++digits > 12)
                return false;
            value = value * 10 + (*at - '0');
        }
        m_position = static_cast<size_t>(at - m_buffer);
        if (at < end)
            break;
    }
    if (negative)
        value = -value;
    return digits > 0 && m_failure.empty();
}

RpmListing::Item RpmListing::next(PackagedFile& file) {
    for (;;) {
        const int kind = readByte();
        if (kind == -1)
            return Item::End;
        if (kind < 0)
            return Item::Error;
        bool quoted = false;
        const auto separator = [this](char expected) { return readByte() == expected; };
        const char* const unreadable = "rpm's list of packaged files holds a line it cannot read";
        bool marked = kind == 'P' || kind == 'F';
        for (size_t i = 0; marked && i < m_mark.size(); ++i)
            marked = readByte() == static_cast<unsigned char>(m_mark[i]);
        if (!marked || !separator(' '))
            return error(m_failure.empty() ? unreadable : m_failure);
        if (kind == 'P') {
            if (readField(file.package, quoted) && separator('\n'))
                return Item::Package;
            return error(m_failure.empty() ? unreadable : m_failure);
        }
        long mode = 0, state = 0, flags = 0, verify = 0;
        bool hasCapability = false;
        if (!readNumber(mode) || !separator(' ') || !readNumber(state) || !separator(' ') ||
            !readNumber(flags) || !separator(' ') || !readNumber(verify) || !separator(' ') ||
            !readField(file.user, quoted, true) || file.user.empty() || !separator(' ') ||
            !readField(file.group, quoted, true) || file.group.empty() || !separator(' ') ||
            !readField(file.capability, hasCapability) || !separator(' ') || !readName(file.path))
            return error(m_failure.empty() ? unreadable : m_failure);
        if (!takeRpmFile(file, static_cast<unsigned long>(mode), state, static_cast<unsigned long>(flags),
                         static_cast<unsigned long>(verify)))
            continue;
        if (!hasCapability)
            file.capability.clear(); // "(none)": the package records no capabilities at all
        return Item::File;
    }
}

std::string RpmListing::format(std::string_view mark) {
    // Package names and capabilities (whose text may hold spaces) come in rpm's shell quoting; numbers and
    // user and group names (which rpm never lets hold a space or a line feed) come bare. rpm writes a
    // missing tag as "(none)", unquoted; a package without any capabilities gets that written as text,
    // which rpm copies for much less than it formats a field.
    const std::string m(mark);
    const auto files = [&m](const std::string& capability) {
        return "[F" + m + " %{FILEMODES} %{FILESTATES} %{FILEFLAGS} %{FILEVERIFYFLAGS} %{FILEUSERNAME} " +
               "%{FILEGROUPNAME} " + capability + " %{FILENAMES}\\n]";
    };
    return "P" + m + " %{NAME:shescape}\\n%|FILECAPS?{" + files("%{FILECAPS:shescape}") + "}:{" +
           files("(none)") + "}|";
}

std::string RpmListing::randomMark() {
    unsigned char bytes[12];
    if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
        return {};
    constexpr std::string_view kLetters = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    std::string mark;
    for (const unsigned char b : bytes)
        mark += kLetters[b % kLetters.size()];
    return mark;
}

RpmDatabase::RpmDatabase(std::string rpmPath, std::string root, int silenceSeconds)
    : m_rpmPath(std::move(rpmPath))
    , m_root(std::move(root))
    , m_silenceSeconds(silenceSeconds) {}

std::vector<std::string> RpmDatabase::commandLine(std::vector<std::string> query) const {
    // Once found, the database is named outright: the queries read the very one that was checked, and
    // rpm need not work its place out again (Debian's rpm starts a shell for that).
    if (!m_databaseFolder.empty())
        query.insert(query.begin(), {"--dbpath", m_databaseFolder});
    query.insert(query.begin(), {"--root", m_root});
    return query;
}

bool RpmDatabase::start(ChildProcess& rpm, std::vector<std::string> query) {
    if (rpm.start(m_rpmPath, commandLine(std::move(query)), kRpmEnvironment))
        return true;
    m_failure = "rpm (" + m_rpmPath + ") cannot be run: " + std::strerror(errno);
    return false;
}

bool RpmDatabase::ended(ChildProcess& rpm, const char* doing) {
    const int status = rpm.wait();
    if (exitedWell(status))
        return true;
    m_failure = "rpm ended with " + describeWaitStatus(status) + " " + doing;
    return false;
}

bool RpmDatabase::readAnswer(ChildProcess& rpm, const std::function<void(const char*, size_t)>& take) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = readWithin(rpm.output(), buffer, sizeof buffer, m_silenceSeconds);
        if (n == -2) {
            m_failure = silent(m_silenceSeconds);
            return false;
        }
        if (n <= 0)
            return true; // the end, or a read that failed: rpm's ending tells which
        take(buffer, static_cast<size_t>(n));
    }
}

RpmDatabase::Availability RpmDatabase::availability(int rootFd) {
    ChildProcess rpm;
    if (!start(rpm, {"--eval", "%{_dbpath}", "--eval", "%{_db_backend}"}))
        return errno == ENOENT ? Availability::NoRpm : Availability::Failed;
    std::string answer;
    const bool answered = readAnswer(rpm, [&answer](const char* bytes, size_t n) {
        answer.append(bytes, std::min(n, 4096 - std::min<size_t>(4096, answer.size())));
    });
    if (!answered || !ended(rpm, "when asked where the package database is"))
        return Availability::Failed;
    // The folder on the first line, the format rpm writes new databases in on the second.
    const size_t lineEnd = answer.find('\n');
    const std::string folder = answer.substr(0, lineEnd);
    const std::string backend = lineEnd == std::string::npos ? "" : answer.substr(lineEnd + 1);
    if (folder.empty() || folder.front() != '/') {
        m_failure = "rpm named no folder for the package database";
        return Availability::Failed;
    }
    for (const char* name : kDatabaseFiles) {
        const UniqueFd file = openInRoot(rootFd, folder + "/" + name);
        struct stat st {};
        if (!file && errno != ENOENT && errno != ENOTDIR) {
            m_failure = "cannot look for the package database in " + folder + ": " + std::strerror(errno);
            return Availability::Failed;
        }
        if (file && ::fstat(file.get(), &st) == 0 && S_ISREG(st.st_mode)) {
            m_databaseFolder = folder;
            m_databaseBytes = static_cast<double>(st.st_size);
            // Read here only what rpm itself would read: its sqlite file where that is its format.
            if (name == kDatabaseFiles[0] && backend.starts_with("sqlite\n"))
                m_sqliteFolder = openInRoot(rootFd, folder, true);
            return Availability::Present;
        }
    }
    return Availability::NoDatabase;
}

RpmDatabase::Direct RpmDatabase::readDirectly(std::vector<PackagedFile>& files,
                                              const std::function<bool(double share)>& packageBegins) {
    if (!m_sqliteFolder) {
        m_directFailure = "rpm does not keep this database in sqlite";
        return Direct::GaveWay;
    }
    // The folder as found inside the root, by its descriptor: sqlite finds the database's journal files
    // beside it by name.
    char path[32];
    RpmSqlite database;
    if (!database.open(std::string(descriptorPath(m_sqliteFolder.get(), path)) + "/rpmdb.sqlite")) {
        m_directFailure = database.failure();
        return Direct::GaveWay;
    }
    const double packages = static_cast<double>(database.countPackages().value_or(0));
    RpmHeaderReader reader;
    const size_t before = files.size();
    long done = 0;
    bool understood = true, stopped = false;
    const bool whole = database.forEachHeader([&](std::span<const unsigned char> header) {
        understood = reader.read(header, files);
        stopped = understood && !packageBegins(packages > 0 ? std::min(1.0, ++done / packages) : 0);
        return understood && !stopped;
    });
    if (whole && understood)
        return stopped ? Direct::Stopped : Direct::Read;
    m_directFailure = understood ? database.failure() : reader.failure();
    files.resize(before);
    return !understood && reader.damaged() ? Direct::Damaged : Direct::GaveWay;
}

std::optional<long> RpmDatabase::countPackages() {
    ChildProcess rpm;
    if (!start(rpm, {"--query", "--all", "--queryformat", "."}))
        return std::nullopt;
    long count = 0;
    if (!readAnswer(rpm, [&count](const char*, size_t n) { count += static_cast<long>(n); }) ||
        !ended(rpm, "while counting the packages"))
        return std::nullopt;
    return count;
}

bool RpmDatabase::startListing() {
    std::string mark = RpmListing::randomMark();
    if (mark.empty()) {
        m_failure = std::string("no random bytes to mark rpm's listing with: ") + std::strerror(errno);
        return false;
    }
    if (!start(m_listing, {"--query", "--all", "--queryformat", RpmListing::format(mark)}))
        return false;
    m_reader = RpmListing(m_listing.output(), m_silenceSeconds, std::move(mark));
    const std::string counts = "/proc/" + std::to_string(m_listing.pid()) + "/io";
    m_listingCounts = UniqueFd(::open(counts.c_str(), O_RDONLY | O_CLOEXEC));
    return true;
}

std::optional<double> RpmDatabase::listingShare() {
    char text[512];
    const ssize_t n = m_listingCounts ? ::pread(m_listingCounts.get(), text, sizeof text - 1, 0) : -1;
    if (n <= 0 || m_databaseBytes <= 0)
        return std::nullopt;
    text[n] = '\0';
    const char* read = std::strstr(text, "rchar: ");
    if (!read)
        return std::nullopt;
    return std::min(1.0, std::strtod(read + 7, nullptr) / m_databaseBytes);
}

size_t RpmDatabase::expectedFiles() const {
    constexpr double kBytesPerFile = 200, kMostFiles = 1 << 20;
    return static_cast<size_t>(std::min(m_databaseBytes / kBytesPerFile, kMostFiles));
}

bool RpmDatabase::finish() {
    return ended(m_listing, "while listing the packaged files");
}

} // namespace helper
