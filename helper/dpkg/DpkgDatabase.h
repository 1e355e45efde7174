#pragma once

// dpkg's database as a stream of helper::PackagedFile: what each installed package says its regular
// files and folders should be, and under which rule. Everything inside the volume is opened through
// openInRoot/openFileInRoot from the volume's descriptor, never by a path name.
//
// Where the values come from, per package (name, version and architecture as installed):
//   1. a receipt recorded right after dpkg configured that version (recordPermissions); else
//   2. this tool's metadata cache of that version's data.tar (var/lib/varnel/cache/packages: one file
//      for every installed version, replaced whole once at the end of a run that learnt something); else
//   3. the .deb of exactly that version in var/cache/apt/archives (or what DpkgOptions::fetchArchive
//      hands over), read with libarchive, its headers only; the cache learns it.
//   A package none of these covers is listed in notCompared, never guessed, and problems say why.
// Only paths the package's info/<package>.list still holds count (another package may have taken a file
// over); a diverted path is yielded where dpkg-divert moved it.
//
// The rule of each record (first match):
//   - var/lib/dpkg/statoverride names the path: its owner, group and mode, Rule::Exact;
//   - a receipt holds the path: the receipt's values, Rule::Exact (a conffile: Rule::UndoDamage);
//   - a path under /usr (or /bin, /sbin, /lib*, which merged-/usr systems link there) that is no
//     conffile and that none of the package's maintainer scripts names (the path or a folder at least
//     three deep above it): data.tar's values, Rule::Exact;
//   - anything else (conffiles, /etc, /var, /opt, paths a script names): data.tar's values,
//     Rule::UndoDamage, since maintainer scripts and administrators change those without a record.
// Conffiles are missingOk (an administrator may delete one and dpkg respects that). Directory records for
// /bin, /sbin, /lib* are left out where the volume has a root-owned link there (merged /usr).

#include "helper/PackagedFile.h"
#include "helper/UniqueFd.h"
#include "helper/dpkg/DebArchive.h"
#include "helper/dpkg/DpkgText.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace helper::dpkg {

struct DpkgListing {
    std::vector<PackagedFile> files;      // in the status file's package order, each in its archive's order
    size_t packages = 0;                  // installed packages read
    std::vector<std::string> notCompared; // "name:architecture version" of packages with no source of values
    std::vector<std::string> problems;    // one line each: something left out, and why
};

struct DpkgOptions {
    unsigned threads = 0;   // threads reading archives; 0: one per core
    bool readCache = true;  // use var/lib/varnel/cache
    bool writeCache = true; // and add to it what was read from archives (needs root's own store)
    bool readReceipts = true;
    DebLimits limits;
    // Where an archive comes from when the apt cache lacks it: an open descriptor of exactly that version,
    // or an empty one and why (one line, for the problems). Unset: the apt cache only. Called from several
    // threads at once. For the running system, AptDownloader::fetch (AptDownload.h).
    std::function<UniqueFd(const InstalledPackage&, std::string& problem)> fetchArchive;
};

// How far the reading is (0–100, never going back) and what it does; called from one thread at a time.
using DpkgProgress = std::function<void(int percent, std::string_view stage)>;

// Whether the volume has a dpkg database (var/lib/dpkg/status, a regular file).
bool hasDpkgDatabase(int rootFd);
// Whether that database lists an installed package (needs no root: the status file is readable by all).
// True when the status file is there but cannot be read now: the run itself then says why.
bool hasInstalledPackages(int rootFd);

// Reads the database; none, with `failure` set, when the status file itself cannot be read.
std::optional<DpkgListing> readDpkgDatabase(int rootFd, const DpkgOptions& options = {},
                                            const DpkgProgress& progress = {},
                                            std::string* failure = nullptr);

// Records receipts: owner, group, mode and capabilities (security.capability, as text) of the regular
// files and folders of every package that var/log/dpkg.log says dpkg configured since the last recording
// ("status installed <pkg>:<arch> <ver>" for the version installed now), in the root-only store
// var/lib/varnel/receipts. The first recording on a volume records no package, only where the log ends,
// so damage done before this tool was installed is never taken for the truth. A path whose folder someone
// other than root may write, or whose capability cannot be read, is not recorded (its data.tar value
// stays in force). `recorded` gets "name:architecture" of each package recorded; the receipts of its
// other versions are removed. False, with `failure`, when the store or the database could not be used.
bool recordPermissions(int rootFd, std::vector<std::string>& recorded, std::string& failure);

} // namespace helper::dpkg
