#include "helper/dpkg/DpkgText.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <iterator>
#include <vector>

namespace helper::dpkg {

namespace {

// The next line of `text` (without its newline); `text` moves past it.
std::string_view takeLine(std::string_view& text) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    return line;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// The whitespace-separated words of a line.
std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> result;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > start)
            result.push_back(line.substr(start, i - start));
    }
    return result;
}

bool lowerAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool pathCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("/._+-@%,:=~").find(c) != std::string_view::npos;
}

void finishStanza(InstalledPackage& package, bool installed, std::vector<InstalledPackage>& out,
                  size_t& refused) {
    if (installed) {
        if (validPackageName(package.name) && validArchitecture(package.architecture) &&
            validVersion(package.version))
            out.push_back(std::move(package));
        else
            ++refused;
    }
    package = {};
}

} // namespace

bool validPackageName(std::string_view name) {
    return name.size() >= 2 && name.size() <= 255 && lowerAlnum(name[0]) &&
           std::all_of(name.begin(), name.end(),
                       [](char c) { return lowerAlnum(c) || c == '+' || c == '-' || c == '.'; });
}

bool validArchitecture(std::string_view architecture) {
    return !architecture.empty() && architecture.size() <= 64 &&
           std::all_of(architecture.begin(), architecture.end(),
                       [](char c) { return lowerAlnum(c) || c == '-'; });
}

bool validVersion(std::string_view version) {
    return !version.empty() && version.size() <= 255 && version[0] >= '0' && version[0] <= '9' &&
           std::all_of(version.begin(), version.end(), [](char c) {
               return lowerAlnum(c) || (c >= 'A' && c <= 'Z') ||
                      std::string_view(".+-~:").find(c) != std::string_view::npos;
           });
}

std::vector<InstalledPackage> parseStatus(std::string_view text, size_t* refused) {
    std::vector<InstalledPackage> packages;
    size_t refusedCount = 0;
    InstalledPackage package;
    bool installed = false;
    bool inConffiles = false;
    while (!text.empty()) {
        const std::string_view line = takeLine(text);
        if (trim(line).empty()) {
            finishStanza(package, installed, packages, refusedCount);
            installed = inConffiles = false;
            continue;
        }
        if (line[0] == ' ' || line[0] == '\t') {
            if (!inConffiles)
                continue;
            // " /etc/foo.conf <md5sum> [obsolete]"
            const auto parts = words(line);
            const bool obsolete = std::find(parts.begin() + std::min<size_t>(parts.size(), 2), parts.end(),
                                            "obsolete") != parts.end();
            if (!parts.empty() && !obsolete) {
                std::string path = normalisePath(parts[0]);
                if (!path.empty())
                    package.conffiles.push_back(std::move(path));
            }
            continue;
        }
        inConffiles = false;
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::string_view field = line.substr(0, colon);
        const std::string_view value = trim(line.substr(colon + 1));
        if (field == "Package") {
            package.name = value;
        } else if (field == "Architecture") {
            package.architecture = value;
        } else if (field == "Version") {
            package.version = value;
        } else if (field == "Status") {
            const auto parts = words(value);
            installed = parts.size() == 3 && parts[1] == "ok" && parts[2] == "installed";
        } else if (field == "Conffiles") {
            inConffiles = true;
        }
    }
    finishStanza(package, installed, packages, refusedCount);
    if (refused)
        *refused = refusedCount;
    return packages;
}

std::vector<StatOverride> parseStatOverrides(std::string_view text) {
    std::vector<StatOverride> overrides;
    while (!text.empty()) {
        const std::string_view line = takeLine(text);
        const auto parts = words(line);
        if (parts.size() != 4)
            continue;
        unsigned mode = 0;
        const auto [end, error] =
            std::from_chars(parts[2].data(), parts[2].data() + parts[2].size(), mode, 8);
        std::string path = normalisePath(parts[3]);
        if (error != std::errc() || end != parts[2].data() + parts[2].size() || mode > 07777 || path.empty())
            continue;
        overrides.push_back({std::string(parts[0]), std::string(parts[1]), mode, std::move(path)});
    }
    return overrides;
}

std::vector<Diversion> parseDiversions(std::string_view text) {
    std::vector<Diversion> diversions;
    while (!text.empty()) {
        Diversion diversion;
        diversion.from = normalisePath(takeLine(text));
        diversion.to = normalisePath(takeLine(text));
        diversion.package = takeLine(text);
        if (!diversion.from.empty() && !diversion.to.empty() && !diversion.package.empty())
            diversions.push_back(std::move(diversion));
    }
    return diversions;
}

