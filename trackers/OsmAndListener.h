#pragma once

#include <QAbstractHttpServer>
#include <QHostAddress>

namespace trackers {

class TrackerHub;

// The phones' HTTP port: GET or POST on "/", decoded by OsmAndDecoder; answers 200 once the
// position is stored, 400 with the reason for a request that is not a usable position, 403 for
// an unknown identifier, 503 when the store failed.
class OsmAndListener : public QAbstractHttpServer {
public:
    OsmAndListener(TrackerHub& hub, int idleMs, QObject* parent = nullptr);
    // False with the reason when the port cannot be opened.
    bool listen(const QHostAddress& address, quint16 port, QString* reason);
    quint16 port() const { return port_; }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    TrackerHub& hub_;
    int idleMs_;
    quint16 port_ = 0;
};

} // namespace trackers
