#include "IdleTimeout.h"

#include <QTcpSocket>
#include <QTimer>

namespace trackers {

void closeWhenIdle(QTcpSocket* socket, int ms) {
    auto* timer = new QTimer(socket);
    timer->setSingleShot(true);
    timer->setInterval(ms);
    QObject::connect(timer, &QTimer::timeout, socket, &QTcpSocket::abort);
    const auto restart = [timer] { timer->start(); };
    QObject::connect(socket, &QTcpSocket::readyRead, timer, restart);
    QObject::connect(socket, &QTcpSocket::bytesWritten, timer, restart);
    timer->start();
}

} // namespace trackers
