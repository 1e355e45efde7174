#pragma once

#include <string>
#include <sys/stat.h>

namespace helper {

// Who besides root could write the object behind `fd` (any descriptor, O_PATH included) whose status
// is `st`: an empty text when nobody but root can, otherwise why not, as a message clause ("anyone may
// write it"). Counted as others: an owner other than root, a group other than root with write, write
// for everyone, and a POSIX access control list entry that grants write to a user or group other than
// root (read from system.posix_acl_access, only when the mode's group bits, which are the list's mask,
// hold write; an entry the mask withholds write from grants none).
// A list that cannot be read or understood counts as granting write.
std::string othersMayWrite(int fd, const struct stat& st);

// The same for the text of a system.posix_acl_access attribute alone: whether it grants write to a user
// or group other than root (for a file whose group is `gid`).
bool aclGrantsOthersWrite(const void* value, size_t size, gid_t gid);

} // namespace helper
