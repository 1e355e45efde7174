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
        entries.push_back({std::move(path),
                           type | (archive_entry_perm(entry) & 07777u),
                           ownerName(archive_entry_uname(entry), archive_entry_uid(entry)),
                           ownerName(archive_entry_gname(entry), archive_entry_gid(entry)),
                           {}});
    }
}

} // namespace

namespace {

// Walks the outer ar archive open on `fd` to the first member whose name starts with `prefix` and hands
// the archive, positioned at it, to `read`; false, with `error`, when there is none or the archive is bad.
template <typename Read>
bool withMember(int fd, std::string_view prefix, std::string& error, Read read) {
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
            error = "the package holds no " + std::string(prefix);
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
        if (memberName.substr(0, prefix.size()) == prefix)
            return read(outer.get());
        archive_read_data_skip(outer.get()); // a seek: the outer archive is a file
    }
}

// The value of a field of a control file's text ("Version: 1.0" → "1.0"); empty when it has none.
std::string controlField(std::string_view text, std::string_view field) {
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        const std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (line.size() > field.size() && line.substr(0, field.size()) == field &&
            line[field.size()] == ':') {
            std::string_view value = line.substr(field.size() + 1);
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
                value.remove_prefix(1);
            while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
                value.remove_suffix(1);
            return std::string(value);
        }
    }
    return {};
}

} // namespace

bool readDebEntries(int fd, const DebLimits& limits, std::vector<DebEntry>& entries, std::string& error) {
    entries.clear();
    if (withMember(fd, "data.tar", error,
                   [&](archive* outer) { return readDataTar(outer, limits, entries, error); }))
        return true;
    entries.clear();
    return false;
}

bool readDebControl(int fd, DebControl& control, std::string& error) {
    control = {};
    return withMember(fd, "control.tar", error, [&](archive* outer) {
        Archive inner(archive_read_new(), archive_read_free);
        archive_read_support_format_tar(inner.get());
        archive_read_support_format_gnutar(inner.get());
        for (const auto filter : {archive_read_support_filter_gzip, archive_read_support_filter_xz,
                                  archive_read_support_filter_zstd, archive_read_support_filter_none})
            filter(inner.get());
        if (archive_read_open(inner.get(), outer, nullptr, readFromOuter, nullptr) != ARCHIVE_OK) {
            error = describe(inner.get(), "control.tar");
            return false;
        }
        for (int count = 0; count < 1000; ++count) {
            archive_entry* entry = nullptr;
            const int status = archive_read_next_header(inner.get(), &entry);
            if (status < ARCHIVE_WARN || status == ARCHIVE_EOF)
                break;
            const char* name = archive_entry_pathname(entry);
            if (!name || memberPath(name) != "/control" || archive_entry_filetype(entry) != AE_IFREG)
                continue;
            constexpr size_t kMaxControl = 1u << 20;
            std::string text(kMaxControl + 1, '\0');
            size_t used = 0;
            for (la_ssize_t n; used < text.size() && (n = archive_read_data(inner.get(), text.data() + used,
                                                                            text.size() - used)) > 0;)
                used += static_cast<size_t>(n);
            if (used > kMaxControl) {
                error = "its control file is over 1 MiB";
                return false;
            }
            text.resize(used);
            control = {controlField(text, "Package"), controlField(text, "Version"),
                       controlField(text, "Architecture")};
            return true;
        }
        error = describe(inner.get(), "control.tar holds no control file");
        return false;
    });
}

} // namespace helper::dpkg
