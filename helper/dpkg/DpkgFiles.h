#pragma once

// What reading the database and recording receipts share: files of dpkg's database inside the volume.

#include "helper/dpkg/DpkgText.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

namespace helper::dpkg {

// A file's whole text, opened with openFileInRoot; none when it is missing, not a regular file,
// unreadable or larger than maxSize.
std::optional<std::string> readVolumeFile(int rootFd, std::string_view path, size_t maxSize);

// "var/lib/dpkg/info/<name>:<architecture>" when that package's list file has that name (Multi-Arch:
// same), else "var/lib/dpkg/info/<name>".
std::string infoPrefix(int rootFd, const InstalledPackage& package);

// The paths of a package's .list file, normalised ("/." and unreadable lines left out).
std::unordered_set<std::string> listedPaths(int rootFd, const std::string& prefix);

// "name:architecture version", as reports name a package.
std::string describePackage(const InstalledPackage& package);

} // namespace helper::dpkg
