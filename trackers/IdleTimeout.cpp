#include "IdleTimeout.h"

#include <QTcpSocket>
#include <vector>

namespace trackers {

IdleTimeout::IdleTimeout(int idleMs, QObject* parent) : QObject(parent), idleMs_(idleMs) {
    clock_.start();
    connect(&sweeper_, &QTimer::timeout, this, &IdleTimeout::sweep);
    sweeper_.start(std::max(idleMs / 4, 50));
}

void IdleTimeout::watch(QTcpSocket* socket) {
    lastActive_[socket] = clock_.elapsed();
    const auto active = [this, socket] { lastActive_[socket] = clock_.elapsed(); };
    connect(socket, &QTcpSocket::readyRead, this, active);
    connect(socket, &QTcpSocket::bytesWritten, this, active);
    connect(socket, &QObject::destroyed, this, [this, socket] { lastActive_.erase(socket); });
}

void IdleTimeout::sweep() {
    const qint64 now = clock_.elapsed();
    std::vector<QTcpSocket*> idle;
    for (const auto& [socket, last] : lastActive_)
        if (now - last >= idleMs_)
            idle.push_back(socket);
    for (QTcpSocket* socket : idle) {
        lastActive_[socket] = now; // aborted once; its owner deletes it
        socket->abort();
    }
}

} // namespace trackers
