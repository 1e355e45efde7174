#pragma once

#include <QIcon>

namespace app {

// The application's icon at every size rendered from app/resources at build time. It comes from the
// program's own resources, so windows and alerts carry it whether or not the icon theme has it installed.
QIcon applicationIcon();

} // namespace app
