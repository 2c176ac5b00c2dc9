#pragma once

#include <vector>

struct TMapPoint {
    double x = 0; // longitude
    double y = 0; // latitude
};
using TMapPointArray = std::vector<TMapPoint>;
using TMapPointArrays = std::vector<TMapPointArray>;
using TMapPointArrayss = std::vector<TMapPointArrays>;

// The loaded trip: five values per point (time, longitude, latitude, mileage, speed) as the
// server sent them, and the coordinates unpacked once into plain pairs for playback.
class TrackStore {
public:
    // Replaces the store. Checks the server's answer first and throws VantrelError, leaving
    // the previous track in place, when it makes no sense.
    void load(std::vector<double> trackData, int pointCount);
    // A trip without points: only the count changes; the old data stays readable.
    void setEmpty() { PointCount = 0; }

    // 1-based index into TrackData, as the server's array counts.
    double data(int index) const;
    double time(int point) const { return data(5 * point - 4); } // 1-based point
    double mileage(int point) const { return data(5 * point - 1); }
    double speed(int point) const { return data(5 * point); }
    // Time of the first point; throws when no track was ever loaded.
    double TrackStartTime() const { return data(1); }

    std::vector<double> TrackData;
    int PointCount = 0;
    TMapPointArray TrackPoints;
};
