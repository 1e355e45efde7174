#include "app/WindowPlacement.h"

#include <QGuiApplication>
#include <QPoint>
#include <QRect>
#include <QScreen>
#include <QSettings>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace app {

void WindowPlacement::save(const QWidget* window) {
    if (!window || !window->windowHandle())
        return; // never shown: there is no place to remember
    QSettings settings;
    settings.setValue(QLatin1String(kPositionKey), window->frameGeometry().topLeft());
}

bool WindowPlacement::restore(QWidget* window) {
    if (!window)
        return false;
    // The settings file is text a user can edit: anything but a point is ignored.
    const QVariant stored = QSettings().value(QLatin1String(kPositionKey));
    if (stored.typeId() != QMetaType::QPoint)
        return false;
    const QRect placed(stored.toPoint(), window->frameGeometry().size());
    const QList<QScreen*> screens = QGuiApplication::screens();
    const bool fits = std::any_of(screens.begin(), screens.end(), [&](const QScreen* screen) {
        return screen->availableGeometry().contains(placed);
    });
    if (fits)
        window->move(placed.topLeft());
    return fits;
}

} // namespace app
