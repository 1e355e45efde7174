#pragma once

namespace app {

// The part of the system's user and group database that the administrator check reads. The system's
// own answers come from getgrnam() and getlogin(); tests supply their own.
class GroupDatabase {
public:
    virtual ~GroupDatabase() = default;
    // The explicit member names of the group, as a null-terminated list; null when there is no such group.
    // Valid until the next call.
    virtual const char* const* membersOf(const char* group) const;
    // The name of the user logged in on the controlling terminal or session; null when there is none.
    virtual const char* loginName() const;
};

} // namespace app
