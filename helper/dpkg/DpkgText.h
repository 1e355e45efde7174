#pragma once

// The text files of dpkg's database, parsed without touching the disk: each function takes a file's
// whole text and never fails, it leaves out what it cannot read (the fuzzer feeds them anything).

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace helper::dpkg {

// One package of var/lib/dpkg/status that is installed ("<want> ok installed", held ones included).
struct InstalledPackage {
    std::string name;                   // "openssh-client"
    std::string architecture;           // "amd64", "all"
    std::string version;                // with its epoch: "1:9.2p1-2+deb12u6"
    std::vector<std::string> conffiles; // absolute paths; obsolete ones left out
};

// The installed packages, in the file's order. A stanza with a name, version or architecture outside
// dpkg's own alphabet is left out and counted in `refused` (those strings become file names).
std::vector<InstalledPackage> parseStatus(std::string_view text, size_t* refused = nullptr);

// One line of var/lib/dpkg/statoverride: "owner group mode path". Owner and group are names or "#id".
struct StatOverride {
    std::string user, group;
    unsigned mode = 0; // permission bits only
    std::string path;
};
std::vector<StatOverride> parseStatOverrides(std::string_view text);

// var/lib/dpkg/diversions: three lines per diversion (from, to, the diverting package or ":").
struct Diversion {
    std::string from, to, package;
};
std::vector<Diversion> parseDiversions(std::string_view text);

// The absolute paths a maintainer script's text names: every run of path characters, from its first '/'
// ("$DPKG_ROOT/usr/bin/x" names "/usr/bin/x"), normalised. Generous on purpose: a false name only makes
// the rule for that path more careful.
std::set<std::string> scriptPaths(std::string_view text);

// An absolute path with "//", "/./" and a trailing '/' folded away; empty when it is not absolute or
// has a ".." component.
std::string normalisePath(std::string_view path);

// A line of var/log/dpkg.log saying dpkg finished configuring a package:
// "2024-05-01 10:00:00 status installed sudo:amd64 1.9.13p3-1". False for every other line.
struct ConfiguredLine {
    std::string time; // "2024-05-01 10:00:00"
    std::string name, architecture, version;
};
bool parseConfiguredLine(std::string_view line, ConfiguredLine& out);

// A file's security.capability attribute (struct vfs_cap_data, revisions 1 to 3) as text: clauses
// "cap_a,cap_b=<flags>" (flags of "eip"), one per distinct set of flags, as libcap writes and reads them
// ("cap_net_raw=ep"); empty for an attribute granting nothing. None for what cannot be read or stands
// for a capability of another user namespace (a revision 3 attribute with a root id other than 0).
std::optional<std::string> capabilityText(std::string_view attribute);

// Whether a string is a valid package name, architecture or version (dpkg's alphabets).
bool validPackageName(std::string_view name);
bool validArchitecture(std::string_view architecture);
bool validVersion(std::string_view version);

} // namespace helper::dpkg
