#include "helper/FileRepairer.h"

#include "helper/PathResolver.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace helper {

namespace {

constexpr const char* kCapabilityAttribute = "security.capability";

const char* typeName(unsigned mode) {
    switch (mode & S_IFMT) {
    case S_IFREG:
        return "a file";
    case S_IFDIR:
        return "a folder";
    case S_IFLNK:
        return "a symbolic link";
    default:
        return "a special file";
    }
}

// The security.capability attribute of the object behind an O_PATH descriptor: false when it could not
// be read; `value` is empty when the file has none.
bool readCapability(int fd, std::vector<char>& value) {
    char path[32];
    value.resize(256); // a capability attribute is at most 24 bytes
    const ssize_t n =
        ::getxattr(descriptorPath(fd, path).data(), kCapabilityAttribute, value.data(), value.size());
    if (n < 0) {
        value.clear();
        return errno == ENODATA || errno == ENOTSUP;
    }
    value.resize(static_cast<size_t>(n));
    return true;
}

} // namespace

FileRepairer::FileRepairer(int rootFd, const AccountDatabase& accounts, PlistReporter& reporter,
                           bool hardLinksProtected)
    : m_rootFd(rootFd)
    , m_accounts(accounts)
    , m_reporter(reporter)
    , m_hardLinksProtected(hardLinksProtected) {}

std::string FileRepairer::modeString(unsigned mode) {
    std::string s = S_ISDIR(mode) ? "d" : S_ISLNK(mode) ? "l" : S_ISREG(mode) ? "-" : "?";
    const char* letters = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        s += (mode & (0400u >> i)) ? letters[i] : '-';
    const auto special = [&](size_t at, unsigned bit, char withExecute, char without) {
        if (mode & bit)
            s[at] = s[at] == 'x' ? withExecute : without;
    };
    special(3, S_ISUID, 's', 'S');
    special(6, S_ISGID, 's', 'S');
    special(9, S_ISVTX, 't', 'T');
    return s;
}

