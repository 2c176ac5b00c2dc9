#pragma once

#include "IdleTimeout.h"

#include <QTcpServer>

namespace trackers {

class TrackerHub;

// The hardware trackers' port: a Codec8Connection per accepted connection.
class Codec8Listener : public QTcpServer {
public:
    Codec8Listener(TrackerHub& hub, int idleMs, QObject* parent = nullptr)
        : QTcpServer(parent), hub_(hub), idle_(idleMs) {}

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    TrackerHub& hub_;
    IdleTimeout idle_;
};

} // namespace trackers
