#pragma once

// What reading the database and recording receipts share: files of dpkg's database inside the volume.

#include "helper/UniqueFd.h"
#include "helper/dpkg/DpkgText.h"

#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unordered_set>

namespace helper::dpkg {

// A file's whole text, opened with openFileInRoot below the folder `folderFd` (the volume's top, or a
// folder in it walked to once); none when it is missing, not a regular file, unreadable or larger than
// maxSize.
std::optional<std::string> readVolumeFile(int folderFd, std::string_view path, size_t maxSize);

// A regular file named `name` (one component) in the folder open on folderFd, opened for reading without
// following a link or blocking on a FIFO (`found`: what fstat says of it); an empty descriptor for
// anything else.
UniqueFd openRegularAt(int folderFd, const std::string& name, struct stat* found = nullptr);

// var/lib/dpkg/info, walked to and listed once, so that a package's files that are not there (most
// maintainer scripts) cost no look-up each.
class InfoFolder {
public:
    explicit InfoFolder(int rootFd);

    // Whether the folder holds `name` (always true when it could not be listed: then each is looked at).
    bool has(const std::string& name) const { return !m_listed || m_names.count(name) > 0; }
    std::optional<std::string> read(const std::string& name, size_t maxSize) const;

    // The name of a package's files without their suffix: "<name>:<architecture>" when its .list file
    // has that name (Multi-Arch: same), else "<name>".
    std::string prefix(const InstalledPackage& package) const;
    // The paths of a package's .list file, normalised ("/." and unreadable lines left out).
    std::unordered_set<std::string> listedPaths(const std::string& prefix) const;

private:
    UniqueFd m_fd;
    bool m_listed = false;
    std::unordered_set<std::string> m_names;
};

// "name:architecture version", as reports name a package.
std::string describePackage(const InstalledPackage& package);

} // namespace helper::dpkg