UniqueFd FileRepairer::openPackaged(std::string_view path) {
    const size_t slash = path.rfind('/');
    const std::string_view folder =
        slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
    const std::string_view name = path.substr(slash == std::string_view::npos ? 0 : slash + 1);
    if (name.empty() || name == "." || name == "..")
        return openInRoot(m_rootFd, path);
    if (!m_folder || folder != m_folderPath) {
        m_folderPath.clear();
        m_folder = openInRoot(m_rootFd, folder, true);
        if (!m_folder)
            return {};
        m_folderPath = folder;
    }
    return UniqueFd(::openat(m_folder.get(), std::string(name).c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
}

bool FileRepairer::leaveAlone(std::string_view path, const std::string& why) {
    return m_reporter.message(PlistReporter::quoted(path) + " " + why);
}

bool FileRepairer::check(const PackagedFile& file, std::string_view package) {
    const unsigned type = file.mode & S_IFMT;
    if (file.state != PackagedFile::kStateNormal || (file.flags & PackagedFile::kFlagGhost) ||
        (type != S_IFREG && type != S_IFDIR))
        return true;
    const std::string_view path = file.path;
    const UniqueFd fd = openPackaged(path);
    if (!fd) {
        if (errno == ENOENT)
            return (file.flags & PackagedFile::kFlagMissingOk) ||
                   leaveAlone(path, "is missing; it was not created.");
        return m_reporter.message("Could not check " + PlistReporter::quoted(path) + ": " +
                                  std::strerror(errno) + ".");
    }
    struct stat found {};
    if (::fstat(fd.get(), &found) != 0)
        return m_reporter.message("Could not check " + PlistReporter::quoted(path) + ": " +
                                  std::strerror(errno) + ".");
    if ((found.st_mode & S_IFMT) != type)
        return leaveAlone(path, std::string("should be ") + typeName(type) + " but is " +
                                    typeName(found.st_mode) + "; it was left alone.");

    const std::optional<uid_t> uid = m_accounts.userId(file.user);
    const std::optional<gid_t> gid = m_accounts.groupId(file.group);
    if (!uid || !gid)
        return leaveAlone(path, "should belong to " + std::string(uid ? "group " : "user ") +
                                    PlistReporter::quoted(uid ? file.group : file.user) +
                                    ", which this system does not know; it was left alone.");

    const unsigned mode = file.mode & 07777u, foundMode = found.st_mode & 07777u;
    const bool modeDiffers = mode != foundMode, ownerDiffers = *uid != found.st_uid,
               groupDiffers = *gid != found.st_gid;
    if (!modeDiffers && !ownerDiffers && !groupDiffers)
        return true;
    ++m_differing;
    const std::string quoted = PlistReporter::quoted(path);
    if (modeDiffers &&
        !m_reporter.message("Permissions differ on " + quoted + "; should be " + modeString(file.mode) +
                            " , they are " + modeString(found.st_mode) + " ."))
        return false;
    if (ownerDiffers && !m_reporter.message("Owner differs on " + quoted + "; should be " + file.user +
                                            " , it is " + m_accounts.userName(found.st_uid) + " ."))
        return false;
    if (groupDiffers && !m_reporter.message("Group differs on " + quoted + "; should be " + file.group +
                                            " , it is " + m_accounts.groupName(found.st_gid) + " ."))
        return false;

    if (type == S_IFREG) {
        std::vector<char> capability;
        const bool privileged = (mode & (S_ISUID | S_ISGID)) || !file.capability.empty() ||
                                !readCapability(fd.get(), capability) || !capability.empty();
        const bool writableByOthers =
            (found.st_uid != 0 && found.st_uid != *uid) ||
            ((found.st_mode & S_IWGRP) && found.st_gid != 0 && found.st_gid != *gid) ||
            (found.st_mode & S_IWOTH);
        if (privileged && writableByOthers)
            return leaveAlone(path, "was not repaired: it should carry privileges (set-user-ID, set-group-ID "
                                    "or capabilities), and users other than its packaged owner could have "
                                    "changed its content. Reinstall the package " +
                                        PlistReporter::quoted(package) + ".");
        if (found.st_nlink > 1 && !m_hardLinksProtected)
            return leaveAlone(path, "was not repaired: it has several hard links, and this system lets users "
                                    "link other users' files (fs.protected_hardlinks is off).");
    }

    const std::string failure = apply(fd.get(), found, *uid, *gid, mode);
    if (!failure.empty())
        return m_reporter.message("Could not repair " + quoted + ": " + failure + ".");
    ++m_repaired;
    return m_reporter.message("Repaired " + quoted + ".");
}

std::string FileRepairer::apply(int fd, const struct stat& found, uid_t uid, gid_t gid, unsigned mode) {
    char path[32];
    const char* object = descriptorPath(fd, path).data();
    std::vector<char> capability;
    if (found.st_uid != uid || found.st_gid != gid) {
        if (S_ISREG(found.st_mode) && !readCapability(fd, capability))
            return std::string("its capabilities could not be read: ") + std::strerror(errno);
        if (::fchownat(fd, "", found.st_uid != uid ? uid : static_cast<uid_t>(-1),
                       found.st_gid != gid ? gid : static_cast<gid_t>(-1), AT_EMPTY_PATH) != 0)
            return std::strerror(errno);
    }
    // fchmod() refuses an O_PATH descriptor and fchmodat() cannot take an empty path for a mode, so the
    // mode goes through the descriptor's /proc entry, which names this object and no other. The kernel
    // may have dropped set-ID bits with the owner change, hence a fresh look.
    struct stat now {};
    if (::fstat(fd, &now) != 0)
        return std::strerror(errno);
    if ((now.st_mode & 07777u) != mode && ::chmod(object, mode) != 0)
        return std::strerror(errno);
    if (!capability.empty() &&
        ::setxattr(object, kCapabilityAttribute, capability.data(), capability.size(), 0) != 0)
        return std::string("its capabilities, dropped with the owner change, could not be put back: ") +
               std::strerror(errno);
    if (::fstat(fd, &now) != 0)
        return std::strerror(errno);
    if (now.st_uid != uid || now.st_gid != gid || (now.st_mode & 07777u) != mode)
        return "the change did not hold";
    return {};
}

} // namespace helper
