#include "helper/AccountDatabase.h"

#include "helper/PathResolver.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <unistd.h>

namespace helper {

namespace {

constexpr size_t kMaxFileSize = 16u << 20;

std::string readSmallFile(int rootFd, std::string_view path) {
    const UniqueFd file = openFileInRoot(rootFd, path);
    std::string text;
    if (!file)
        return text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0 ? text : std::string();
        if (text.size() + static_cast<size_t>(n) > kMaxFileSize)
            return {};
        text.append(buffer, static_cast<size_t>(n));
    }
}

} // namespace

void AccountDatabase::Table::read(std::string_view text) {
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        // name:password:id:… in both files. Anything else (comments, the "+" lines of old NIS set-ups)
        // names nobody.
        const size_t nameEnd = line.find(':');
        const size_t idStart = nameEnd == std::string_view::npos ? nameEnd : line.find(':', nameEnd + 1);
        if (nameEnd == 0 || idStart == std::string_view::npos)
            continue;
        const std::string_view idText = line.substr(idStart + 1, line.find(':', idStart + 1) - idStart - 1);
        unsigned id = 0;
        const auto [rest, error] = std::from_chars(idText.data(), idText.data() + idText.size(), id);
        if (idText.empty() || error != std::errc() || rest != idText.data() + idText.size())
            continue;
        ids.emplace(std::string(line.substr(0, nameEnd)), id);
        names.emplace(id, std::string(line.substr(0, nameEnd)));
    }
}

std::optional<unsigned> AccountDatabase::Table::id(std::string_view name) const {
    if (name == "root")
        return 0;
    const auto it = ids.find(std::string(name));
    if (it == ids.end())
        return std::nullopt;
    return it->second;
}

std::string AccountDatabase::Table::name(unsigned id) const {
    const auto it = names.find(id);
    if (it != names.end())
        return it->second;
    return id == 0 ? "root" : std::to_string(id);
}

AccountDatabase AccountDatabase::fromText(std::string_view passwd, std::string_view group,
                                          std::string_view loginDefs) {
    AccountDatabase accounts;
    accounts.m_users.read(passwd);
    accounts.m_groups.read(group);
    // "UID_MIN<blanks>1000" lines; the last one counts, as for the tools that read it.
    while (!loginDefs.empty()) {
        const size_t end = loginDefs.find('\n');
        std::string_view line = loginDefs.substr(0, end);
        loginDefs.remove_prefix(end == std::string_view::npos ? loginDefs.size() : end + 1);
        const size_t blank = line.find_first_of(" \t");
        if (blank == std::string_view::npos)
            continue;
        const std::string_view key = line.substr(0, blank);
        line.remove_prefix(blank);
        line.remove_prefix(std::min(line.size(), line.find_first_not_of(" \t")));
        unsigned value = 0;
        const auto [rest, error] = std::from_chars(line.data(), line.data() + line.size(), value);
        if (error != std::errc() || (rest != line.data() + line.size() && *rest != ' ' && *rest != '\t'))
            continue;
        if (key == "UID_MIN")
            accounts.m_uidMin = value;
        else if (key == "GID_MIN")
            accounts.m_gidMin = value;
    }
    return accounts;
}

AccountDatabase AccountDatabase::read(int rootFd) {
    return fromText(readSmallFile(rootFd, "etc/passwd"), readSmallFile(rootFd, "etc/group"),
                    readSmallFile(rootFd, "etc/login.defs"));
}

std::optional<uid_t> AccountDatabase::userId(std::string_view name) const {
    return m_users.id(name);
}

std::optional<gid_t> AccountDatabase::groupId(std::string_view name) const {
    return m_groups.id(name);
}

std::string AccountDatabase::userName(uid_t id) const {
    return m_users.name(id);
}

std::string AccountDatabase::groupName(gid_t id) const {
    return m_groups.name(id);
}

} // namespace helper
