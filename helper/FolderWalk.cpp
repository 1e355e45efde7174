#include "helper/FolderWalk.h"

#include "helper/PathResolver.h"
#include "helper/Trust.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace helper {

FolderWalk::FolderWalk(int rootFd)
    : m_rootFd(rootFd) {
    struct stat st {};
    m_rootOthers = ::fstat(rootFd, &st) != 0 || !othersMayWrite(rootFd, st).empty();
    m_rootDevice = st.st_dev;
}

FolderWalk::Folder FolderWalk::top() const {
    return {m_rootFd, m_rootOthers, m_rootOthers ? "/" : "", m_rootDevice};
}

bool FolderWalk::pathOrder(std::string_view a, std::string_view b) {
    // Sorting a whole listing compares long shared prefixes: skip them eight bytes at a time.
    const size_t n = std::min(a.size(), b.size());
    size_t i = 0;
    for (uint64_t x = 0, y = 0; i + 8 <= n; i += 8) {
        std::memcpy(&x, a.data() + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        if (x != y)
            break;
    }
    while (i < n && a[i] == b[i])
        ++i;
    if (i == n)
        return a.size() < b.size();
    const auto rank = [](char c) { return c == '/' ? -1 : static_cast<unsigned char>(c); };
    return rank(a[i]) < rank(b[i]);
}

bool FolderWalk::components(std::string_view path, std::vector<std::string_view>& parts) {
    parts.clear();
    const char* at = path.data();
    const char* const end = at + path.size();
    while (at < end) {
        if (*at == '/') {
            ++at;
            continue;
        }
        const char* stop = at;
        while (stop < end && *stop != '/')
            ++stop;
        const std::string_view part(at, static_cast<size_t>(stop - at));
        if (part == "." || part == "..") {
            parts.clear();
            return false;
        }
        parts.push_back(part);
        at = stop;
    }
    return true;
}

bool FolderWalk::folderOf(std::span<const std::string_view> parts, Folder& folder) {
    if (parts.empty()) {
        errno = EINVAL;
        return false;
    }
    if (!walkTo(parts.first(parts.size() - 1)))
        return false;
    folder = current();
    return true;
}

FolderWalk::Folder FolderWalk::current() const {
    return m_levels.empty() ? top()
                            : Folder{m_levels.back().fd.get(), m_levels.back().others,
                                     m_levels.back().changeable, m_levels.back().status.st_dev};
}

bool FolderWalk::enterFolder(std::span<const std::string_view> parts, Folder& parent, Folder& self,
                             struct stat& status) {
    if (parts.empty()) {
        errno = EINVAL;
        return false;
    }
    if (!walkTo(parts.first(parts.size() - 1)))
        return false;
    parent = current();
    std::string path;
    for (const std::string_view part : parts)
        (path += '/') += part;
    if (!descend(parts.back(), path, false))
        return false;
    self = current();
    status = m_levels.back().status;
    return true;
}

bool FolderWalk::walkTo(std::span<const std::string_view> parts) {
    size_t common = 0;
    while (common < m_levels.size() && common < parts.size() && m_levels[common].name == parts[common])
        ++common;
    m_levels.erase(m_levels.begin() + static_cast<std::ptrdiff_t>(common), m_levels.end());
    // The path walked so far is spelled out only when something is to be opened: most paths add none.
    std::string walked;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i < common)
            continue;
        if (walked.empty())
            for (size_t j = 0; j < i; ++j)
                (walked += '/') += parts[j];
        (walked += '/') += parts[i];
        if (!descend(parts[i], walked))
            return false;
    }
    return true;
}

bool FolderWalk::descend(std::string_view name, const std::string& path, bool followLink) {
    const Folder parent = current();
    UniqueFd fd(::openat(parent.fd, std::string(name).c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0)
        return false;
    Level level{std::string(name), {}, parent.othersCanChange, parent.changeable, st};
    if (S_ISDIR(st.st_mode)) {
        if (!level.others && !othersMayWrite(fd.get(), st).empty()) {
            level.others = true;
            level.changeable = path;
        }
        level.fd = std::move(fd);
    } else if (S_ISLNK(st.st_mode) && followLink) {
        // openInRoot follows it only where the rule trusts it: root's, in folders only root can change.
        bool others = false;
        level.fd = openInRoot(m_rootFd, path, true, &others);
        if (!level.fd || ::fstat(level.fd.get(), &level.status) != 0)
            return false;
        if (others) {
            level.others = true;
            level.changeable = path;
        }
    } else {
        errno = ENOTDIR;
        return false;
    }
    m_levels.push_back(std::move(level));
    return true;
}

} // namespace helper
