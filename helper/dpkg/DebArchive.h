#pragma once

#include <string>
#include <vector>

namespace helper::dpkg {

// What a package's data.tar says of one regular file or folder.
struct DebEntry {
    std::string path;        // absolute and normalised ("./usr/bin/x" becomes "/usr/bin/x")
    unsigned mode = 0;       // S_IFREG or S_IFDIR with the permission bits
    std::string user, group; // names as the archive has them; "#<id>" where it has only a number
    std::string capability;  // "cap_net_raw=ep" (receipts only: dpkg keeps no capabilities); empty for none
};

struct DebLimits {
    size_t maxEntries = 1'000'000; // entries of data.tar
    size_t maxPathLength = 4096;
};

// Reads the headers of the data.tar (xz, zstd, gzip, bzip2, lzma or plain) inside the .deb open on `fd`
// with libarchive; nothing is extracted. Links are left out; a hard link carries the values of the file
// it links to. The whole archive is refused (false, `error` says why) when it is not a Debian package,
// is cut short or corrupt, exceeds the limits, or names a member path that is absolute, has a ".."
// component, or links to a file the archive did not hold before: half of a doubtful archive is not
// trusted either.
bool readDebEntries(int fd, const DebLimits& limits, std::vector<DebEntry>& entries, std::string& error);

// What a package's control file says it is: its Package, Version and Architecture fields (empty where
// it has none), from the control.tar inside the .deb open on `fd` (read from where the descriptor is).
struct DebControl {
    std::string package, version, architecture;
};
bool readDebControl(int fd, DebControl& control, std::string& error);

} // namespace helper::dpkg
