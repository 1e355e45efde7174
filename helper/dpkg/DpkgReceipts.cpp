// Receipts: what dpkg's packages were right after dpkg configured them, recorded by apt's hook.

#include "helper/AccountDatabase.h"
#include "helper/PathResolver.h"
#include "helper/dpkg/DpkgDatabase.h"
#include "helper/dpkg/DpkgFiles.h"
#include "helper/dpkg/MetadataStore.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <map>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <unordered_map>

namespace helper::dpkg {

namespace {

constexpr size_t kMaxLogSize = 256u << 20;
const std::string kPositionFile = "dpkg-log-position";

// Where the last recording stopped in var/log/dpkg.log: that file's inode, the offset after its last
// whole line, and that line's time (for a log rotated since).
struct LogPosition {
    unsigned long long inode = 0, offset = 0;
    std::string time;
};

std::optional<LogPosition> parsePosition(std::string_view text) {
    LogPosition position;
    const char* end = text.data() + text.size();
    auto [p, e] = std::from_chars(text.data(), end, position.inode);
    if (e != std::errc() || p == end || *p != ' ')
        return std::nullopt;
    auto [q, f] = std::from_chars(p + 1, end, position.offset);
    if (f != std::errc() || q == end || *q != ' ')
        return std::nullopt;
    position.time.assign(q + 1, end);
    if (!position.time.empty() && position.time.back() == '\n')
        position.time.pop_back();
    return position;
}

// The log's whole lines from `offset`; `consumed` is the offset after the last of them.
std::string readLogFrom(int fd, unsigned long long offset, unsigned long long& consumed) {
    std::string text;
    char buffer[65536];
    for (off_t at = static_cast<off_t>(offset);;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n <= 0 || text.size() + static_cast<size_t>(n) > kMaxLogSize)
            break;
        text.append(buffer, static_cast<size_t>(n));
        at += n;
    }
    text.resize(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
    consumed = offset + text.size();
    return text;
}

// The last version each package was configured at in `text`, for lines after `after` (a time; empty: all).
void collectConfigured(std::string_view text, std::string_view after,
                       std::map<std::pair<std::string, std::string>, std::string>& configured,
                       std::string& lastTime) {
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.size() >= 19)
            lastTime = line.substr(0, 19);
        ConfiguredLine parsed;
        if (parseConfiguredLine(line, parsed) && (after.empty() || parsed.time > after))
            configured[{parsed.name, parsed.architecture}] = parsed.version;
    }
}

// Whether nobody but root may write the folder `path` is in (each folder looked at once).
bool folderRootOnly(int rootFd, const std::string& path, std::unordered_map<std::string, bool>& known) {
    const std::string folder = path.substr(0, std::max<size_t>(path.rfind('/'), 1));
    const auto it = known.find(folder);
    if (it != known.end())
        return it->second;
    const UniqueFd fd = openInRoot(rootFd, folder, true);
    struct stat st {};
    const bool rootOnly = fd && ::fstat(fd.get(), &st) == 0 && st.st_uid == 0 && (st.st_mode & 002) == 0 &&
                          ((st.st_mode & 020) == 0 || st.st_gid == 0);
    return known[folder] = rootOnly;
}

std::vector<DebEntry> currentEntries(int rootFd, const InfoFolder& info, const InstalledPackage& package,
                                     const AccountDatabase& accounts,
                                     const std::unordered_map<std::string, Diversion>& diversions,
                                     std::unordered_map<std::string, bool>& rootOnlyFolders) {
    const auto listed = info.listedPaths(info.prefix(package));
    std::vector<std::string> paths;
    for (const std::string& path : listed) {
        const auto diversion = diversions.find(path);
        paths.push_back(diversion != diversions.end() && diversion->second.package != package.name
                            ? diversion->second.to
                            : path);
    }
    std::sort(paths.begin(), paths.end());
    std::vector<DebEntry> entries;
    for (const std::string& path : paths) {
        const UniqueFd object = openInRoot(rootFd, path);
        struct stat st {};
        if (!object || ::fstat(object.get(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) ||
            !folderRootOnly(rootFd, path, rootOnlyFolders))
            continue;
        const auto name = [](std::string found, unsigned id) {
            return found == std::to_string(id) ? "#" + found : found;
        };
        // Its capabilities as well: a receipt vouches for them; one it cannot read or state is no receipt.
        std::string capability;
        if (S_ISREG(st.st_mode)) {
            char fdPath[32], raw[64];
            const ssize_t n = ::getxattr(descriptorPath(object.get(), fdPath).data(), "security.capability",
                                         raw, sizeof raw);
            const auto text = n >= 0 ? capabilityText(std::string_view(raw, static_cast<size_t>(n)))
                                     : std::optional<std::string>(std::string());
            if ((n < 0 && errno != ENODATA && errno != ENOTSUP) || !text)
                continue;
            capability = *text;
        }
        entries.push_back({path, st.st_mode & (S_IFMT | 07777u),
                           name(accounts.userName(st.st_uid), st.st_uid),
                           name(accounts.groupName(st.st_gid), st.st_gid), std::move(capability)});
    }
    return entries;
}

} // namespace

