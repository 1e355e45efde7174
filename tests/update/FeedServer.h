#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

// A minimal HTTP/1.1 server on 127.0.0.1 for the update tests. Each request target (a path, or an
// absolute address when the server plays a proxy) gets a canned answer; unknown targets get 404.
class FeedServer : public QObject {
    Q_OBJECT

public:
    FeedServer() {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onRequest(socket); });
            }
        });
    }

    QUrl url(const QString& path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }
    quint16 port() const { return m_server.serverPort(); }

    // Answers target with a status, extra header lines ("Name: value\r\n") and a body. Without a
    // declared length the body is ended by closing the connection.
    void serve(const QByteArray& target, int status, const QByteArray& body, const QByteArray& headers = {},
               bool declareLength = true) {
        QByteArray head =
            "HTTP/1.1 " + QByteArray::number(status) + " Canned\r\nConnection: close\r\n" + headers;
        if (declareLength)
            head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        m_answers.insert(target, head + "\r\n" + body);
    }
    // Reads the request and never answers.
    void stall(const QByteArray& target) { m_answers.insert(target, QByteArray()); }

    int requestCount() const { return m_requests; }

private:
    void onRequest(QTcpSocket* socket) {
        QByteArray& pending = m_pending[socket];
        pending += socket->readAll();
        if (!pending.contains("\r\n\r\n"))
            return;
        ++m_requests;
        const QByteArray target = pending.split(' ').value(1);
        pending.clear();
        const QByteArray answer = m_answers.value(
            target, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        if (answer.isEmpty())
            return;
        socket->write(answer);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QByteArray, QByteArray> m_answers;
    QHash<QTcpSocket*, QByteArray> m_pending;
    int m_requests = 0;
};
