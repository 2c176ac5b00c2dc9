#include "TrackerServer.h"

#include "Codec8Listener.h"
#include "OsmAndListener.h"
#include "VantrelError.h"

namespace trackers {

TrackerServer::TrackerServer(const QString& storePath, const std::vector<ListenAddress>& addresses, int idleSeconds,
                             bool verbose, TrackerHub::Log log, QObject* parent)
    : QObject(parent), hub_(storePath, verbose, std::move(log)) {
    const int idleMs = idleSeconds * 1000;
    for (const ListenAddress& a : addresses) {
        const QString where = QStringLiteral("%1=%2:%3").arg(a.protocol, a.address.toString()).arg(a.port);
        if (a.protocol == QLatin1String("osmand")) {
            auto listener = std::make_unique<OsmAndListener>(hub_, idleMs);
            QString reason;
            if (!listener->listen(a.address, a.port, &reason))
                throw VantrelError(QStringLiteral("порт %1 не открыт: %2").arg(where, reason));
            ports_.push_back(listener->port());
            listeners_.push_back(std::move(listener));
        } else {
            auto listener = std::make_unique<Codec8Listener>(hub_, idleMs);
            listener->setListenBacklogSize(1024); // a thousand trackers reconnecting at once
            if (!listener->listen(a.address, a.port))
                throw VantrelError(QStringLiteral("порт %1 не открыт: %2").arg(where, listener->errorString()));
            ports_.push_back(listener->serverPort());
            listeners_.push_back(std::move(listener));
        }
    }
    connect(&hub_, &TrackerHub::onlineData, this, &TrackerServer::onlineData);
}

TrackerServer::~TrackerServer() {
    listeners_.clear(); // the connections go before the hub they report to
}

} // namespace trackers
