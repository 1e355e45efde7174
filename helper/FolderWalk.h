#pragma once

#include "helper/UniqueFd.h"

#include <span>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace helper {

// The walk to the folders of packaged paths, and the trust rule every backend's files are checked under.
//
// The rule: below a folder that anyone but root can write (see othersMayWrite: another owner, a group
// other than root with write, write for everyone, an access control list entry granting write), nothing
// is trusted because of its owner. Whoever can write such a folder can rename what is in it, move in
// what she owns, and hard-link there files of others; so below it the walk follows no symbolic link, not
// even one root owns, and the check changes no object that root owns or that has several hard links
// (FileRepairer leaves such objects alone and reports them). A folder's trust is taken from what the walk
// found, before any repair. What was put off for that is looked at again in a pass of its own once the
// folders above it have been repaired (FileRepairer::repairAll), with a new walk that finds them closed:
// what running the repair again would do, without asking the user to.
//
// Elsewhere a link in a folder is followed only when root owns it, inside the installation (openInRoot);
// a link in the last component of a path is never followed by anyone.
//
// Paths come in an order where each folder's entries follow it (pathOrder), so the walk keeps the
// descriptors of the folders on the current path and opens only what the next path adds.
class FolderWalk {
public:
    explicit FolderWalk(int rootFd);

    struct Folder {
        int fd = -1;
        bool othersCanChange = false; // anyone but root can change this folder or one above it
        std::string changeable;       // then the first such folder on the way, as a path
        dev_t device = 0;             // the file system it is on
    };
    // The folder that holds the last of `parts`, the components of a plain absolute path (components()).
    // False with errno set when it cannot be reached (ELOOP: a link the rule does not follow).
    bool folderOf(std::span<const std::string_view> parts, Folder& folder);
    // Walks into the folder `parts` name when the last of them is a folder itself (no link followed
    // there), giving the folder that holds it, its own descriptor and its status as the walk found them:
    // a check needs no look of its own at a folder the walk goes into anyway, and the folder's trust, for
    // what is below it, is taken from what it is now, before a change to it. False otherwise (missing, a
    // link, another type: errno tells), with `parent` filled in when the walk reached it.
    bool enterFolder(std::span<const std::string_view> parts, Folder& parent, Folder& self,
                     struct stat& status);

    // The top of the installation as a folder.
    Folder top() const;

    // "/a/b" before "/a/b/c" before "/a/b-c": byte order with '/' first, so a folder's entries follow it.
    static bool pathOrder(std::string_view a, std::string_view b);
    // The components of a path into `parts` (views into `path`); false, with `parts` empty, when one of
    // them is "." or "..".
    static bool components(std::string_view path, std::vector<std::string_view>& parts);

private:
    struct Level {
        std::string name;
        UniqueFd fd;
        bool others = false;
        std::string changeable;
        struct stat status {}; // as the walk found it (what a link led to, for a link)
    };
    bool walkTo(std::span<const std::string_view> parts);
    bool descend(std::string_view name, const std::string& path, bool followLink = true);
    Folder current() const;

    int m_rootFd;
    bool m_rootOthers = true;
    dev_t m_rootDevice = 0;
    std::vector<Level> m_levels; // the folders below the top on the current path
};

} // namespace helper
