#pragma once

#include "helper/UniqueFd.h"

#include <string_view>

namespace helper {

// Opens what `path` names inside the tree whose top is rootFd, as an O_PATH descriptor of the object
// itself: a symbolic link in the last component is never followed, so the descriptor may be a link.
//
// Links in earlier components are followed only when root owns them and nobody but root can change the
// folders the walk went through to reach them, the top included (see othersMayWrite): a link anyone else
// made, or a root-owned link someone else moved there from elsewhere, could point the walk at a file the
// package does not own. They resolve inside the tree: an absolute target starts again at rootFd, and
// ".." never climbs above it. So "/lib -> usr/lib" in a temporary root leads into that root, never into
// the running system's /usr/lib.
//
// With `followLast` the last component is walked like the others, so the result is always a folder
// (a link root owns is followed to it).
//
// `othersCanChange`, when given, tells whether anyone but root can change one of the folders the object
// was reached through (so its name no longer vouches for what it is).
//
// An empty descriptor with errno set on failure (ENOENT for a missing file, ELOOP for a link it refuses
// or too many links).
UniqueFd openInRoot(int rootFd, std::string_view path, bool followLast = false,
                    bool* othersCanChange = nullptr);

// The same object opened for reading, when it is a regular file; an empty descriptor otherwise.
UniqueFd openFileInRoot(int rootFd, std::string_view path);

// "/proc/self/fd/N": the object behind an O_PATH descriptor for the calls that take no descriptor
// (chmod, getxattr, setxattr). The kernel resolves it to that very object, never by name.
std::string_view descriptorPath(int fd, char (&buffer)[32]);

} // namespace helper
