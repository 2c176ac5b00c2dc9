#pragma once

#include <QHostAddress>
#include <QString>

namespace trackers {

// One --listen value: "PROTOCOL=HOST:PORT", or "PROTOCOL=PORT" on the loopback. A protocol is
// "osmand" or "codec8"; an address other than the loopback only when written out.
struct ListenAddress {
    QString protocol;
    QHostAddress address;
    quint16 port = 0;

    // Throws VantrelError with the reason.
    static ListenAddress parse(const QString& text);
};

} // namespace trackers
