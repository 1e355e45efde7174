#include "helper/dpkg/DpkgDatabase.h"

#include "helper/AccountDatabase.h"
#include "helper/PathResolver.h"
#include "helper/dpkg/DpkgFiles.h"
#include "helper/dpkg/MetadataStore.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

namespace helper::dpkg {

namespace {

constexpr size_t kMaxStatusSize = 512u << 20;
constexpr size_t kMaxListSize = 256u << 20;
constexpr size_t kMaxScriptSize = 4u << 20;
constexpr const char* kScripts[] = {"preinst", "postinst", "prerm", "postrm", "config", "triggers"};
constexpr std::string_view kCacheKind = "cache";
const std::string kCacheFile = "packages"; // var/lib/varnel/cache/packages: every package version's entries
constexpr const char* kMergedFolders[] = {"/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32", "/libo32"};

// What every package's reading shares, read once before the threads start.
struct Shared {
    int rootFd;
    InfoFolder info;
    UniqueFd archivesFd; // var/cache/apt/archives, walked to once
    const DpkgOptions& options;
    AccountDatabase accounts;
    std::unordered_map<std::string, StatOverride> overrides; // by path
    std::unordered_map<std::string, Diversion> diversions;   // by diverted-from path
    std::set<std::string> mergedLinks;                       // "/bin" etc. where the volume links them
    std::optional<MetadataStore> cache, receipts;
    EntryBundle cached; // the cache's records as the run began
};

struct PackageResult {
    std::vector<PackagedFile> files;
    std::vector<std::string> problems;
    bool compared = false;
    std::string_view cachedRecord; // data.tar's entries as the cache had them
    std::string newRecord;         // or as read from the archive now, for the cache to learn
};

// Whether a path is where merged-/usr systems keep their files: /usr and the folders linked into it.
bool underUsr(std::string_view path) {
    const size_t end = path.find('/', 1);
    const std::string_view top = path.substr(0, end);
    return top == "/usr" ||
           std::find(std::begin(kMergedFolders), std::end(kMergedFolders), top) != std::end(kMergedFolders);
}

// Whether a script names the path, or a folder at least three deep above it ("/usr/lib/foo" covers what
// is inside; "/usr/lib" does not cover all of /usr/lib).
bool namedByScript(const std::set<std::string>& named, std::string path) {
    for (;;) {
        if (named.count(path))
            return true;
        const size_t slash = path.rfind('/');
        if (slash == 0 || slash == std::string::npos)
            return false;
        path.resize(slash);
        if (std::count(path.begin(), path.end(), '/') < 3)
            return false;
    }
}

// A user or group as a PackagedFile names it: "#<id>" becomes the volume's name for that id; none when
// the volume has no name for it.
std::optional<std::string> accountName(std::string_view name, bool user, const AccountDatabase& accounts) {
    if (name.empty() || name[0] != '#')
        return std::string(name);
    unsigned id = 0;
    const auto [end, error] = std::from_chars(name.data() + 1, name.data() + name.size(), id);
    if (error != std::errc() || end != name.data() + name.size() || name.size() == 1)
        return std::nullopt;
    std::string resolved = user ? accounts.userName(id) : accounts.groupName(id);
    if (resolved == std::to_string(id))
        return std::nullopt;
    return resolved;
}

UniqueFd openCachedArchive(const Shared& shared, const InstalledPackage& package, std::string& problem) {
    const std::string path =
        MetadataStore::fileName(package.name, package.version, package.architecture) + ".deb";
    struct stat st {};
    UniqueFd file = shared.archivesFd ? openRegularAt(shared.archivesFd.get(), path, &st) : UniqueFd();
    if (!file)
        return shared.options.fetchArchive ? shared.options.fetchArchive(package, problem) : UniqueFd();
    if (st.st_uid != 0 || (st.st_mode & 022) != 0) {
        problem =
            describePackage(package) + ": /var/cache/apt/archives/" + path + " is not root's alone; not read";
        return {};
    }
    return file;
}

// data.tar's entries of the installed version, from the cache or else from the archive (which the cache
// then learns); false when neither is there or the archive was refused.
bool archiveEntries(const Shared& shared, const InstalledPackage& package, std::vector<DebEntry>& entries,
                    PackageResult& result) {
    std::vector<std::string>& problems = result.problems;
    if (const auto record =
            shared.cached.find(kCacheKind, package.name, package.version, package.architecture, entries)) {
        result.cachedRecord = *record;
        return true;
    }
    std::string problem;
    const UniqueFd archive = openCachedArchive(shared, package, problem);
    if (!archive) {
        if (!problem.empty())
            problems.push_back(std::move(problem));
        return false;
    }
    if (!readDebEntries(archive.get(), shared.options.limits, entries, problem)) {
        problems.push_back(describePackage(package) + ": its archive was not used: " + problem);
        return false;
    }
    if (shared.cache && shared.options.writeCache)
        result.newRecord =
            MetadataStore::record(kCacheKind, package.name, package.version, package.architecture, entries);
    return true;
}

PackageResult readPackage(const Shared& shared, const InstalledPackage& package) {
    PackageResult result;
    std::vector<DebEntry> receipt, archive;
    const bool hasReceipt =
        shared.receipts &&
        shared.receipts->readEntries("receipt", package.name, package.version, package.architecture, receipt);
    const bool hasArchive = archiveEntries(shared, package, archive, result);
    result.compared = hasReceipt || hasArchive;
    if (!result.compared)
        return result;

    const std::string prefix = shared.info.prefix(package);
    const std::unordered_set<std::string> listed = shared.info.listedPaths(prefix);
    std::set<std::string> named;
    for (const char* script : kScripts)
        if (const auto text = shared.info.read(prefix + "." + script, kMaxScriptSize))
            named.merge(scriptPaths(*text));
    const std::unordered_set<std::string> conffiles(package.conffiles.begin(), package.conffiles.end());

    const auto add = [&](DebEntry& entry, std::string path, bool fromReceipt) {
        if (S_ISDIR(entry.mode) && shared.mergedLinks.count(path))
            return;
        PackagedFile file;
        file.package = package.name;
        file.missingOk = conffiles.count(path) > 0;
        std::string_view user = entry.user, group = entry.group;
        unsigned mode = entry.mode;
        if (const auto over = shared.overrides.find(path); over != shared.overrides.end()) {
            user = over->second.user;
            group = over->second.group;
            mode = (entry.mode & S_IFMT) | over->second.mode;
            file.rule = PackagedFile::Rule::Exact;
        } else if (fromReceipt) {
            file.rule = file.missingOk ? PackagedFile::Rule::UndoDamage : PackagedFile::Rule::Exact;
        } else {
            const bool exact = underUsr(path) && !file.missingOk && !namedByScript(named, path);
            file.rule = exact ? PackagedFile::Rule::Exact : PackagedFile::Rule::UndoDamage;
        }
        const auto userName = accountName(user, true, shared.accounts);
        const auto groupName = accountName(group, false, shared.accounts);
        if (!userName || !groupName) {
            result.problems.push_back(describePackage(package) + ": " + path + " names an account id (" +
                                      std::string(userName ? group : user) +
                                      ") the installation has no name for; left out");
            return;
        }
        file.path = std::move(path);
        file.mode = mode;
        file.user = std::move(*userName);
        file.group = std::move(*groupName);
        file.capability = entry.capability;
        result.files.push_back(std::move(file));
    };

    // The receipt first (recorded where the files are, diversions applied); data.tar for what it lacks
    // (paths it could not vouch for when it was recorded).
    std::unordered_set<std::string> received;
    result.files.reserve(receipt.size() + archive.size());
    for (DebEntry& entry : receipt) {
        received.insert(entry.path);
        add(entry, entry.path, true);
    }
    for (DebEntry& entry : archive) {
        if (!listed.count(entry.path))
            continue; // another package took it over, or dpkg never installed it
        std::string path = std::move(entry.path);
        const auto diversion = shared.diversions.find(path);
        if (diversion != shared.diversions.end() && diversion->second.package != package.name)
            path = diversion->second.to;
        if (!received.count(path))
            add(entry, std::move(path), false);
    }
    return result;
}

} // namespace

namespace {

// A regular file's whole text, as long as fstat says it is (`known`: what it said already).
std::optional<std::string> readWhole(const UniqueFd& file, size_t maxSize,
                                     const struct stat* known = nullptr) {
    struct stat st {};
    if (known)
        st = *known;
    else if (!file || ::fstat(file.get(), &st) != 0)
        return std::nullopt;
    if (!file || !S_ISREG(st.st_mode) || st.st_size < 0 || static_cast<size_t>(st.st_size) > maxSize)
        return std::nullopt;
    std::string text(static_cast<size_t>(st.st_size), '\0');
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::read(file.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break; // it shrank meanwhile
        done += static_cast<size_t>(n);
    }
    text.resize(done);
    return text;
}

} // namespace

std::optional<std::string> readVolumeFile(int rootFd, std::string_view path, size_t maxSize) {
    return readWhole(openFileInRoot(rootFd, path), maxSize);
}

UniqueFd openRegularAt(int folderFd, const std::string& name, struct stat* found) {
    UniqueFd file(::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!file || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    if (found)
        *found = st;
    return file;
}

InfoFolder::InfoFolder(int rootFd) {
    const UniqueFd path = openInRoot(rootFd, "var/lib/dpkg/info", true);
    if (!path)
        return;
    m_fd.reset(::openat(path.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const int listing = m_fd ? ::dup(m_fd.get()) : -1;
    DIR* folder = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!folder) {
        if (listing >= 0)
            ::close(listing);
        return;
    }
    while (const dirent* entry = ::readdir(folder))
        m_names.emplace(entry->d_name);
    ::closedir(folder);
    m_listed = true;
}

std::optional<std::string> InfoFolder::read(const std::string& name, size_t maxSize) const {
    if (!m_fd || !has(name))
        return std::nullopt;
    struct stat st {};
    const UniqueFd file = openRegularAt(m_fd.get(), name, &st);
    return readWhole(file, maxSize, &st);
}

std::string InfoFolder::prefix(const InstalledPackage& package) const {
    const std::string qualified = package.name + ":" + package.architecture;
    struct stat st {};
    if (m_listed
            ? m_names.count(qualified + ".list") > 0
            : m_fd && ::fstatat(m_fd.get(), (qualified + ".list").c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return qualified;
    return package.name;
}

std::unordered_set<std::string> InfoFolder::listedPaths(const std::string& prefix) const {
    std::unordered_set<std::string> paths;
    const auto text = read(prefix + ".list", kMaxListSize);
    if (!text)
        return paths;
    std::string_view rest = *text;
    paths.reserve(static_cast<size_t>(std::count(rest.begin(), rest.end(), '\n')) + 1);
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        // What dpkg writes is already normal ("/." aside); anything else is normalised.
        const bool normal = line.size() > 1 && line[0] == '/' && line.back() != '/' &&
                            line.find("//") == std::string_view::npos &&
                            line.find("/.") == std::string_view::npos;
        std::string path = normal ? std::string(line) : normalisePath(line);
        if (path.size() > 1)
            paths.insert(std::move(path));
    }
    return paths;
}

std::string describePackage(const InstalledPackage& package) {
    return package.name + ":" + package.architecture + " " + package.version;
}

bool hasDpkgDatabase(int rootFd) {
    return static_cast<bool>(openFileInRoot(rootFd, "var/lib/dpkg/status"));
}

bool hasInstalledPackages(int rootFd) {
    if (!hasDpkgDatabase(rootFd))
        return false;
    const auto status = readVolumeFile(rootFd, "var/lib/dpkg/status", kMaxStatusSize);
    return !status || !parseStatus(*status).empty();
}

std::optional<DpkgListing> readDpkgDatabase(int rootFd, const DpkgOptions& options,
                                            const DpkgProgress& progress, std::string* failure) {
    if (progress)
        progress(0, "Reading the dpkg database");
    const auto status = readVolumeFile(rootFd, "var/lib/dpkg/status", kMaxStatusSize);
    if (!status) {
        if (failure)
            *failure = std::string("var/lib/dpkg/status could not be read: ") + std::strerror(errno);
        return std::nullopt;
    }
    DpkgListing listing;
    size_t refused = 0;
    const std::vector<InstalledPackage> packages = parseStatus(*status, &refused);
    listing.packages = packages.size();
    if (refused)
        listing.problems.push_back(std::to_string(refused) +
                                   " installed packages have a name, version or architecture dpkg would not "
                                   "accept; left out");

    Shared shared{rootFd,
                  InfoFolder(rootFd),
                  openInRoot(rootFd, "var/cache/apt/archives", true),
                  options,
                  AccountDatabase::read(rootFd),
                  {},
                  {},
                  {},
                  {},
                  {},
                  {}};
    if (const auto text = readVolumeFile(rootFd, "var/lib/dpkg/statoverride", kMaxListSize))
        for (StatOverride& over : parseStatOverrides(*text))
            shared.overrides[over.path] = std::move(over);
    if (const auto text = readVolumeFile(rootFd, "var/lib/dpkg/diversions", kMaxListSize))
        for (Diversion& diversion : parseDiversions(*text))
            shared.diversions[diversion.from] = std::move(diversion);
    for (const char* folder : kMergedFolders) {
        const UniqueFd object = openInRoot(rootFd, folder);
        struct stat st {};
        if (object && ::fstat(object.get(), &st) == 0 && S_ISLNK(st.st_mode) && st.st_uid == 0)
            shared.mergedLinks.insert(folder);
    }
    if (options.readCache || options.writeCache)
        shared.cache = MetadataStore::open(rootFd, "cache", options.writeCache && ::geteuid() == 0);
    if (shared.cache && options.readCache)
        shared.cached = EntryBundle::read(*shared.cache, kCacheFile);
    if (options.readReceipts)
        shared.receipts = MetadataStore::open(rootFd, "receipts", false);

    // The archives are read on every core; each package's result has its place, so the order of the
    // output does not depend on which thread finished first.
    std::vector<PackageResult> results(packages.size());
    std::atomic<size_t> next{0};
    std::mutex progressMutex;
    size_t done = 0;
    int reported = 0;
    if (progress)
        progress(5, "Reading the packages' archives");
    const auto work = [&] {
        for (size_t i; (i = next.fetch_add(1)) < packages.size();) {
            results[i] = readPackage(shared, packages[i]);
            if (!progress)
                continue;
            const std::lock_guard lock(progressMutex);
            const int percent = 5 + static_cast<int>(90 * ++done / packages.size());
            if (percent > reported)
                progress(reported = percent, "Reading the packages' archives");
        }
    };
    unsigned threads = options.threads ? options.threads : std::max(1u, std::thread::hardware_concurrency());
    threads = static_cast<unsigned>(std::min<size_t>(threads, std::max<size_t>(packages.size(), 1)));
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t)
        pool.emplace_back(work);
    work();
    for (std::thread& thread : pool)
        thread.join();

    // The cache learns what was read, in one file written once: the entries of every installed package
    // version known now (so versions no longer installed drop out).
    std::string cache = EntryBundle::start();
    for (const PackageResult& result : results)
        if (!result.newRecord.empty() || !result.cachedRecord.empty())
            EntryBundle::append(cache, result.newRecord.empty() ? result.cachedRecord : result.newRecord);
    if (shared.cache && options.writeCache && cache != shared.cached.text())
        shared.cache->writeFile(kCacheFile, cache); // when it cannot, the next run reads the archives again

    size_t total = 0;
    for (const PackageResult& result : results)
        total += result.files.size();
    listing.files.reserve(total);
    for (size_t i = 0; i < packages.size(); ++i) {
        PackageResult& result = results[i];
        if (!result.compared)
            listing.notCompared.push_back(describePackage(packages[i]));
        std::move(result.problems.begin(), result.problems.end(), std::back_inserter(listing.problems));
        std::move(result.files.begin(), result.files.end(), std::back_inserter(listing.files));
    }
    if (progress)
        progress(100, "Read the dpkg database");
    return listing;
}

} // namespace helper::dpkg
