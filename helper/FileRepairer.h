#pragma once

#include "helper/AccountDatabase.h"
#include "helper/PlistReporter.h"
#include "helper/RpmDatabase.h"
#include "helper/UniqueFd.h"

#include <string>
#include <string_view>
#include <sys/stat.h>

namespace helper {

// Compares one packaged file with what is on disk and puts its mode, owner and group back as packaged.
//
// Only regular files and folders in the normal state that are not %ghost are looked at, and only when
// they exist with the packaged type. The file's content is never touched, a missing file is never
// created, and a packaged file replaced by a link leaves the link's target alone: the file is opened as
// itself, never through a link in its last component (links in the folders above it are followed only
// when root owns them; see openInRoot). Every change is made on the descriptor of the object that was
// checked, never again by name: owner and group first (which clears set-ID bits and capabilities), then
// the mode, then the capability the file carried before.
//
// Left alone and reported, never failing the run:
// - an owner or group name the installation does not know;
// - a file whose packaged state grants privileges (set-user-ID, set-group-ID or a capability) when
//   someone other than root and the packaged owner and group could have written its content: giving
//   such content privileges again would hand them to whoever wrote it; reinstalling the package is the
//   cure;
// - a file with several hard links when the system lets users link other people's files
//   (fs.protected_hardlinks off), since a link made that way would bend the change onto another file.
class FileRepairer {
public:
    FileRepairer(int rootFd, const AccountDatabase& accounts, PlistReporter& reporter,
                 bool hardLinksProtected);

    // Checks one file of `package`, reports and repairs what differs. False when a report could not
    // be written (the reader has gone), so the run should stop.
    bool check(const PackagedFile& file, std::string_view package);

    int differing() const { return m_differing; }
    int repaired() const { return m_repaired; }

    // "-rw-r--r--", "drwxr-xr-x", "-rwsr-xr-x": a mode as a listing shows it.
    static std::string modeString(unsigned mode);

private:
    bool leaveAlone(std::string_view path, const std::string& why);
    // Applies owner, group and mode to the object behind `fd`; an empty text or why it failed.
    std::string apply(int fd, const struct stat& found, uid_t uid, gid_t gid, unsigned mode);

    // The descriptor of a file's object, through the folder of the file before when it is the same: a
    // package's files come sorted, so most share their folder with the one before.
    UniqueFd openPackaged(std::string_view path);

    int m_rootFd;
    std::string m_folderPath; // the folder m_folder was opened as
    UniqueFd m_folder;
    const AccountDatabase& m_accounts;
    PlistReporter& m_reporter;
    bool m_hardLinksProtected;
    int m_differing = 0;
    int m_repaired = 0;
};

} // namespace helper
