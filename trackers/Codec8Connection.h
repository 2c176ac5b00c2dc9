#pragma once

#include "Codec8Stream.h"

#include <QObject>
#include <optional>

class QTcpSocket;

namespace trackers {

class IdleTimeout;
class TrackerHub;

// One hardware tracker's TCP connection: answers the handshake (0x01 for a registered IMEI,
// 0x00 and closes otherwise), stores each valid packet's records and only then answers their
// 4-byte count. While a packet is being stored nothing more is read, so a connection holds at
// most one packet and what the socket's bounded buffer keeps. Deletes itself when closed.
class Codec8Connection : public QObject {
public:
    Codec8Connection(qintptr descriptor, TrackerHub& hub, IdleTimeout& idle, QObject* parent);

private:
    void readMore();
    // Acts on one event of the stream; false when reading must stop for now.
    bool handle(Codec8Stream::Event event);
    void close();

    QTcpSocket* socket_;
    TrackerHub& hub_;
    Codec8Stream stream_;
    std::optional<int> device_;
    QString where_;
    bool waiting_ = false;
    bool closing_ = false;
};

} // namespace trackers
