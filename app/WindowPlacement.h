#pragma once

class QWidget;

namespace app {

// Where the main window was when Varnel last quit. Only the position is kept: the size follows the
// content (app/WindowFit). A position is used again only where the whole window fits the free area of a
// screen, so a screen that is gone or smaller now never hides it.
class WindowPlacement {
public:
    // The settings key, beside the time of the last repair.
    static constexpr char kPositionKey[] = "Varnel.windowPosition";

    // Remembers where the window's frame is, once it has been shown.
    static void save(const QWidget* window);
    // Moves the window where it was when that fits a screen; true when it did.
    static bool restore(QWidget* window);
};

} // namespace app
