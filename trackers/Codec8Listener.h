#pragma once

#include <QTcpServer>

namespace trackers {

class TrackerHub;

// The hardware trackers' port: a Codec8Connection per accepted connection.
class Codec8Listener : public QTcpServer {
public:
    Codec8Listener(TrackerHub& hub, int idleMs, QObject* parent = nullptr)
        : QTcpServer(parent), hub_(hub), idleMs_(idleMs) {}

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    TrackerHub& hub_;
    int idleMs_;
};

} // namespace trackers
