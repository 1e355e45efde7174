#include "helper/FileRepairer.h"

#include "helper/PathResolver.h"
#include "helper/RepairRule.h"
#include "helper/Trust.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

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

bool checkedType(unsigned mode) {
    return S_ISREG(mode) || S_ISDIR(mode);
}

} // namespace

FileRepairer::FileRepairer(int rootFd, const AccountDatabase& accounts, Reporter& reporter,
                           bool hardLinksProtected)
    : m_rootFd(rootFd)
    , m_walk(rootFd)
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

bool FileRepairer::repairAll(std::vector<PackagedFile> files, const Progress& progress) {
    // Checked in path order through pointers: an entry is large to move about, so each stays put.
    std::vector<const PackagedFile*> order;
    order.reserve(files.size());
    for (const PackagedFile& f : files)
        if (checkedType(f.mode))
            order.push_back(&f);
    std::stable_sort(order.begin(), order.end(), [](const PackagedFile* a, const PackagedFile* b) {
        return FolderWalk::pathOrder(a->path, b->path);
    });
    // At most one pass per level of folders that can be open to others; a path is far shallower.
    constexpr int kMaxPasses = 64;
    bool putOff = true;
    std::vector<PackagedFile> putOffBefore; // what the passes after the first look at
    for (int passes = 1;; ++passes) {
        m_putOff = putOff && passes < kMaxPasses;
        m_putAside.clear();
        m_foldersRepaired = 0;
        if (!pass(order, progress))
            return false;
        if (m_putAside.empty())
            return true;
        putOffBefore = std::move(m_putAside); // put aside in path order
        order.clear();
        for (const PackagedFile& f : putOffBefore)
            order.push_back(&f);
        putOff = m_foldersRepaired > 0; // nothing opened up: the next pass is the last and reports them
        m_walk = FolderWalk(m_rootFd);  // the folders as they are now
        m_foldersWereOpen = true;
    }
}

bool FileRepairer::pass(std::span<const PackagedFile* const> all, const Progress& progress) {
    for (size_t begin = 0; begin < all.size();) {
        size_t end = begin + 1;
        while (end < all.size() && all[end]->path == all[begin]->path)
            ++end;
        m_nextPath = end < all.size() ? std::string_view(all[end]->path) : std::string_view();
        if (!checkPath(all.subspan(begin, end - begin)))
            return false;
        begin = end;
        if (progress && !progress(static_cast<double>(begin) / static_cast<double>(all.size())))
            return false;
    }
    return true;
}

std::string FileRepairer::packageNames() const {
    std::string names;
    for (const PackagedFile* e : m_entries) {
        const std::string name = PlistReporter::quoted(e->package);
        if (names.find(name) == std::string::npos)
            names += (names.empty() ? "" : ", ") + name;
    }
    return names;
}

bool FileRepairer::checkPath(std::span<const PackagedFile* const> entries) {
    m_entries = entries;
    if (entries.size() == 1)
        return check(*entries.front());
    PackagedFile merged = *entries.front();
    bool disagree = false;
    for (const PackagedFile* e : entries.subspan(1)) {
        const unsigned both = merged.verify & e->verify;
        disagree = disagree || (e->mode & S_IFMT) != (merged.mode & S_IFMT) ||
                   e->capability != merged.capability ||
                   ((both & PackagedFile::kVerifyMode) && (e->mode & 07777u) != (merged.mode & 07777u)) ||
                   ((both & PackagedFile::kVerifyUser) && e->user != merged.user) ||
                   ((both & PackagedFile::kVerifyGroup) && e->group != merged.group);
        // What one package leaves out is left out; the more careful rule wins.
        merged.verify = both;
        merged.missingOk = merged.missingOk || e->missingOk;
        if (e->rule == PackagedFile::Rule::UndoDamage)
            merged.rule = e->rule;
    }
    if (!disagree)
        return check(merged);
    std::vector<const PackagedFile*> byPackage(entries.begin(), entries.end());
    std::sort(byPackage.begin(), byPackage.end(), [](auto a, auto b) { return a->package < b->package; });
    std::string values;
    for (const PackagedFile* e : byPackage)
        values += (values.empty() ? "" : "; ") + PlistReporter::quoted(e->package) + ": " +
                  modeString(e->mode) + " " + e->user + ":" + e->group +
                  (e->capability.empty() ? "" : " " + e->capability);
    return leaveAlone(merged.path, "is listed with different values by several packages (" + values +
                                       "); it was left alone.");
}

bool FileRepairer::leaveAlone(std::string_view path, const std::string& why) {
    return m_reporter.report({Report::Kind::LeftAlone, PlistReporter::quoted(path) + " " + why, path});
}

bool FileRepairer::couldNotCheck(std::string_view path, int error) {
    return m_reporter.report(
        {Report::Kind::Error,
         "Could not check " + PlistReporter::quoted(path) + ": " + std::strerror(error) + ".", path});
}

