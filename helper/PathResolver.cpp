#include "helper/PathResolver.h"

#include "helper/Trust.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace helper {

namespace {

constexpr int kMaxLinks = 40; // as the kernel's own limit

// Pushes the components of `path` so that the first one ends up on top of the stack.
void pushComponents(std::vector<std::string>& pending, std::string_view path) {
    std::vector<std::string> components;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view part = path.substr(start, end - start);
        if (!part.empty() && part != ".")
            components.emplace_back(part);
        start = end + 1;
    }
    pending.insert(pending.end(), components.rbegin(), components.rend());
}

} // namespace

UniqueFd openInRoot(int rootFd, std::string_view path, bool followLast, bool* othersCanChange) {
    // The folders walked from the top down, each with whether anyone but root can change it or one above
    // it; the last is the current one.
    struct Folder {
        UniqueFd fd;
        bool others;
    };
    std::vector<Folder> folders;
    struct stat rootStatus {};
    if (::fstat(rootFd, &rootStatus) != 0)
        return {};
    const bool rootOthers = !othersMayWrite(rootFd, rootStatus).empty();
    std::vector<std::string> pending;
    pushComponents(pending, path);
    const auto current = [&] { return folders.empty() ? rootFd : folders.back().fd.get(); };
    const auto others = [&] { return folders.empty() ? rootOthers : folders.back().others; };
    const auto done = [&](UniqueFd fd) {
        if (othersCanChange)
            *othersCanChange = others();
        return fd;
    };
    int links = 0;
    while (!pending.empty()) {
        const std::string name = std::move(pending.back());
        pending.pop_back();
        if (name == "..") {
            if (!folders.empty())
                folders.pop_back(); // never above the top of the tree
            continue;
        }
        UniqueFd next(::openat(current(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!next || (pending.empty() && !followLast))
            return next ? done(std::move(next)) : UniqueFd();
        struct stat st {};
        if (::fstat(next.get(), &st) != 0)
            return {};
        if (S_ISDIR(st.st_mode)) {
            const bool folderOthers = others() || !othersMayWrite(next.get(), st).empty();
            folders.push_back({std::move(next), folderOthers});
            continue;
        }
        if (!S_ISLNK(st.st_mode)) {
            errno = ENOTDIR;
            return {};
        }
        if (st.st_uid != 0 || others() || ++links > kMaxLinks) {
            errno = ELOOP;
            return {};
        }
        char target[PATH_MAX];
        const ssize_t length = ::readlinkat(next.get(), "", target, sizeof target);
        if (length < 0)
            return {};
        if (static_cast<size_t>(length) == sizeof target) {
            errno = ENAMETOOLONG;
            return {};
        }
        if (length > 0 && target[0] == '/')
            folders.clear();
        pushComponents(pending, std::string_view(target, static_cast<size_t>(length)));
    }
    // The path named the top of the tree or ended in "." or "..": the current folder itself.
    return done(UniqueFd(::fcntl(current(), F_DUPFD_CLOEXEC, 0)));
}

UniqueFd openFileInRoot(int rootFd, std::string_view path) {
    const UniqueFd object = openInRoot(rootFd, path);
    struct stat st {};
    if (!object || ::fstat(object.get(), &st) != 0)
        return {};
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return {};
    }
    char buffer[32];
    return UniqueFd(::open(descriptorPath(object.get(), buffer).data(), O_RDONLY | O_CLOEXEC));
}

std::string_view descriptorPath(int fd, char (&buffer)[32]) {
    const int length = std::snprintf(buffer, sizeof buffer, "/proc/self/fd/%d", fd);
    return std::string_view(buffer, static_cast<size_t>(length));
}

} // namespace helper
