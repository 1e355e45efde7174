#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unordered_map>

namespace helper {

// The user and group names of the installation being repaired, read from its own etc/passwd and
// etc/group as rpm does for another root, never through this system's name services. "root" is 0
// whatever the files say; for duplicate names the first entry counts, as getpwnam() would answer.
class AccountDatabase {
public:
    // Reads <root>/etc/passwd, <root>/etc/group and <root>/etc/login.defs (each at most 16 MiB; a missing
    // or larger file contributes no names).
    static AccountDatabase read(int rootFd);
    // Reads the files' text directly.
    static AccountDatabase fromText(std::string_view passwd, std::string_view group,
                                    std::string_view loginDefs = {});

    // The first id of login accounts (login.defs' UID_MIN and GID_MIN; 1000 when it names none): ids
    // below are system accounts.
    uid_t uidMin() const { return m_uidMin; }
    gid_t gidMin() const { return m_gidMin; }

    std::optional<uid_t> userId(std::string_view name) const;
    std::optional<gid_t> groupId(std::string_view name) const;
    // The name of an id, or the id in decimal when no entry has it.
    std::string userName(uid_t id) const;
    std::string groupName(gid_t id) const;

private:
    struct Table {
        std::unordered_map<std::string, unsigned> ids;
        std::unordered_map<unsigned, std::string> names;
        void read(std::string_view text);
        std::optional<unsigned> id(std::string_view name) const;
        std::string name(unsigned id) const;
    };
    Table m_users, m_groups;
    uid_t m_uidMin = 1000;
    gid_t m_gidMin = 1000;
};

} // namespace helper
