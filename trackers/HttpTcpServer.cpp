#include "HttpTcpServer.h"

#include "IdleTimeout.h"

#include <QTcpSocket>

namespace trackers {

void HttpTcpServer::incomingConnection(qintptr descriptor) {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    closeWhenIdle(socket, idleMs_);
    // Connected before the HTTP server's own handler, so it looks first.
    connect(socket, &QTcpSocket::readyRead, socket, [socket, limit = maxBytes_] {
        if (socket->bytesAvailable() <= limit)
            return;
        socket->write("HTTP/1.1 413 Payload Too Large\r\nContent-Type: text/plain; charset=utf-8\r\n"
                      "Content-Length: 33\r\nConnection: close\r\n\r\nзапрос больше 64 КБ");
        socket->disconnectFromHost();
    });
    addPendingConnection(socket);
    emit newConnection();
}

} // namespace trackers
