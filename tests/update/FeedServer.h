#pragma once

#include <QHash>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

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
                if (m_floods.contains(m_pending[socket].split(' ').value(1))) {
                    socket->write("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
                    connect(socket, &QTcpSocket::bytesWritten, socket, [socket] {
                        if (socket->bytesToWrite() < 0x40000) // a chunk of 64 KiB
                            socket->write("10000\r\n" + QByteArray(0x10000, 'x') + "\r\n");
                    });
                    return;
                }
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
    // An endless chunked body, written as fast as the client takes it.
    void flood(const QByteArray& target) { m_floods.insert(target); }

    int requests = 0;

private:
    QTcpServer m_server;
    QHash<QByteArray, QByteArray> m_answers;
    QSet<QByteArray> m_floods;
    QHash<QTcpSocket*, QByteArray> m_pending;
};
