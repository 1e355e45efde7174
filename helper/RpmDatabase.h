#pragma once

#include "helper/ChildProcess.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace helper {

// One file as the rpm database records it.
struct PackagedFile {
    // The values of rpm's file state and file flag tags this tool looks at.
    static constexpr int kStateNormal = 0;
    static constexpr unsigned kFlagMissingOk = 1u << 3;
    static constexpr unsigned kFlagGhost = 1u << 6;

    std::string path;       // absolute, as inside the installation
    unsigned mode = 0;      // type and permission bits
    int state = 0;          // kStateNormal, or replaced, not installed, …
    unsigned flags = 0;     // %config, %doc, %ghost, …
    std::string user;       // owner's name
    std::string group;      // group's name
    std::string capability; // e.g. "cap_net_raw=ep"; empty for none
};

// The installation's rpm database, read through the rpm command at a fixed path (rpmPath) with a query
// format, one installation at a time (rpm's --root). Nothing here writes to the database.
class RpmDatabase {
public:
    enum class Availability { Present, NoRpm, NoDatabase, Failed };

    RpmDatabase(std::string rpmPath, std::string root);

    // Whether there is a database to read. rpm creates an empty one when asked to read a missing one, so
    // this looks for its files first and starts no query where there are none.
    Availability availability(int rootFd);
    // The number of installed packages; none when rpm failed.
    std::optional<long> countPackages();

    // Starts the listing of every package's files; then next() yields, in the database's order, a
    // package (its name; the files that follow are its own) or a file, one at a time: memory stays
    // bounded however large the database is.
    bool startListing();
    enum class Item { Package, File, End, Error };
    Item next(std::string& package, PackagedFile& file);
    // After End: whether rpm itself ended well; a description of how it ended otherwise.
    bool finish(std::string& failure);

private:
    int readByte();
    int peekByte();
    bool readField(std::string& field, bool& quoted);
    bool readNumber(long& value);
    std::vector<std::string> commandLine(std::vector<std::string> query) const;

    std::string m_rpmPath, m_root;
    std::string m_databaseFolder; // inside the root; set once availability() found the database
    ChildProcess m_listing;
    char m_buffer[65536];
    size_t m_position = 0, m_length = 0;
};

} // namespace helper
