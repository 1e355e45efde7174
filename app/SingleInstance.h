#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <memory>

namespace app {

// Keeps one running copy of the program per user. The first copy listens on a local socket in the user's
// private runtime folder; a later copy finds it there, asks it to bring its window back and is told to
// quit. A lock file next to the socket serialises two copies starting at once, and a socket left behind
// by a copy that crashed is taken over.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    // name identifies the program; folder defaults to the user's runtime folder.
    explicit SingleInstance(const QString& name, const QString& folder = QString(),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    enum class Role {
        Primary,   // this copy runs; reopenRequested() reports later launches
        Secondary, // another copy runs and was asked to reopen: quit
        Alone,     // the folder could not be used; run without the service
    };
    Role start();

    QString socketPath() const { return m_socketPath; }

signals:
    void reopenRequested();

private:
    bool askRunningCopyToReopen();
    void onNewConnection();

    QString m_socketPath;
    QString m_lockPath;
    std::unique_ptr<QLocalServer> m_server;
};

} // namespace app
