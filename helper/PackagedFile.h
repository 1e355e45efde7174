#pragma once

#include <string>

namespace helper {

// What a package database says one path should be: the common currency of every backend (rpm's listing,
// dpkg's archives and receipts) and of the check that compares it with the disk.
struct PackagedFile {
    std::string package;    // the package that installed it
    std::string path;       // absolute, as inside the installation ("/usr/bin/sudo")
    unsigned mode = 0;      // file type and permission bits, as st_mode holds them
    std::string user;       // owner's name
    std::string group;      // group's name
    std::string capability; // e.g. "cap_net_raw=ep"; empty for none

    // The attributes the package vouches for; rpm's %verify(not mode), (not user), (not group) clear some.
    static constexpr unsigned kVerifyMode = 1u << 0;
    static constexpr unsigned kVerifyUser = 1u << 1;
    static constexpr unsigned kVerifyGroup = 1u << 2;
    unsigned verify = kVerifyMode | kVerifyUser | kVerifyGroup;

    bool missingOk = false; // its absence is normal and not worth a report

    // How far the values are the truth. Exact: put back as recorded, bits added and bits lost alike.
    // UndoDamage: where administrators and maintainer scripts legitimately change things, only take away
    // what the package does not grant; never widen, never remove a set-ID bit.
    enum class Rule { Exact, UndoDamage };
    Rule rule = Rule::Exact;
};

} // namespace helper
