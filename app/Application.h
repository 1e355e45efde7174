#pragma once

#include "app/GroupDatabase.h"

#include <memory>

namespace app {

// The whole program: the command line, one copy per user, the main window and its controller, and the
// event loop; returns the exit status. groups replaces the system's group database when given.
int runApplication(int argc, char** argv, std::unique_ptr<GroupDatabase> groups = nullptr);

} // namespace app
