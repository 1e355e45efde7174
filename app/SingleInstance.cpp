#include "app/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace app {
namespace {

constexpr QByteArrayView kReopen = "reopen\n";
constexpr QByteArrayView kReopened = "ok\n";
constexpr int kConnectTimeoutMs = 1000;
constexpr int kReplyTimeoutMs = 3000;
constexpr int kLockTimeoutMs = 5000;

// An exclusive lock on a file, held while the object lives. The kernel lets it go with the process, so a
// copy that crashed leaves nothing stale behind, and taking it writes nothing (QLockFile writes the file
// and waits for the disk at every launch).
class FileLock {
public:
    explicit FileLock(const QString& path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {}
    ~FileLock() {
        if (m_fd >= 0)
            ::close(m_fd); // lets the lock go
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool tryLock(int timeoutMs) {
        const QDeadlineTimer deadline(timeoutMs);
        while (m_fd >= 0) {
            if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0)
                return true;
            if ((errno != EWOULDBLOCK && errno != EINTR) || deadline.hasExpired())
                return false;
            QThread::msleep(10);
        }
        return false;
    }

private:
    int m_fd;
};

} // namespace

SingleInstance::SingleInstance(const QString& name, const QString& folder, QObject* parent)
    : QObject(parent) {
    const QString dir =
        folder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) : folder;
    if (!dir.isEmpty()) {
        m_socketPath = QDir(dir).filePath(name + QStringLiteral(".socket"));
        m_lockPath = QDir(dir).filePath(name + QStringLiteral(".lock"));
    }
}

SingleInstance::~SingleInstance() = default;

SingleInstance::Role SingleInstance::start() {
    if (m_socketPath.isEmpty())
        return Role::Alone;
    // Only the decision between asking and listening is serialised; the lock is let go at once.
    FileLock lock(m_lockPath);
    if (!lock.tryLock(kLockTimeoutMs))
        return Role::Alone;
    if (askRunningCopyToReopen())
        return Role::Secondary;

    // Nobody answered: whatever socket is there was left behind by a copy that is gone.
    QLocalServer::removeServer(m_socketPath);
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(m_socketPath))
        return Role::Alone;
    connect(server.get(), &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
    m_server = std::move(server);
    return Role::Primary;
}

bool SingleInstance::askRunningCopyToReopen() {
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(kConnectTimeoutMs))
        return false;
    socket.write(kReopen.data(), kReopen.size());
    if (!socket.waitForBytesWritten(kReplyTimeoutMs))
        return false;
    // Waiting for the answer tells a live copy from a socket nobody serves any more.
    while (socket.bytesAvailable() < kReopened.size())
        if (!socket.waitForReadyRead(kReplyTimeoutMs))
            return false;
    return socket.read(kReopened.size()) == kReopened;
}

void SingleInstance::onNewConnection() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            // A request is one short line; anything longer or different is not one of ours.
            if (socket->bytesAvailable() < kReopen.size())
                return;
            const bool reopen = socket->read(kReopen.size()) == kReopen;
            if (reopen) {
                socket->write(kReopened.data(), kReopened.size());
                socket->flush();
            }
            socket->disconnectFromServer();
            if (reopen)
                emit reopenRequested();
        });
    }
}

} // namespace app
