#pragma once

#include "Fleet.h"
#include "ServerTypes.h"

#include <functional>

namespace vserver {
class Store;
}

// What the fleet view asks for: a group (its id or its name), a period, and optionally only some
// of its vehicles (by device number).
struct FleetRequest {
    QString group;
    double from = 0, to = 0;          // date-time values
    std::vector<int> devices;         // empty: every vehicle of the group
    qint64 maxPositions = 30'000'000; // about 600 MB; more is refused
};

// Reads a group's positions over a period straight from the tracking server's store, in this
// process, as the trip sheet does: the server's cursors and its current computation stay as
// the operator's window left them, and no new method is needed on the bus. Requests too large to
// show are refused with a Russian reason before memory runs out.
class FleetLoader {
public:
    static constexpr double kMaxDays = 31;
    static constexpr int kMaxVehicles = 2000;
    // Connections reading the store at once (no more than the machine has cores).
    static constexpr int kReaders = 2;

    // Called after each vehicle read: how many are read, of how many.
    using Progress = std::function<void(int done, int total)>;

    // Throws VantrelError (Russian text) when the store, the group or the request does not do,
    // and vserver::Cancelled when `cancel` says the result is no longer wanted. From a path, the
    // vehicles are read over several connections at once; `progress` is then called from their
    // threads, one call at a time.
    static Fleet load(const QString& storePath, const FleetRequest& request,
                      const Progress& progress = {}, const vserver::CancelToken& cancel = {});
    static Fleet load(const vserver::Store& store, const FleetRequest& request,
                      const Progress& progress = {}, const vserver::CancelToken& cancel = {});
    // Only the checks that need no store: the period.
    static void checkPeriod(double from, double to);
};
