#include "helper/dpkg/DebArchive.h"

#include "helper/dpkg/DpkgText.h"

#include <archive.h>
#include <archive_entry.h>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <unordered_map>

namespace helper::dpkg {

namespace {

constexpr int kMaxMembers = 64; // a .deb has three, plus the odd "_"-prefixed extra

using Archive = std::unique_ptr<archive, decltype(&archive_read_free)>;

// data.tar's bytes straight from the outer archive's blocks, without a copy.
la_ssize_t readFromOuter(archive*, void* outer, const void** block) {
    size_t size = 0;
    la_int64_t offset = 0;
    const int status = archive_read_data_block(static_cast<archive*>(outer), block, &size, &offset);
    if (status == ARCHIVE_EOF)
        return 0;
    return status < ARCHIVE_WARN ? -1 : static_cast<la_ssize_t>(size);
}

std::string describe(archive* a, std::string_view what) {
    const char* message = archive_error_string(a);
    return std::string(what) + ": " + (message ? message : "unreadable");
}

// "./usr/bin/x" → "/usr/bin/x"; empty for an absolute member path or one with a ".." component.
std::string memberPath(std::string_view name) {
    if (name.empty() || name[0] == '/')
        return {};
    // What dpkg-deb writes ("./usr/bin/x", folders with a trailing '/') needs no more than its "." dropped.
    if (name.size() > 2 && name.substr(0, 2) == "./") {
        std::string_view rest = name.substr(1);
        if (rest.back() == '/')
            rest.remove_suffix(1);
        if (rest.find("//") == std::string_view::npos && rest.find("/.") == std::string_view::npos &&
            rest.size() > 1)
            return std::string(rest);
    }
    return normalisePath(std::string("/").append(name));
}

std::string ownerName(const char* name, la_int64_t id) {
    if (name && *name)
        return name;
    return id == 0 ? "root" : "#" + std::to_string(id);
}

bool readDataTar(archive* outer, const DebLimits& limits, std::vector<DebEntry>& entries,
                 std::string& error) {
    Archive inner(archive_read_new(), archive_read_free);
    archive_read_support_format_tar(inner.get());
    archive_read_support_format_gnutar(inner.get());
    archive_read_support_filter_gzip(inner.get());
    archive_read_support_filter_xz(inner.get());
    archive_read_support_filter_zstd(inner.get());
    archive_read_support_filter_bzip2(inner.get());
    archive_read_support_filter_lzma(inner.get());
    archive_read_support_filter_none(inner.get());
    if (archive_read_open(inner.get(), outer, nullptr, readFromOuter, nullptr) != ARCHIVE_OK) {
        error = describe(inner.get(), "data.tar");
        return false;
    }
    std::unordered_map<std::string, size_t> files; // path → index in entries, once a hard link needs it
    bool indexed = false;
    size_t count = 0;
    for (;;) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(inner.get(), &entry);
        if (status == ARCHIVE_EOF)
            return true;
        if (status < ARCHIVE_WARN) {
            error = describe(inner.get(), "data.tar");
            return false;
        }
        if (++count > limits.maxEntries) {
            error = "data.tar has more than " + std::to_string(limits.maxEntries) + " entries";
            return false;
        }
        const char* name = archive_entry_pathname(entry);
        const std::string_view raw = name ? name : "";
        if (raw.size() > limits.maxPathLength) {
            error = "data.tar names a path longer than " + std::to_string(limits.maxPathLength) + " bytes";
            return false;
        }
        std::string path = memberPath(raw);
        if (path.empty()) {
            error = "data.tar names a path outside the installation: " + std::string(raw);
            return false;
        }
        if (const char* target = archive_entry_hardlink(entry)) {
            if (!indexed) {
                files.reserve(entries.size());
                for (size_t i = 0; i < entries.size(); ++i)
                    if (S_ISREG(entries[i].mode))
                        files.emplace(entries[i].path, i);
                indexed = true;
            }
            const auto it = files.find(memberPath(target));
            if (it == files.end()) {
                error = "data.tar links " + path + " to a file it does not hold before: " + target;
                return false;
            }
            DebEntry link = entries[it->second];
            link.path = std::move(path);
            entries.push_back(std::move(link));
            continue;
        }
        const unsigned type = archive_entry_filetype(entry);
        if ((type != AE_IFREG && type != AE_IFDIR) || path == "/")
            continue;
        if (type == AE_IFREG && indexed)
            files.emplace(path, entries.size());
        entries.push_back({std::move(path), type | (archive_entry_perm(entry) & 07777u),
                           ownerName(archive_entry_uname(entry), archive_entry_uid(entry)),
                           ownerName(archive_entry_gname(entry), archive_entry_gid(entry))});
    }
}

} // namespace

bool readDebEntries(int fd, const DebLimits& limits, std::vector<DebEntry>& entries, std::string& error) {
    entries.clear();
    Archive outer(archive_read_new(), archive_read_free);
    archive_read_support_format_ar(outer.get());
    if (archive_read_open_fd(outer.get(), fd, 65536) != ARCHIVE_OK) {
        error = describe(outer.get(), "not a Debian package");
        return false;
    }
    for (int member = 0;; ++member) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(outer.get(), &entry);
        if (status == ARCHIVE_EOF) {
            error = "the package holds no data.tar";
            return false;
        }
        if (status < ARCHIVE_WARN) {
            error = describe(outer.get(), "the package archive");
            return false;
        }
        if (member >= kMaxMembers) {
            error = "the package archive has more than " + std::to_string(kMaxMembers) + " members";
            return false;
        }
        const char* name = archive_entry_pathname(entry);
        const std::string_view memberName = name ? name : "";
        if (member == 0 && memberName != "debian-binary") {
            error = "not a Debian package: its first member is not debian-binary";
            return false;
        }
        if (memberName.substr(0, 8) == "data.tar") {
            if (readDataTar(outer.get(), limits, entries, error))
                return true;
            entries.clear();
            return false;
        }
        archive_read_data_skip(outer.get());
    }
}

} // namespace helper::dpkg
