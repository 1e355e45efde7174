#pragma once

#include "helper/ChildProcess.h"
#include "helper/PackagedFile.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace helper {

// rpm's listing of packages and their files (RpmDatabase's query format) read from a descriptor, a
// package at a time: memory stays bounded however large the listing is. rpm's own notions stay here:
// files not in the normal state (replaced, not installed, …) and %ghost files are skipped, %missingok
// becomes PackagedFile::missingOk, and %verify's mode, user and group flags become PackagedFile::verify.
class RpmListing {
public:
    // The query format it reads: one line per package, then one per file, each line beginning with its
    // kind and `mark`. A file name, last on its line, may hold any byte but NUL, line feeds included,
    // and comes as it is (rpm's quoting of every name costs it more than any other field): it runs to
    // the line feed that is followed by a marked line or ends the listing. A mark drawn at random for the
    // listing (randomMark()) is one no packaged name can have been made to hold: the names are in the
    // database before it is drawn (so it does not matter that rpm's command line shows it to others).
    static std::string format(std::string_view mark);
    // Twelve letters and digits from the kernel's random bytes; empty when none could be had.
    static std::string randomMark();

    // `silenceSeconds`: how long the writer may stay silent before the listing counts as failed.
    RpmListing(int fd, int silenceSeconds, std::string mark)
        : m_fd(fd)
        , m_silenceSeconds(silenceSeconds)
        , m_mark(std::move(mark)) {}

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
    // Reads into the buffer behind what it holds: the bytes read, 0 at the end, -1 when it failed.
    ssize_t readMore();
    // A field up to the next space or line feed, or one in rpm's shell quoting (then `quoted`), unless
    // `bare`: then up to the next space or line feed whatever it holds.
    bool readField(std::string& field, bool& quoted, bool bare = false);
    bool readNumber(long& value);
    // Appends the bytes up to `delimiter` to `field` and steps over it: false when the listing ended or
    // failed first, or the field grew too long.
    bool appendUpTo(std::string& field, char delimiter);
    // A file name and the line feed that ends its line.
    bool readName(std::string& name);
    // Whether a marked line or the end of the listing comes next: 1 or 0, or -1 when it cannot be read.
    int markedLineOrEndAhead();
    Item error(std::string why);

    int m_fd;
    int m_silenceSeconds;
    std::string m_mark;
    std::string m_failure;
    char m_buffer[65536];
    size_t m_position = 0, m_length = 0;
};

// The installation's rpm database, one installation at a time (rpm's --root): where rpm keeps it in sqlite,
// read in this process (readDirectly); otherwise, or when that gives way, through the rpm command at a
// fixed path (rpmPath) with a query format. Nothing here writes to the database. rpm gets `silenceSeconds`
// to answer each read before it is stopped and the query counts as failed.
class RpmDatabase {
public:
    enum class Availability { Present, NoRpm, NoDatabase, Failed };

    RpmDatabase(std::string rpmPath, std::string root, int silenceSeconds);

    // Whether there is a database to read. rpm creates an empty one when asked to read a missing one, so
    // this looks for its files first and starts no query where there are none.
    Availability availability(int rootFd);
    // Reads every package's files into `files` without rpm, telling `packageBegins` of each package with
    // about the share of them read so far: Read when all are in; Stopped when packageBegins returned
    // false; GaveWay, with nothing added to `files`, when the database is not one this reads (another
    // format, the sqlite library missing, a header it does not understand wholly): then rpm lists it.
    // Damaged, with nothing added, when a package's header is broken: rpm would list the others as if
    // that package were not installed, and a path it shares with them would be put back to their values.
    enum class Direct { Read, GaveWay, Damaged, Stopped };
    Direct readDirectly(std::vector<PackagedFile>& files,
                        const std::function<bool(double share)>& packageBegins);
    // Why the last readDirectly() gave way or found damage.
    const std::string& directFailure() const { return m_directFailure; }

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
    // Hands `take` everything rpm writes until it closes its output; false when it stayed silent too long.
    bool readAnswer(ChildProcess& rpm, const std::function<void(const char*, size_t)>& take);

    std::string m_rpmPath, m_root;
    int m_silenceSeconds;
    std::string m_databaseFolder; // inside the root; set once availability() found the database
    UniqueFd m_sqliteFolder;      // the database's folder, where rpm keeps it in sqlite
    std::string m_directFailure;
    double m_databaseBytes = 0; // the size of the database file it found
    UniqueFd m_listingCounts;   // /proc/<listing rpm>/io
    std::string m_failure;
    ChildProcess m_listing;
    RpmListing m_reader{-1, 0, {}};
};

} // namespace helper
