#include "app/WindowFit.h"

#include <QLayout>
#include <QMainWindow>
#include <QScreen>
#include <QStyle>
#include <algorithm>

namespace app {

void WindowFit::fit(QMainWindow* window, bool detailsOpen) {
    // Maximised or full screen, the window system decides the size and the log takes the room.
    if (!window || window->isMaximized() || window->isFullScreen())
        return;
    const QScreen* screen = window->screen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    // The decorations around the window, once the window system has told; a fair guess before.
    QSize frame = window->frameGeometry().size() - window->geometry().size();
    if (!window->isVisible())
        frame = QSize(0, window->style()->pixelMetric(QStyle::PM_TitleBarHeight));
    const QSize room = available.size() - frame;

    window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    if (QWidget* content = window->centralWidget(); content && content->layout())
        content->layout()->activate(); // what was just shown or hidden counts in the size hint
    const int width = std::clamp(window->width(), window->minimumSizeHint().width(), room.width());
    int height = window->sizeHint().height();
    if (detailsOpen) {
        height = std::max(height, window->height());
        window->setMaximumHeight(room.height());
    } else {
        // Closed, the window is as tall as what it shows: no empty space to grow into.
        window->setMaximumHeight(height);
    }
    height = std::min(height, room.height());
    window->resize(width, height);

    // Back inside the free area, whole.
    QRect placed(window->pos(), QSize(width, height) + frame);
    placed.moveRight(std::min(placed.right(), available.right()));
    placed.moveBottom(std::min(placed.bottom(), available.bottom()));
    placed.moveLeft(std::max(placed.left(), available.left()));
    placed.moveTop(std::max(placed.top(), available.top()));
    window->move(placed.topLeft());
}

} // namespace app
