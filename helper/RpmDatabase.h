#pragma once

#include "helper/ChildProcess.h"
#include "helper/PackagedFile.h"

#include <optional>
#include <string>
#include <vector>

namespace helper {

// rpm's listing of packages and their files (RpmDatabase's query format) read from a descriptor, a
// package at a time: memory stays bounded however large the listing is. rpm's own notions stay here:
// files not in the normal state (replaced, not installed, …) and %ghost files are skipped, %missingok
// becomes PackagedFile::missingOk, and %verify's mode, user and group flags become PackagedFile::verify.
class RpmListing {
public:
    // The query format it reads: one line per package, then one per file.
    static const char* const kFormat;

    // `silenceSeconds`: how long the writer may stay silent before the listing counts as failed.
    RpmListing(int fd, int silenceSeconds)
        : m_fd(fd)
        , m_silenceSeconds(silenceSeconds) {}

    enum class Item { Package, File, End, Error };
    // Package: a new package begins (its name in `file.package`); File: one of its files, `file` filled
    // in. After Error, failure() says what went wrong.
    Item next(PackagedFile& file);
    const std::string& failure() const { return m_failure; }

private:
    // The next byte, or -1 at the end of the listing, -2 when it cannot be read.
    int readByte() {
        const int c = peekByte();
        m_position += c >= 0;
        return c;
    }
    int peekByte() {
        return m_position < m_length ? static_cast<unsigned char>(m_buffer[m_position]) : refill();
    }
    int refill();
    bool fill() { return m_position < m_length || refill() >= 0; } // false at the end or a failed read
    // A field up to the next space or line feed, or one in rpm's shell quoting (then `quoted`), unless
    // `bare`: then up to the next space or line feed whatever it holds.
    bool readField(std::string& field, bool& quoted, bool bare = false);
    bool readNumber(long& value);
    Item error(std::string why);

    int m_fd;
    int m_silenceSeconds;
    std::string m_failure;
    char m_buffer[65536];
    size_t m_position = 0, m_length = 0;
};

// The installation's rpm database, read through the rpm command at a fixed path (rpmPath) with a query
// format, one installation at a time (rpm's --root). Nothing here writes to the database. rpm gets
// `silenceSeconds` to answer each read before it is stopped and the query counts as failed.
class RpmDatabase {
public:
    enum class Availability { Present, NoRpm, NoDatabase, Failed };

    RpmDatabase(std::string rpmPath, std::string root, int silenceSeconds);

    // Whether there is a database to read. rpm creates an empty one when asked to read a missing one, so
    // this looks for its files first and starts no query where there are none.
    Availability availability(int rootFd);
    // The number of installed packages; none when rpm failed.
    std::optional<long> countPackages();

    // Starts the listing of every package's files, to be read with listing(). Its package lines count the
    // packages; how far it has come is told by listingShare().
    bool startListing();
    RpmListing& listing() { return m_reader; }
    // About the share of the listing rpm has written, 0 to 1: what it has read (the kernel's count of its
    // reads) against the size of the database; none when that cannot be told.
    std::optional<double> listingShare();
    // About how many files the listing will hold, from the database's size, erring on the high side (a
    // header takes a few hundred bytes a file): room for the entries is made once.
    size_t expectedFiles() const;
    // After End: whether rpm itself ended well.
    bool finish();

    // Why the last step failed, as a message clause ("rpm (/usr/bin/rpm) cannot be run: …").
    const std::string& failure() const { return m_failure; }

private:
    std::vector<std::string> commandLine(std::vector<std::string> query) const;
    bool start(ChildProcess& rpm, std::vector<std::string> query);
    bool ended(ChildProcess& rpm, const char* doing);

    std::string m_rpmPath, m_root;
    int m_silenceSeconds;
    std::string m_databaseFolder; // inside the root; set once availability() found the database
    double m_databaseBytes = 0;   // the size of the database file it found
    UniqueFd m_listingCounts;     // /proc/<listing rpm>/io
    std::string m_failure;
    ChildProcess m_listing;
    RpmListing m_reader{-1, 0};
};

} // namespace helper