bool FileRepairer::check(const PackagedFile& file) {
    const std::string_view path = file.path;
    std::vector<std::string_view>& parts = m_parts;
    if (!FolderWalk::components(path, parts) || !path.starts_with('/'))
        return leaveAlone(path, "is not a plain absolute path; it was left alone.");
    // The last component, terminated: the path's own end unless a slash follows it.
    std::string copied;
    const char* name = "";
    if (!parts.empty())
        name = parts.back().end() == path.end() ? parts.back().data()
                                                : (copied = std::string(parts.back())).c_str();
    const unsigned type = file.mode & S_IFMT;
    FolderWalk::Folder folder{m_rootFd, false, {}}; // the top itself: the caller chose it
    FolderWalk::Folder self;                        // the folder itself, when the walk went into it
    struct stat found {};
    const auto missing = [&] {
        return file.missingOk || leaveAlone(path, "is missing; it was not created.");
    };
    // One look per path: a folder whose entries come next is gone into at once, and the walk's look at
    // it serves the check; anything else is looked at by name in its folder, never following a link.
    const bool entriesBelow =
        m_nextPath.size() > path.size() && m_nextPath.starts_with(path) && m_nextPath[path.size()] == '/';
    if (parts.empty()) {
        if (::fstat(m_rootFd, &found) != 0)
            return couldNotCheck(path, errno);
    } else if (!(type == S_IFDIR && entriesBelow && m_walk.enterFolder(parts, folder, self, found))) {
        if (!m_walk.folderOf(parts, folder))
            return errno == ENOENT ? missing() : couldNotCheck(path, errno);
        if (::fstatat(folder.fd, name, &found, AT_SYMLINK_NOFOLLOW) != 0)
            return errno == ENOENT ? missing() : couldNotCheck(path, errno);
    }
    if ((found.st_mode & S_IFMT) != type)
        return leaveAlone(path, std::string("should be ") + typeName(type) + " but is " +
                                    typeName(found.st_mode) + "; it was left alone.");
    // A file system mounted on a packaged folder (/proc, /sys, a /home of its own) shows the mount's
    // top, not the folder the package made: it is the mount's business.
    if (type == S_IFDIR && !parts.empty() && folder.device != found.st_dev)
        return true;

    Ownership wanted{file.mode & 07777u, 0, 0};
    if (file.verify & PackagedFile::kVerifyUser) {
        const std::optional<uid_t> uid = m_accounts.userId(file.user);
        if (!uid)
            return leaveAlone(path, "should belong to user " + PlistReporter::quoted(file.user) +
                                        ", which this system does not know; it was left alone.");
        wanted.uid = *uid;
    }
    if (file.verify & PackagedFile::kVerifyGroup) {
        const std::optional<gid_t> gid = m_accounts.groupId(file.group);
        if (!gid)
            return leaveAlone(path, "should belong to group " + PlistReporter::quoted(file.group) +
                                        ", which this system does not know; it was left alone.");
        wanted.gid = *gid;
    }
    const Ownership was{found.st_mode & 07777u, found.st_uid, found.st_gid};
    const RepairDecision decision =
        decideRepair(wanted, file.verify, file.rule, was, m_accounts.uidMin(), m_accounts.gidMin());
    if (!decision.differs())
        return true;
    const bool several = !S_ISDIR(found.st_mode) && found.st_nlink > 1;
    const Ownership& target = decision.target;
    const bool changes = target.mode != was.mode || target.uid != was.uid || target.gid != was.gid;
    if (changes && m_putOff && folder.othersCanChange && (found.st_uid == 0 || several)) {
        m_putAside.push_back(file);
        return true;
    }
    ++m_differing;
    const std::string quoted = PlistReporter::quoted(path);
    const auto differs = [&](bool when, const char* attribute, const std::string& text,
                             const std::string& should, const std::string& is) {
        return !when || m_reporter.report({Report::Kind::Finding, text, path, attribute, should, is});
    };
    const auto kept = [&](bool when, const char* attribute, const std::string& text) {
        return !when || m_reporter.report({Report::Kind::LeftAlone, text, path, attribute});
    };
    const std::string foundUser = m_accounts.userName(found.st_uid),
                      foundGroup = m_accounts.groupName(found.st_gid);
    if (!differs(decision.modeDiffers, "mode",
                 "Permissions differ on " + quoted + "; should be " + modeString(file.mode) + " , they are " +
                     modeString(found.st_mode) + " .",
                 modeString(file.mode), modeString(found.st_mode)) ||
        !differs(decision.ownerDiffers, "owner",
                 "Owner differs on " + quoted + "; should be " + file.user + " , it is " + foundUser + " .",
                 file.user, foundUser) ||
        !differs(decision.groupDiffers, "group",
                 "Group differs on " + quoted + "; should be " + file.group + " , it is " + foundGroup + " .",
                 file.group, foundGroup) ||
        !kept(decision.kept & RepairDecision::kModeNotWidened, "mode",
              quoted +
                  " lacks permissions its package grants; where only damage is undone, none are added.") ||
        !kept(decision.kept & RepairDecision::kSpecialKept, "mode",
              quoted + " keeps set-ID or sticky bits its package does not set; where only damage is undone, "
                       "they are never taken away.") ||
        !kept(decision.kept & RepairDecision::kOwnerKept, "owner",
              quoted + " keeps its owner; where only damage is undone, only an owner that is a login account "
                       "is put back.") ||
        !kept(decision.kept & RepairDecision::kGroupKept, "group",
              quoted + " keeps its group; where only damage is undone, only a group of login accounts is "
                       "put back."))
        return false;
    if (!changes)
        return true;

    if (folder.othersCanChange && (found.st_uid == 0 || several))
        return leaveAlone(path, std::string("was not repaired: ") +
                                    (several ? "it has several hard links" : "root owns it") + ", in " +
                                    PlistReporter::quoted(folder.changeable) +
                                    ", a folder users other than root can change, so it may not be what the "
                                    "package put there.");
    if (several && !m_hardLinksProtected)
        return leaveAlone(path, "was not repaired: it has several hard links, and this system lets users "
                                "link other users' files (fs.protected_hardlinks is off).");

    // Opened only now, to change it, and confirmed to be what was checked. A folder is opened by the walk
    // (its trust, for what is below it, is judged by what it was before this change), and the walk's
    // descriptor of a folder it went into for the check is the very object checked.
    if (m_beforeOpening)
        m_beforeOpening(path);
    FolderWalk::Folder held;
    struct stat now {};
    UniqueFd opened;
    if (self.fd < 0 && !parts.empty() && type == S_IFDIR && m_walk.enterFolder(parts, folder, held, now))
        self = held;
    else if (self.fd >= 0)
        now = found;
    else if (opened = UniqueFd(parts.empty() ? ::fcntl(m_rootFd, F_DUPFD_CLOEXEC, 0)
                                             : ::openat(folder.fd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
             !opened || ::fstat(opened.get(), &now) != 0)
        return couldNotCheck(path, errno);
    const int fd = self.fd >= 0 ? self.fd : opened.get();
    if (now.st_dev != found.st_dev || now.st_ino != found.st_ino || (now.st_mode & S_IFMT) != type)
        return leaveAlone(path, "changed while it was being checked; it was left alone.");

    if (type == S_IFREG) {
        // Privileges are given when the change sets a set-ID bit the file lacks now, or when it changes
        // the owner or group of a file that is to keep set-ID bits or a capability (the kernel drops them
        // with the change, and they are put back). Taking write bits away from a file that has its
        // privileges already gives nothing: leaving it writable would be the harm.
        std::vector<char> capability;
        const bool ownerChanges = target.uid != now.st_uid || target.gid != now.st_gid;
        const bool privileged =
            (target.mode & (S_ISUID | S_ISGID) & ~now.st_mode) ||
            (ownerChanges && ((target.mode & (S_ISUID | S_ISGID)) || !file.capability.empty() ||
                              !readCapability(fd, capability) || !capability.empty()));
        // A pass after the first looks at what a folder open to others held: whoever could write there
        // could have put any program of the volume under this name, so privileges are not given back.
        const std::string refusal =
            !privileged ? std::string()
            : m_foldersWereOpen
                ? "a folder above it was open to users other than root until this run closed it"
                : privilegeRefusal(fd, now);
        if (!refusal.empty())
            return leaveAlone(
                path, "was not repaired: it should carry privileges (set-user-ID, set-group-ID or "
                      "capabilities), and " +
                          refusal + ", so others could have changed its content. Reinstall the package " +
                          packageNames() + ".");
    }

    ++m_toRepair;
    // A check stops here: everything above only looked (the read lease's descriptor is read-only).
    if (m_checkOnly)
        return m_reporter.report({Report::Kind::WouldRepair, "Would repair " + quoted + ".", path});
    const std::string failure = apply(fd, now, target.uid, target.gid, target.mode);
    if (!failure.empty())
        return m_reporter.report(
            {Report::Kind::Error, "Could not repair " + quoted + ": " + failure + ".", path});
    ++m_repaired;
    if (type == S_IFDIR)
        ++m_foldersRepaired;
    return m_reporter.report({Report::Kind::Repair, "Repaired " + quoted + ".", path});
}

std::string FileRepairer::privilegeRefusal(int fd, const struct stat& found) {
    std::string why = othersMayWrite(fd, found);
    if (!why.empty())
        return why;
    if (found.st_nlink != 1)
        return "it has several hard links";
    // A read lease is refused while anyone has the file open for writing or mapped shared and writable.
    char path[32];
    const UniqueFd reader(
        ::open(descriptorPath(fd, path).data(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!reader)
        return std::string("it could not be opened to see whether someone writes it (") +
               std::strerror(errno) + ")";
    if (::fcntl(reader.get(), F_SETLEASE, F_RDLCK) != 0)
        return errno == EAGAIN ? std::string("a process has it open for writing or mapped writable")
                               : std::string("whether a process writes it could not be told (") +
                                     std::strerror(errno) + ")";
    ::fcntl(reader.get(), F_SETLEASE, F_UNLCK);
    return {};
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
