#include "helper/dpkg/MetadataStore.h"

#include "helper/PathResolver.h"
#include "helper/dpkg/DpkgText.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace helper::dpkg {

namespace {

constexpr std::string_view kMagic = "varnel-dpkg 2 ";
constexpr std::string_view kBundleMagic = "varnel-dpkg-bundle 2\n";
constexpr size_t kMaxBundleSize = 1u << 30;

// Opens (and creates when asked) the folder `name` in `parent`, never through a link; only when it is
// ours and nobody else may write it (`privateMode`: nobody else may read it either).
UniqueFd openOwnFolder(int parent, const char* name, bool create, bool privateMode) {
    if (create && ::mkdirat(parent, name, 0700) != 0 && errno != EEXIST)
        return {};
    UniqueFd folder(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!folder || ::fstat(folder.get(), &st) != 0 || st.st_uid != ::geteuid() ||
        (st.st_mode & (privateMode ? 077u : 022u)) != 0)
        return {};
    return folder;
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// The next NUL-terminated field of `text`; false when there is none.
bool takeField(std::string_view& text, std::string_view& field) {
    const size_t end = text.find('\0');
    if (end == std::string_view::npos)
        return false;
    field = text.substr(0, end);
    text.remove_prefix(end + 1);
    return true;
}

// What capabilityText writes: clauses "name,name=flags" of lower-case names, digits and '_'.
bool validCapabilityText(std::string_view text) {
    if (text.size() > 2048)
        return false;
    for (const char c : text)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == ',' || c == '=' ||
              c == ' '))
            return false;
    return text.empty() || text.find('=') != std::string_view::npos;
}

} // namespace

std::optional<MetadataStore> MetadataStore::open(int rootFd, std::string_view name, bool create) {
    const UniqueFd varLib = openInRoot(rootFd, "var/lib", true);
    if (!varLib)
        return std::nullopt;
    const UniqueFd parent(::openat(varLib.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent)
        return std::nullopt;
    const UniqueFd own = openOwnFolder(parent.get(), "varnel", create, false);
    if (!own)
        return std::nullopt;
    UniqueFd store = openOwnFolder(own.get(), std::string(name).c_str(), create, true);
    if (!store)
        return std::nullopt;
    return MetadataStore(std::move(store));
}

std::optional<std::string> MetadataStore::readFile(const std::string& name, size_t maxSize) const {
    const UniqueFd file(
        ::openat(m_folder.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!file || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
        st.st_uid != ::geteuid() || (st.st_mode & 077) != 0 || static_cast<size_t>(st.st_size) > maxSize)
        return std::nullopt;
    std::string text(static_cast<size_t>(st.st_size), '\0');
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::read(file.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        done += static_cast<size_t>(n);
    }
    return text;
}

bool MetadataStore::writeFile(const std::string& name, std::string_view content) const {
    static std::atomic<unsigned> serial{0};
    const std::string temporary =
        ".new." + std::to_string(::getpid()) + "." + std::to_string(serial.fetch_add(1)) + "." + name;
    const int fd = ::openat(m_folder.get(), temporary.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, content);
    const bool closed = ::close(fd) == 0;
    if (written && closed && ::renameat(m_folder.get(), temporary.c_str(), m_folder.get(), name.c_str()) == 0)
        return true;
    ::unlinkat(m_folder.get(), temporary.c_str(), 0);
    return false;
}

std::string MetadataStore::fileName(std::string_view package, std::string_view version,
                                    std::string_view architecture) {
    std::string name(package);
    name += '_';
    for (const char c : version)
        name += c == ':' ? std::string("%3a") : std::string(1, c);
    name += '_';
    name += architecture;
    return name;
}

std::string MetadataStore::record(std::string_view kind, std::string_view package, std::string_view version,
                                  std::string_view architecture, const std::vector<DebEntry>& entries) {
    std::string text;
    const auto field = [&text](std::string_view value) {
        text += value;
        text += '\0';
    };
    field(kind);
    field(package);
    field(version);
    field(architecture);
    field(std::to_string(entries.size()));
    for (const DebEntry& entry : entries) {
        char mode[16];
        const auto end = std::to_chars(mode, mode + sizeof mode, entry.mode, 8).ptr;
        field(std::string_view(mode, static_cast<size_t>(end - mode)));
        field(entry.user);
        field(entry.group);
        field(entry.capability);
        field(entry.path);
    }
    return text;
}

bool MetadataStore::parseRecord(std::string_view rest, std::string_view kind, std::string_view package,
                                std::string_view version, std::string_view architecture,
                                std::vector<DebEntry>& entries) {
    entries.clear();
    std::string_view value;
    for (const std::string_view expected : {kind, package, version, architecture})
        if (!takeField(rest, value) || value != expected)
            return false;
    size_t count = 0;
    if (!takeField(rest, value) ||
        std::from_chars(value.data(), value.data() + value.size(), count).ptr !=
            value.data() + value.size() ||
        count > rest.size() / 8)
        return false;
    entries.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        std::string_view mode, user, group, capability, path;
        if (!takeField(rest, mode) || !takeField(rest, user) || !takeField(rest, group) ||
            !takeField(rest, capability) || !takeField(rest, path))
            return entries.clear(), false;
        unsigned bits = 0;
        const auto [end, error] = std::from_chars(mode.data(), mode.data() + mode.size(), bits, 8);
        const unsigned type = bits & S_IFMT;
        if (error != std::errc() || end != mode.data() + mode.size() ||
            (type != S_IFREG && type != S_IFDIR) || (bits & ~(S_IFMT | 07777u)) != 0 || user.empty() ||
            group.empty() || normalisePath(path) != path || path == "/" || !validCapabilityText(capability) ||
            (!capability.empty() && type != S_IFREG))
            return entries.clear(), false;
        entries.push_back(
            {std::string(path), bits, std::string(user), std::string(group), std::string(capability)});
    }
    if (!rest.empty())
        return entries.clear(), false;
    return true;
}

bool MetadataStore::writeEntries(std::string_view kind, std::string_view package, std::string_view version,
                                 std::string_view architecture, const std::vector<DebEntry>& entries) const {
    return writeFile(fileName(package, version, architecture),
                     std::string(kMagic) + record(kind, package, version, architecture, entries));
}

void MetadataStore::removeOtherVersions(std::string_view package, std::string_view version,
                                        std::string_view architecture) const {
    const int fd = ::openat(m_folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* folder = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!folder) {
        if (fd >= 0)
            ::close(fd);
        return;
    }
    // Names, versions and architectures hold no '_': "<package>_<version>_<architecture>" splits one way.
    const std::string keep = fileName(package, version, architecture);
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string_view name = entry->d_name;
        const size_t first = name.find('_'), last = name.rfind('_');
        if (first != std::string_view::npos && first != last && name.substr(0, first) == package &&
            name.substr(last + 1) == architecture && name.find('_', first + 1) == last && name != keep)
            stale.emplace_back(name);
    }
    ::closedir(folder);
    for (const std::string& name : stale)
        ::unlinkat(m_folder.get(), name.c_str(), 0);
}

