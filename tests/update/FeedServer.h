#pragma once

#include "update/Appcast.h"

#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

// A feed of the given items, its appcast namespace bound to prefix.
inline QByteArray feedOf(const QString& items, const QString& prefix = QStringLiteral("sparkle")) {
    return QStringLiteral(
               "<?xml version=\"1.0\"?><rss version=\"2.0\" xmlns:%1=\"%2\"><channel>%3</channel></rss>")
        .arg(prefix, QString::fromUtf16(update::kAppcastNamespace), items)
        .toUtf8();
}

// A minimal HTTP/1.1 server on 127.0.0.1. Each request target (a path, or an absolute address when the
// server plays a proxy) gets a canned answer; an empty answer means none at all; unknown targets get 404.
class FeedServer : public QObject {
    Q_OBJECT
public:
    FeedServer() {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = m_server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                m_pending[socket] += socket->readAll();
                if (!m_pending[socket].contains("\r\n\r\n"))
                    return;
                ++requests;
                const QByteArray answer =
                    m_answers.value(m_pending[socket].split(' ').value(1),
                                    "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
                socket->write(answer);
                if (!answer.isEmpty())
                    socket->disconnectFromHost();
            });
        });
    }
    QUrl url(const QString& path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port()) + path);
    }
    quint16 port() const { return m_server.serverPort(); }

    // Extra header lines end in "\r\n". Without a declared length the body ends when the connection closes.
    void serve(const QByteArray& target, int status, const QByteArray& body, const QByteArray& headers = {},
               bool declareLength = true) {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + " X\r\nConnection: close\r\n" + headers;
        if (declareLength)
            head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        m_answers.insert(target, head + "\r\n" + body);
    }
    void stall(const QByteArray& target) { m_answers.insert(target, {}); }

    int requests = 0;

private:
    QTcpServer m_server;
    QHash<QByteArray, QByteArray> m_answers;
    QHash<QTcpSocket*, QByteArray> m_pending;
};

// An endless chunked body on 127.0.0.1, written from a thread of its own: it keeps sending while the
// client's thread is busy, as a fast server on a fast network does. Serves one request, and holds the
// body back until the test lets it flow.
class EndlessFeed {
public:
    EndlessFeed() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(m_listener, 1) != 0 ||
            getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] {
            m_client = accept(m_listener, nullptr, nullptr);
            char request[4096];
            if (m_client < 0 || recv(m_client, request, sizeof request, 0) <= 0)
                return;
            requested = true;
            while (!flowing)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const QByteArray head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
            const QByteArray chunk = "10000\r\n" + QByteArray(0x10000, 'x') + "\r\n"; // 64 KiB
            for (ssize_t n = send(m_client, head.data(), head.size(), MSG_NOSIGNAL); n > 0;)
                n = send(m_client, chunk.data(), chunk.size(), MSG_NOSIGNAL);
        });
    }
    ~EndlessFeed() {
        // Ends a blocked accept() or send() as well.
        flowing = true;
        shutdown(m_listener, SHUT_RDWR);
        if (m_client >= 0)
            shutdown(m_client, SHUT_RDWR);
        if (m_thread.joinable())
            m_thread.join();
        close(m_listener);
        if (m_client >= 0)
            close(m_client);
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/endless").arg(m_port)); }

    std::atomic<bool> requested = false, flowing = false;

private:
    const int m_listener = socket(AF_INET, SOCK_STREAM, 0);
    std::atomic<int> m_client = -1;
    quint16 m_port = 0;
    std::thread m_thread;
};
