#include "app/RunNotifier.h"

#include <QWidget>

#if !defined(Q_OS_MACOS)
#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>
#endif

namespace app {
namespace {

constexpr char kAppId[] = "app.varnel.Varnel";

} // namespace

bool RunNotifier::unattended(const QWidget* window) {
    return !window || !window->isVisible() || window->isMinimized() || !window->isActiveWindow();
}

bool RunNotifier::runEnded(const QWidget* window, bool succeeded, const QString& detail) {
    if (!unattended(window))
        return false;
#if defined(Q_OS_MACOS)
    Q_UNUSED(succeeded);
    Q_UNUSED(detail);
    return false;
#else
    const QDBusConnection bus =
        m_busAddress.isEmpty()
            ? QDBusConnection::sessionBus()
            : QDBusConnection::connectToBus(m_busAddress, QStringLiteral("varnel-notify ") + m_busAddress);
    if (!bus.isConnected())
        return false;
    // org.freedesktop.Notifications.Notify(app_name, replaces_id, app_icon, summary, body, actions, hints,
    // expire_timeout). Urgency: 1 normal, 2 critical (stays until dismissed on most desktops).
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QLatin1String(kAppId));
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(succeeded ? 1 : 2));
    call << QStringLiteral("Varnel") << 0u << QLatin1String(kAppId)
         << (succeeded ? tr("Repair complete") : tr("The repair did not finish")) << detail << QStringList()
         << hints << -1;
    // No service, no answer: the bus's error reply is dropped, and nothing waits for it.
    return bus.send(call);
#endif
}

} // namespace app
