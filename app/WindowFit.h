#pragma once

class QMainWindow;

namespace app {

// Keeps the main window on its screen's free area: with the details closed it is as tall as its content
// (any width); with them open it may grow, the log taking the room, but never past the screen's available
// geometry, and it is moved back inside that area when it would leave it.
class WindowFit {
public:
    static void fit(QMainWindow* window, bool detailsOpen);
};

} // namespace app
