#pragma once

#include "VehicleTrack.h"

#include <QString>
#include <vector>

// A group's vehicles over one period, on one time axis: positions are kept as seconds from the
// period's beginning; moments outside come in and go out as date-time values (days).
struct Fleet {
    QString groupId, groupName;
    double begin = 0, end = 0; // date-time values
    double maxGap = 300;       // seconds without a position after which a vehicle is "not here"
    std::vector<VehicleTrack> vehicles; // sorted by name

    double secondsAt(double moment) const { return (moment - begin) * 86400.0; }
    double momentAt(double seconds) const { return begin + seconds / 86400.0; }
    size_t positionCount() const {
        size_t n = 0;
        for (const VehicleTrack& v : vehicles)
            n += v.size();
        return n;
    }
};
