#include "helper/FolderWalk.h"

#include "helper/PathResolver.h"
#include "helper/Trust.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace helper {

FolderWalk::FolderWalk(int rootFd)
    : m_rootFd(rootFd) {
    struct stat st {};
    m_rootOthers = ::fstat(rootFd, &st) != 0 || !othersMayWrite(rootFd, st).empty();
}

FolderWalk::Folder FolderWalk::top() const {
    return {m_rootFd, m_rootOthers, m_rootOthers ? "/" : ""};
}

bool FolderWalk::pathOrder(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    const auto [at, _] = std::mismatch(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n), b.begin());
    if (at == a.begin() + static_cast<std::ptrdiff_t>(n))
        return a.size() < b.size();
    const size_t i = static_cast<size_t>(at - a.begin());
    const auto rank = [](char c) { return c == '/' ? -1 : static_cast<unsigned char>(c); };
    return rank(a[i]) < rank(b[i]);
}

std::vector<std::string_view> FolderWalk::components(std::string_view path, bool& plain) {
    std::vector<std::string_view> out;
    plain = true;
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view part = path.substr(start, end - start);
        if (part == "." || part == "..") {
            plain = false;
            return {};
        }
        if (!part.empty())
            out.push_back(part);
        start = end + 1;
    }
    return out;
}

bool FolderWalk::folderOf(std::string_view path, Folder& folder) {
    bool plain = true;
    std::vector<std::string_view> parts = components(path, plain);
    if (!plain || parts.empty()) {
        errno = EINVAL;
        return false;
    }
    parts.pop_back();
    if (!walkTo(parts))
        return false;
    folder = current();
    return true;
}

FolderWalk::Folder FolderWalk::current() const {
    return m_levels.empty()
               ? top()
               : Folder{m_levels.back().fd.get(), m_levels.back().others, m_levels.back().changeable};
}

bool FolderWalk::enterFolder(std::string_view path, Folder& parent, Folder& self, struct stat& status) {
    bool plain = true;
    std::vector<std::string_view> parts = components(path, plain);
    if (!plain || parts.empty()) {
        errno = EINVAL;
        return false;
    }
    const std::string_view name = parts.back();
    parts.pop_back();
    if (!walkTo(parts))
        return false;
    parent = current();
    if (!descend(name, std::string(path), false))
        return false;
    self = current();
    status = m_levels.back().status;
    return true;
}

bool FolderWalk::enter(std::string_view path) {
    bool plain = true;
    const std::vector<std::string_view> parts = components(path, plain);
    return plain && walkTo(parts);
}

bool FolderWalk::walkTo(const std::vector<std::string_view>& parts) {
    size_t common = 0;
    while (common < m_levels.size() && common < parts.size() && m_levels[common].name == parts[common])
        ++common;
    m_levels.erase(m_levels.begin() + static_cast<std::ptrdiff_t>(common), m_levels.end());
    std::string walked;
    for (size_t i = 0; i < parts.size(); ++i) {
        walked += '/';
        walked += parts[i];
        if (i >= common && !descend(parts[i], walked))
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
