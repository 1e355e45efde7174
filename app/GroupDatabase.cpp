#include "app/GroupDatabase.h"

#include <grp.h>
#include <unistd.h>

namespace app {

const char* const* GroupDatabase::membersOf(const char* name) const {
    const struct group* entry = ::getgrnam(name);
    return entry ? entry->gr_mem : nullptr;
}

const char* GroupDatabase::loginName() const {
    return ::getlogin();
}

} // namespace app
