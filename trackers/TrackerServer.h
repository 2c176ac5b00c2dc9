#pragma once

#include "ListenAddress.h"
#include "TrackerHub.h"

#include <QObject>
#include <QTcpServer>
#include <memory>
#include <vector>

namespace trackers {

// The live trackers' ports of a running server: one listener per --listen value, sharing one
// hub. `onlineData` follows each stored batch, at most four a second.
class TrackerServer : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultIdleSeconds = 300;

    // Opens every port; throws VantrelError when one cannot be opened.
    TrackerServer(const QString& storePath, const std::vector<ListenAddress>& addresses, int idleSeconds,
                  bool verbose, TrackerHub::Log log, QObject* parent = nullptr);
    ~TrackerServer() override;
    TrackerHub& hub() { return hub_; }
    // The ports in the order of the addresses (useful when port 0 let the system choose).
    const std::vector<quint16>& ports() const { return ports_; }

signals:
    void onlineData();

private:
    TrackerHub hub_;
    std::vector<std::unique_ptr<QObject>> listeners_;
    std::vector<quint16> ports_;
};

} // namespace trackers
