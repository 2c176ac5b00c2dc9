#pragma once

#include "ServerTypes.h"

#include <QString>
#include <QtGlobal>
#include <vector>

namespace trackers {

// One position as a tracker sent it, before it is checked and stored.
struct TrackerPosition {
    qint64 timeMs = 0;                 // UTC, milliseconds since 1970
    double lat = 0, lon = 0;           // degrees, WGS 84
    double speedKmh = vserver::kNoValue;
    double heading = vserver::kNoValue; // degrees clockwise from north
    double altitude = vserver::kNoValue; // metres
    int satellites = -1;               // -1: not sent
    bool fix = true;                   // the tracker had a position fix
    bool power = true;                 // the tracker runs on the vehicle's power
    int sensors = 0;                   // bit k: digital input k + 1 is on
};

// A phone's report: who sent it and where it was.
struct IdentifiedPosition {
    QString ident;
    TrackerPosition position;
};

} // namespace trackers
