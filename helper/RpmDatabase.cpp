#include "helper/RpmDatabase.h"

#include "helper/PathResolver.h"

#include <cerrno>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace helper {

namespace {

// One line per package, then one per file. Text fields are quoted by rpm's own shell escaping (any byte
// but NUL may be in a file name, line feeds and quotes included); rpm writes a missing tag as "(none)",
// unquoted.
constexpr const char* kListingFormat =
    "P %{NAME:shescape}\\n"
    "[F %{FILEMODES} %{FILESTATES} %{FILEFLAGS} %{FILEUSERNAME:shescape} %{FILEGROUPNAME:shescape} "
    "%{FILECAPS:shescape} %{FILENAMES:shescape}\\n]";

constexpr size_t kMaxField = 64 * 1024;

// rpm gets no part of our environment. It needs a search path of its own for the shell commands in its
// macro files (Debian's computes the database's place that way), and the C locale.
const std::vector<std::string> kRpmEnvironment = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LC_ALL=C"};

// The file each database format keeps in its folder: sqlite, bdb, ndb.
constexpr const char* kDatabaseFiles[] = {"rpmdb.sqlite", "Packages", "Packages.db"};

// Reads all of a child's output, at most `limit` bytes of it kept.
std::string readAll(int fd, size_t limit) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return text;
        text.append(buffer, std::min(static_cast<size_t>(n), limit - std::min(limit, text.size())));
    }
}

bool exitedWell(int status) {
    return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

RpmDatabase::RpmDatabase(std::string rpmPath, std::string root)
    : m_rpmPath(std::move(rpmPath))
    , m_root(std::move(root)) {}

std::vector<std::string> RpmDatabase::commandLine(std::vector<std::string> query) const {
    // Once found, the database is named outright: the queries read the very one that was checked, and
    // rpm need not work its place out again (Debian's rpm starts a shell for that).
    if (!m_databaseFolder.empty())
        query.insert(query.begin(), {"--dbpath", m_databaseFolder});
    query.insert(query.begin(), {"--root", m_root});
    return query;
}

RpmDatabase::Availability RpmDatabase::availability(int rootFd) {
    ChildProcess rpm;
    if (!rpm.start(m_rpmPath, commandLine({"--eval", "%{_dbpath}"}), kRpmEnvironment))
        return errno == ENOENT ? Availability::NoRpm : Availability::Failed;
    std::string folder = readAll(rpm.output(), 4096);
    if (!exitedWell(rpm.wait()))
        return Availability::Failed;
    while (!folder.empty() && folder.back() == '\n')
        folder.pop_back();
    if (folder.empty() || folder.front() != '/')
        return Availability::Failed;
    for (const char* name : kDatabaseFiles) {
        const UniqueFd file = openInRoot(rootFd, folder + "/" + name);
        struct stat st {};
        if (file && ::fstat(file.get(), &st) == 0 && S_ISREG(st.st_mode)) {
            m_databaseFolder = folder;
            return Availability::Present;
        }
    }
    return Availability::NoDatabase;
}

std::optional<long> RpmDatabase::countPackages() {
    ChildProcess rpm;
    if (!rpm.start(m_rpmPath, commandLine({"--query", "--all", "--queryformat", "."}), kRpmEnvironment))
        return std::nullopt;
    long count = 0;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(rpm.output(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        count += n;
    }
    if (!exitedWell(rpm.wait()))
        return std::nullopt;
    return count;
}

bool RpmDatabase::startListing() {
    m_position = m_length = 0;
    return m_listing.start(m_rpmPath, commandLine({"--query", "--all", "--queryformat", kListingFormat}),
                           kRpmEnvironment);
}

int RpmDatabase::peekByte() {
    if (m_position == m_length) {
        ssize_t n;
        do
            n = ::read(m_listing.output(), m_buffer, sizeof m_buffer);
        while (n < 0 && errno == EINTR);
        if (n <= 0)
            return n == 0 ? -1 : -2;
        m_position = 0;
        m_length = static_cast<size_t>(n);
    }
    return static_cast<unsigned char>(m_buffer[m_position]);
}

int RpmDatabase::readByte() {
    const int c = peekByte();
    if (c >= 0)
        ++m_position;
    return c;
}

bool RpmDatabase::readField(std::string& field, bool& quoted) {
    field.clear();
    quoted = peekByte() == '\'';
    if (!quoted) {
        for (int c = peekByte(); c >= 0 && c != ' ' && c != '\n'; c = peekByte()) {
            field += static_cast<char>(readByte());
            if (field.size() > kMaxField)
                return false;
        }
        return true;
    }
    readByte();
    for (;;) {
        const int c = readByte();
        if (c < 0)
            return false;
        if (c == '\'') {
            // A quote inside the text comes out as '\'' : close, escaped quote, reopen.
            if (peekByte() != '\\')
                return true;
            if (readByte() != '\\' || readByte() != '\'' || readByte() != '\'')
                return false;
        }
        field += static_cast<char>(c);
        if (field.size() > kMaxField)
            return false;
    }
}

bool RpmDatabase::readNumber(long& value) {
    const bool negative = peekByte() == '-';
    if (negative)
        readByte();
    value = 0;
    int digits = 0;
    for (int c = peekByte(); c >= '0' && c <= '9'; c = peekByte()) {
        readByte();
        if (++digits > 12)
            return false;
        value = value * 10 + (c - '0');
    }
    if (negative)
        value = -value;
    return digits > 0;
}

RpmDatabase::Item RpmDatabase::next(std::string& package, PackagedFile& file) {
    const int tag = readByte();
    if (tag == -1)
        return Item::End;
    bool quoted = false;
    const auto separator = [this](char expected) { return readByte() == expected; };
    if (tag == 'P') {
        if (separator(' ') && readField(package, quoted) && separator('\n'))
            return Item::Package;
        return Item::Error;
    }
    long mode = 0, state = 0, flags = 0;
    bool hasCapability = false;
    if (tag != 'F' || !separator(' ') || !readNumber(mode) || !separator(' ') || !readNumber(state) ||
        !separator(' ') || !readNumber(flags) || !separator(' ') || !readField(file.user, quoted) ||
        !separator(' ') || !readField(file.group, quoted) || !separator(' ') ||
        !readField(file.capability, hasCapability) || !separator(' ') || !readField(file.path, quoted) ||
        !quoted || !separator('\n'))
        return Item::Error;
    if (!hasCapability)
        file.capability.clear(); // "(none)": the package records no capabilities at all
    file.mode = static_cast<unsigned>(mode) & 0xFFFFu;
    file.state = static_cast<int>(state);
    file.flags = static_cast<unsigned>(flags);
    return Item::File;
}

bool RpmDatabase::finish(std::string& failure) {
    const int status = m_listing.wait();
    if (exitedWell(status))
        return true;
    failure = describeWaitStatus(status);
    return false;
}

} // namespace helper
