#pragma once

#include "helper/AccountDatabase.h"
#include "helper/FolderWalk.h"
#include "helper/PackagedFile.h"
#include "helper/PlistReporter.h"
#include "helper/Reporter.h"

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace helper {

// The check every backend's listing goes through: compares what packages say each path should be with
// what is on disk and puts mode, owner and group back under the path's rule (RepairRule.h).
//
// Only regular files and folders are looked at, and only when they exist with the packaged type. The
// file's content is never touched, a missing file is never created, and a packaged file replaced by a
// link leaves the link's target alone. The folders are reached under FolderWalk's trust rule; the object
// itself is looked at with fstatat() without following a link, and opened (O_PATH) only when something
// is to change, then confirmed to be the object that was checked (device and inode). Every change is made
// on that descriptor, never again by name: owner and group first (which clears set-ID bits and
// capabilities), then the mode, then the capability the file carried before.
//
// Left alone and reported, never failing the run:
// - a path several packages list with different values (checked once, not flipped back and forth);
// - an owner or group name the installation does not know;
// - below a folder anyone but root can write: an object root owns, or one with several hard links;
// - a file with several hard links when the system lets users link other people's files
//   (fs.protected_hardlinks off), since a link made that way would bend the change onto another file;
// - a file that would carry privileges (set-user-ID, set-group-ID or a capability) afterwards, unless
//   nobody but root could have written its content and nobody can write it now: root owns it, no group
//   but root and nobody else may write it, no access control list lets others write it, it has one link,
//   and nobody has it open for writing or mapped writable (a read lease is granted). Otherwise giving it
//   privileges would hand them to whoever wrote it; reinstalling the package is the cure.
class FileRepairer {
public:
    FileRepairer(int rootFd, const AccountDatabase& accounts, Reporter& reporter, bool hardLinksProtected);

    // A check only: everything is looked at and reported as for a repair, and where a repair would change
    // a path it says "Would repair" instead. Nothing is opened for writing and nothing changed.
    void setCheckOnly(bool checkOnly) { m_checkOnly = checkOnly; }

    // Checks every path of `files` once, in path order, all the entries of one path together; reports
    // and repairs what differs. `progress` is told the share of paths done (0 to 1) now and then and
    // returns false to stop. False when a report could not be written (the reader has gone) or
    // `progress` stopped it.
    //
    // What is left alone only because a folder above it was open to others is put off while this pass
    // repairs such folders, then checked again in a pass of its own; passes go on while each repairs a
    // folder, and the last one reports what is still left. Those later passes give no privileges back:
    // whoever could write the folder could have put any program under a privileged name.
    using Progress = std::function<bool(double done)>;
    bool repairAll(std::vector<PackagedFile> files, const Progress& progress);

    // Called with the path between its check and the opening for its change (for tests that swap the
    // object there).
    void setBeforeOpening(std::function<void(std::string_view path)> hook) {
        m_beforeOpening = std::move(hook);
    }

    int differing() const { return m_differing; }
    int repaired() const { return m_repaired; }
    // The paths a change was made to or tried on (in a check: would have been).
    int toRepair() const { return m_toRepair; }

    // "-rw-r--r--", "drwxr-xr-x", "-rwsr-xr-x": a mode as a listing shows it.
    static std::string modeString(unsigned mode);

private:
    bool pass(std::span<const PackagedFile* const> all, const Progress& progress);
    bool checkPath(std::span<const PackagedFile* const> entries);
    bool check(const PackagedFile& file);
    // The packages that list the path being checked, quoted, each once.
    std::string packageNames() const;
    bool leaveAlone(std::string_view path, const std::string& why);
    bool couldNotCheck(std::string_view path, int error);
    // Why privileges may not go on the file behind `fd`, whose status is `found`; empty when they may.
    static std::string privilegeRefusal(int fd, const struct stat& found);
    // Applies owner, group and mode to the object behind `fd`; an empty text or why it failed.
    std::string apply(int fd, const struct stat& found, uid_t uid, gid_t gid, unsigned mode);

    int m_rootFd;
    FolderWalk m_walk;
    const AccountDatabase& m_accounts;
    Reporter& m_reporter;
    bool m_hardLinksProtected;
    bool m_checkOnly = false;
    std::string_view m_nextPath;                    // the path checked after the current one, if any
    std::span<const PackagedFile* const> m_entries; // what the packages say of the current path
    std::vector<std::string_view> m_parts;          // reused: the current path's components
    std::function<void(std::string_view)> m_beforeOpening;
    int m_differing = 0;
    int m_toRepair = 0;
    int m_repaired = 0;
    // This pass's: whether what an open folder holds is put off rather than reported, what was, and how
    // many folders it repaired.
    bool m_putOff = false;
    std::vector<PackagedFile> m_putAside;
    int m_foldersRepaired = 0;
    bool m_foldersWereOpen = false; // a pass after the first: what it looks at was below an open folder
};

} // namespace helper