bool recordPermissions(int rootFd, std::vector<std::string>& recorded, std::string& failure) {
    recorded.clear();
    const auto status = readVolumeFile(rootFd, "var/lib/dpkg/status", 512u << 20);
    if (!status) {
        failure = "var/lib/dpkg/status could not be read";
        return false;
    }
    const auto store = MetadataStore::open(rootFd, "receipts", true);
    if (!store) {
        failure = "the receipts' folder var/lib/varnel/receipts could not be opened as root's own";
        return false;
    }
    const UniqueFd log = openFileInRoot(rootFd, "var/log/dpkg.log");
    struct stat logStat {};
    if (!log || ::fstat(log.get(), &logStat) != 0) {
        failure = "var/log/dpkg.log could not be read";
        return false;
    }

    std::map<std::pair<std::string, std::string>, std::string> configured;
    LogPosition now{static_cast<unsigned long long>(logStat.st_ino), 0, {}};
    const auto stored = store->readFile(kPositionFile, 4096);
    const auto last = stored ? parsePosition(*stored) : std::nullopt;
    if (!last) {
        // The first recording: only where the log ends.
        std::map<std::pair<std::string, std::string>, std::string> ignored;
        collectConfigured(readLogFrom(log.get(), 0, now.offset), {}, ignored, now.time);
    } else if (last->inode == now.inode && last->offset <= static_cast<unsigned long long>(logStat.st_size)) {
        now.time = last->time;
        collectConfigured(readLogFrom(log.get(), last->offset, now.offset), {}, configured, now.time);
    } else {
        // Rotated since: the rest of the old log when it is still there, then the new one from the start.
        std::string after = last->time;
        const UniqueFd old = openFileInRoot(rootFd, "var/log/dpkg.log.1");
        struct stat oldStat {};
        if (old && ::fstat(old.get(), &oldStat) == 0 && oldStat.st_ino == last->inode) {
            unsigned long long ignored = 0;
            collectConfigured(readLogFrom(old.get(), last->offset, ignored), {}, configured, now.time);
            after.clear();
        }
        collectConfigured(readLogFrom(log.get(), 0, now.offset), after, configured, now.time);
    }

    if (!configured.empty()) {
        size_t refused = 0;
        const AccountDatabase accounts = AccountDatabase::read(rootFd);
        std::unordered_map<std::string, Diversion> diversions;
        if (const auto text = readVolumeFile(rootFd, "var/lib/dpkg/diversions", 256u << 20))
            for (Diversion& diversion : parseDiversions(*text))
                diversions[diversion.from] = std::move(diversion);
        std::unordered_map<std::string, bool> rootOnlyFolders;
        const InfoFolder info(rootFd);
        for (const InstalledPackage& package : parseStatus(*status, &refused)) {
            const auto it = configured.find({package.name, package.architecture});
            if (it == configured.end() || it->second != package.version)
                continue;
            const auto entries = currentEntries(rootFd, info, package, accounts, diversions, rootOnlyFolders);
            if (!store->writeEntries("receipt", package.name, package.version, package.architecture,
                                     entries)) {
                failure = "the receipt of " + describePackage(package) + " could not be written";
                return false;
            }
            store->removeOtherVersions(package.name, package.version, package.architecture);
            recorded.push_back(package.name + ":" + package.architecture);
        }
    }
    if (!store->writeFile(kPositionFile, std::to_string(now.inode) + " " + std::to_string(now.offset) + " " +
                                             now.time + "\n")) {
        failure = "where dpkg's log was read to could not be recorded";
        return false;
    }
    return true;
}

} // namespace helper::dpkg
