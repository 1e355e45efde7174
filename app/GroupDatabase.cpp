#include "app/GroupDatabase.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace app {

const char* const* GroupDatabase::membersOf(const char* name) const {
    const struct group* entry = ::getgrnam(name);
    return entry ? entry->gr_mem : nullptr;
}

std::optional<gid_t> GroupDatabase::groupId(const char* name) const {
    const struct group* entry = ::getgrnam(name);
    return entry ? std::optional<gid_t>(entry->gr_gid) : std::nullopt;
}

const char* GroupDatabase::loginName() const {
    return ::getlogin();
}

uid_t GroupDatabase::realUserId() const {
    return ::getuid();
}

std::optional<GroupDatabase::Account> GroupDatabase::account(uid_t user) const {
    const struct passwd* entry = ::getpwuid(user);
    if (!entry || !entry->pw_name)
        return std::nullopt;
    return Account{entry->pw_name, entry->pw_gid};
}

std::optional<uid_t> GroupDatabase::userId(const char* name) const {
    const struct passwd* entry = ::getpwnam(name);
    return entry ? std::optional<uid_t>(entry->pw_uid) : std::nullopt;
}

} // namespace app
