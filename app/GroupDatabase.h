#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

namespace app {

// The part of the system's user and group database that the administrator check reads. The system's
// own answers come from getgrnam(), getpwnam(), getpwuid(), getuid() and getlogin(); tests supply their own.
class GroupDatabase {
public:
    // What the check needs of an account.
    struct Account {
        std::string name;
        gid_t primaryGroup = 0;
    };

    virtual ~GroupDatabase() = default;
    // The explicit member names of the group, as a null-terminated list; null when there is no such group.
    // Valid until the next call.
    virtual const char* const* membersOf(const char* group) const;
    // The group's number; none when there is no such group.
    virtual std::optional<gid_t> groupId(const char* group) const;
    // The name of the user logged in on the controlling terminal or session; null when there is none.
    virtual const char* loginName() const;
    // The real user id of this process, and the accounts by number and by name.
    virtual uid_t realUserId() const;
    virtual std::optional<Account> account(uid_t user) const;
    virtual std::optional<uid_t> userId(const char* name) const;
};

} // namespace app
