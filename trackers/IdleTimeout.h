#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <unordered_map>

class QTcpSocket;

namespace trackers {

// Aborts connections on which nothing was received or sent for `idleMs`: an idle tracker, or
// one dribbling a byte now and then slower than that, holds no memory for long. One sweep a
// quarter of that time looks at every watched connection's last activity; a timer per
// connection, restarted at every packet, cost more than the packets at a thousand connections.
class IdleTimeout : public QObject {
public:
    explicit IdleTimeout(int idleMs, QObject* parent = nullptr);
    void watch(QTcpSocket* socket);

private:
    void sweep();

    qint64 idleMs_;
    QElapsedTimer clock_;
    QTimer sweeper_;
    std::unordered_map<QTcpSocket*, qint64> lastActive_;
};

} // namespace trackers
