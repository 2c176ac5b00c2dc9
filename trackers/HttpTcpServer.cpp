#include "HttpTcpServer.h"

#include "IdleTimeout.h"

#include <QTcpSocket>
#include <memory>

namespace trackers {

void HttpTcpServer::incomingConnection(qintptr descriptor) {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    idle_.watch(socket);
    // Connected before the HTTP server's own handler, so it looks first. The server reads what
    // arrives at once and keeps a request's body in memory: what came in since the last answer
    // is counted here, and a request that outgrows the bound is answered 413 and closed.
    auto unanswered = std::make_shared<qint64>(0);
    connect(socket, &QTcpSocket::bytesWritten, socket, [unanswered] { *unanswered = 0; });
    connect(socket, &QTcpSocket::readyRead, socket, [socket, unanswered, limit = maxBytes_] {
        *unanswered += socket->bytesAvailable();
        if (*unanswered <= limit)
            return;
        socket->readAll();
        socket->write("HTTP/1.1 413 Payload Too Large\r\nContent-Type: text/plain; charset=utf-8\r\n"
                      "Content-Length: 33\r\nConnection: close\r\n\r\nзапрос больше 64 КБ");
        socket->disconnectFromHost();
    });
    addPendingConnection(socket);
    emit newConnection();
}

} // namespace trackers
