#include "helper/Trust.h"

#include "helper/PathResolver.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sys/xattr.h>

namespace helper {

namespace {

// The kernel's layout of system.posix_acl_access: a little-endian version word (2), then entries.
constexpr uint32_t kAclVersion = 2;
constexpr uint16_t kTagUserObj = 0x01, kTagUser = 0x02, kTagGroupObj = 0x04, kTagGroup = 0x08,
                   kTagMask = 0x10, kTagOther = 0x20;
constexpr uint16_t kPermWrite = 0x02;
constexpr size_t kEntrySize = 8;

uint32_t little(const unsigned char* p, size_t bytes) {
    uint32_t value = 0;
    for (size_t i = bytes; i-- > 0;)
        value = value << 8 | p[i];
    return value;
}

} // namespace

bool aclGrantsOthersWrite(const void* value, size_t size, gid_t gid) {
    const auto* bytes = static_cast<const unsigned char*>(value);
    if (size < 4 || (size - 4) % kEntrySize != 0 || little(bytes, 4) != kAclVersion)
        return true;
    bool maskWrites = true, writes = false;
    for (size_t at = 4; at < size; at += kEntrySize) {
        const uint16_t tag = static_cast<uint16_t>(little(bytes + at, 2));
        const bool write = little(bytes + at + 2, 2) & kPermWrite;
        const uint32_t id = little(bytes + at + 4, 4);
        switch (tag) {
        case kTagMask:
            maskWrites = write;
            break;
        case kTagUser:
        case kTagGroup:
            writes |= write && id != 0;
            break;
        case kTagGroupObj:
            writes |= write && gid != 0;
            break;
        case kTagUserObj:
        case kTagOther: // both also in the mode bits, which the caller looks at
            break;
        default:
            return true;
        }
    }
    return writes && maskWrites;
}

std::string othersMayWrite(int fd, const struct stat& st) {
    if (st.st_uid != 0)
        return "it belongs to a user other than root";
    if ((st.st_mode & S_IWGRP) && st.st_gid != 0)
        return "its group may write it";
    if (st.st_mode & S_IWOTH)
        return "anyone may write it";
    // Where an access control list has entries for other users or groups, the mode's group bits are its
    // mask, which bounds what those entries grant (the kernel keeps the two the same): without group
    // write in the mode no entry grants write, and the list need not be read.
    if (S_ISLNK(st.st_mode) || !(st.st_mode & S_IWGRP))
        return {};
    char path[32];
    unsigned char acl[512];
    ssize_t n = ::getxattr(descriptorPath(fd, path).data(), "system.posix_acl_access", acl, sizeof acl);
    if (n < 0 && (errno == ENODATA || errno == ENOTSUP))
        return {};
    if (n < 0 || aclGrantsOthersWrite(acl, static_cast<size_t>(n), st.st_gid))
        return "an access control list lets others write it";
    return {};
}

} // namespace helper