std::set<std::string> scriptPaths(std::string_view text) {
    std::set<std::string> paths;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && !pathCharacter(text[i]))
            ++i;
        const size_t start = i;
        while (i < text.size() && pathCharacter(text[i]))
            ++i;
        const std::string_view run = text.substr(start, i - start);
        const size_t slash = run.find('/');
        if (slash == std::string_view::npos)
            continue;
        std::string path = normalisePath(run.substr(slash));
        if (path.size() > 1)
            paths.insert(std::move(path));
    }
    return paths;
}

std::string normalisePath(std::string_view path) {
    if (path.empty() || path[0] != '/')
        return {};
    std::string result;
    result.reserve(path.size());
    size_t i = 0;
    while (i < path.size()) {
        while (i < path.size() && path[i] == '/')
            ++i;
        const size_t start = i;
        while (i < path.size() && path[i] != '/')
            ++i;
        const std::string_view part = path.substr(start, i - start);
        if (part.empty() || part == ".")
            continue;
        if (part == "..")
            return {};
        result += '/';
        result += part;
    }
    return result.empty() ? std::string("/") : result;
}

std::optional<std::string> capabilityText(std::string_view attribute) {
    static constexpr const char* kNames[] = {"chown",
                                             "dac_override",
                                             "dac_read_search",
                                             "fowner",
                                             "fsetid",
                                             "kill",
                                             "setgid",
                                             "setuid",
                                             "setpcap",
                                             "linux_immutable",
                                             "net_bind_service",
                                             "net_broadcast",
                                             "net_admin",
                                             "net_raw",
                                             "ipc_lock",
                                             "ipc_owner",
                                             "sys_module",
                                             "sys_rawio",
                                             "sys_chroot",
                                             "sys_ptrace",
                                             "sys_pacct",
                                             "sys_admin",
                                             "sys_boot",
                                             "sys_nice",
                                             "sys_resource",
                                             "sys_time",
                                             "sys_tty_config",
                                             "mknod",
                                             "lease",
                                             "audit_write",
                                             "audit_control",
                                             "setfcap",
                                             "mac_override",
                                             "mac_admin",
                                             "syslog",
                                             "wake_alarm",
                                             "block_suspend",
                                             "audit_read",
                                             "perfmon",
                                             "bpf",
                                             "checkpoint_restore"};
    const auto word = [&](size_t index) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(attribute.data()) + 4 * index;
        return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
               static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    };
    if (attribute.size() < 4)
        return std::nullopt;
    const uint32_t magic = word(0);
    const uint32_t revision = magic & 0xFF000000u;
    const size_t pairs = revision == 0x01000000u ? 1 : 2;
    const size_t size = revision == 0x01000000u ? 12 : revision == 0x02000000u ? 20 : 24;
    if ((revision != 0x01000000u && revision != 0x02000000u && revision != 0x03000000u) ||
        attribute.size() != size || (magic & 0x00FFFFFEu) != 0 || (revision == 0x03000000u && word(5) != 0))
        return std::nullopt;
    const bool effective = magic & 1u;
    // Each capability's flags: 'e' (raised at exec: the effective bit, for all of them), 'i', 'p'.
    std::vector<std::pair<std::string, std::vector<std::string>>> clauses; // flags → names, first seen first
    for (size_t bit = 0; bit < 32 * pairs; ++bit) {
        const uint32_t mask = 1u << (bit % 32);
        const bool permitted = word(1 + 2 * (bit / 32)) & mask, inheritable = word(2 + 2 * (bit / 32)) & mask;
        if (!permitted && !inheritable)
            continue;
        std::string flags =
            std::string(effective ? "e" : "") + (inheritable ? "i" : "") + (permitted ? "p" : "");
        const std::string name =
            bit < std::size(kNames) ? std::string("cap_") + kNames[bit] : std::to_string(bit);
        auto it =
            std::find_if(clauses.begin(), clauses.end(), [&](const auto& c) { return c.first == flags; });
        if (it == clauses.end())
            it = clauses.insert(clauses.end(), {flags, {}});
        it->second.push_back(name);
    }
    std::string text;
    for (const auto& [flags, names] : clauses) {
        if (!text.empty())
            text += ' ';
        for (size_t i = 0; i < names.size(); ++i)
            text += (i ? "," : "") + names[i];
        text += '=' + flags;
    }
    return text;
}

bool parseConfiguredLine(std::string_view line, ConfiguredLine& out) {
    const auto parts = words(line);
    if (parts.size() != 6 || parts[2] != "status" || parts[3] != "installed")
        return false;
    const size_t colon = parts[4].find(':');
    if (colon == std::string_view::npos)
        return false;
    out.time = std::string(parts[0]) + ' ' + std::string(parts[1]);
    out.name = parts[4].substr(0, colon);
    out.architecture = parts[4].substr(colon + 1);
    out.version = parts[5];
    return validPackageName(out.name) && validArchitecture(out.architecture) && validVersion(out.version);
}

} // namespace helper::dpkg
