#pragma once

#include "OnlineNotice.h"
#include "PositionWriter.h"
#include "TrackerPosition.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace vserver {
class Store;
}

namespace trackers {

// What the listeners share: the registered trackers, the checks, the batch writer, the
// refusal counts and the log. Positions of unknown identifiers are refused and counted; every
// refusal is said in the log in Russian (unknown identifiers only with `verbose`, since a flood
// of them would drown the rest), at most 20 lines a second.
class TrackerHub : public QObject {
    Q_OBJECT
public:
    struct Counts {
        qint64 stored = 0, duplicates = 0, unknown = 0, refusedPositions = 0, refusedPackets = 0;
    };
    using Log = std::function<void(const QString&)>;

    TrackerHub(const QString& storePath, bool verbose, Log log, QObject* parent = nullptr);
    ~TrackerHub() override;

    // The device number registered for the identifier; counts and logs an unknown one.
    std::optional<int> deviceOf(const QString& ident, const QString& where);
    // Checks the positions, refusing (and logging) those that must not be stored, then stores
    // the rest; `done(true)` once they are stored (at once when none was left), false when the
    // store failed.
    void store(int device, const QString& where, const std::vector<TrackerPosition>& positions,
               PositionWriter::Done done);
    void refused(const QString& where, const QString& why); // a packet or request refused
    // An acknowledgement sent `ms` after its packet or request had arrived whole.
    void noteAcknowledged(qint64 ms);
    const Counts& counts() const { return counts_; }

signals:
    // New positions are stored; at most four a second.
    void onlineData();

private:
    void say(const QString& text);
    void reloadTrackers();

    std::unique_ptr<vserver::Store> store_; // the registrations, read on this thread
    QHash<QString, int> devices_;
    QElapsedTimer sinceReload_;
    bool verbose_;
    Log log_;
    Counts counts_;
    std::vector<qint64> delays_ = std::vector<qint64>(1001); // acknowledgements by milliseconds, the last 1 s and more
    QElapsedTimer logWindow_;
    int logLines_ = 0, logSkipped_ = 0;
    PositionWriter writer_;
    OnlineNotice notice_;
};

} // namespace trackers
