#pragma once

// What reading the database and recording receipts share: files of dpkg's database inside the volume.

#include "helper/dpkg/DpkgText.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

namespace helper::dpkg {

// A file's whole text, opened with openFileInRoot below the folder `folderFd` (the volume's top, or a
// folder in it walked to once); none when it is missing, not a regular file, unreadable or larger than
// maxSize.
std::optional<std::string> readVolumeFile(int folderFd, std::string_view path, size_t maxSize);

// The name of a package's files in var/lib/dpkg/info (open on infoFd) without their suffix:
// "<name>:<architecture>" when its .list file has that name (Multi-Arch: same), else "<name>".
std::string infoPrefix(int infoFd, const InstalledPackage& package);

// The paths of a package's .list file, normalised ("/." and unreadable lines left out).
std::unordered_set<std::string> listedPaths(int infoFd, const std::string& prefix);

// "name:architecture version", as reports name a package.
std::string describePackage(const InstalledPackage& package);

} // namespace helper::dpkg
