#pragma once

#include <QObject>
#include <QPointF>
#include <QString>
#include <vector>

namespace trackers {

// What to simulate: `devices` trackers of one protocol sending `rate` positions a second in
// all, for `duration` seconds, to host:port.
struct SimulationPlan {
    QString protocol; // "osmand" or "codec8"
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 0;
    int devices = 1;
    double rate = 1;
    double duration = 10;
    int recordsPerPacket = 10; // codec8
    int firstDevice = 90001;   // device numbers of the simulated vehicles

    static constexpr int kMaxDevices = 20000;
    static constexpr double kMaxRate = 200000, kMaxDuration = 86400;
    // The identifier of the simulated tracker `index` (0-based): an IMEI, or a phone's id.
    QString ident(int index) const;
};

struct SimulationReport {
    qint64 sent = 0, acknowledged = 0, refused = 0;
    int connected = 0, failedConnections = 0;
    double seconds = 0;
    std::vector<double> latenciesMs; // from sending to the acknowledgement, per position
};

// Trackers driving the demo town's roads, each on a connection of its own, sending the next
// packet or request only when the last was acknowledged (as real trackers do). Bounded in count
// and time; waits at most ten seconds after the end for outstanding acknowledgements. A tracker
// whose connection fails tries again every second.
class TrackerSimulator : public QObject {
    Q_OBJECT
public:
    explicit TrackerSimulator(SimulationPlan plan, QObject* parent = nullptr);
    ~TrackerSimulator() override;
    // Runs its own event loop until done.
    SimulationReport run();

private:
    struct Tracker;
    void tick();
    void connectTracker(Tracker& t);
    void onReadyRead(Tracker& t);
    void sendDue(Tracker& t);
    QPointF positionOf(Tracker& t, double& heading) const;

    SimulationPlan plan_;
    std::vector<std::unique_ptr<Tracker>> trackers_;
    std::vector<std::vector<QPointF>> routes_;
    SimulationReport report_;
    qint64 startMs_ = 0;
    qint64 due_ = 0; // positions generated so far
    size_t nextTracker_ = 0;
    bool running_ = false;
};

} // namespace trackers
