#pragma once

#include <QCoreApplication>
#include <QString>

class QWidget;

namespace app {

// Tells the desktop that a run ended while nobody was looking at the window: hidden, minimised or not the
// active window. The notice goes to the freedesktop notification service on the session bus; without a bus
// or a service nothing happens, and the call never waits for an answer.
class RunNotifier {
    Q_DECLARE_TR_FUNCTIONS(RunNotifier)

public:
    // Whether the user is not looking at the window.
    static bool unattended(const QWidget* window);

    // Sends the notice when the window is unattended; true when it went out on a bus.
    bool runEnded(const QWidget* window, bool succeeded, const QString& detail);

    // The bus to use instead of the session bus (a private one in tests).
    void setBusAddress(const QString& address) { m_busAddress = address; }

private:
    QString m_busAddress;
};

} // namespace app