bool MetadataStore::readEntries(std::string_view kind, std::string_view package, std::string_view version,
                                std::string_view architecture, std::vector<DebEntry>& entries) const {
    entries.clear();
    const auto text = readFile(fileName(package, version, architecture));
    return text && std::string_view(*text).substr(0, kMagic.size()) == kMagic &&
           parseRecord(std::string_view(*text).substr(kMagic.size()), kind, package, version, architecture,
                       entries);
}

std::string EntryBundle::start() {
    return std::string(kBundleMagic);
}

void EntryBundle::append(std::string& text, std::string_view record) {
    text += std::to_string(record.size());
    text += '\0';
    text += record;
}

EntryBundle EntryBundle::read(const MetadataStore& store, const std::string& name) {
    EntryBundle bundle;
    auto text = store.readFile(name, kMaxBundleSize);
    if (!text || std::string_view(*text).substr(0, kBundleMagic.size()) != kBundleMagic)
        return bundle;
    bundle.m_text = std::make_unique<const std::string>(std::move(*text));
    std::string_view rest = std::string_view(*bundle.m_text).substr(kBundleMagic.size());
    std::string_view length;
    while (takeField(rest, length)) {
        size_t size = 0;
        if (std::from_chars(length.data(), length.data() + length.size(), size).ptr !=
                length.data() + length.size() ||
            length.empty() || size > rest.size())
            break;
        const std::string_view record = rest.substr(0, size);
        rest.remove_prefix(size);
        // Its key: the kind, package, version and architecture fields with their terminators.
        size_t keyEnd = 0;
        for (int field = 0; field < 4 && keyEnd != std::string_view::npos; ++field) {
            keyEnd = record.find('\0', keyEnd);
            keyEnd = keyEnd == std::string_view::npos ? keyEnd : keyEnd + 1;
        }
        if (keyEnd != std::string_view::npos)
            bundle.m_records.emplace(record.substr(0, keyEnd), record);
    }
    return bundle;
}

std::optional<std::string_view> EntryBundle::find(std::string_view kind, std::string_view package,
                                                  std::string_view version, std::string_view architecture,
                                                  std::vector<DebEntry>& entries) const {
    entries.clear();
    std::string key;
    for (const std::string_view field : {kind, package, version, architecture})
        key.append(field).push_back('\0');
    const auto it = m_records.find(key);
    if (it == m_records.end() ||
        !MetadataStore::parseRecord(it->second, kind, package, version, architecture, entries))
        return std::nullopt;
    return it->second;
}

} // namespace helper::dpkg
