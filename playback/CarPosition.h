#pragma once

#include "TrackStore.h"

#include <QString>
#include <QStringList>

// Where the vehicle stands on the loaded track at a playback time, and which way it faces.
namespace carposition {

// The segment start for time t (1-based): the last point before the first point at or after t;
// 2 when t lies at or before the first point; `current` unchanged when t lies after the end or
// the track has fewer than two points. The times ascend and are compared to the millisecond;
// the search starts from `current`, where playback last stood, and costs the logarithm of how
// far it moved.
int FindPointIndex(const TrackStore& track, double t, int current);

// Heading from (x1, y1) to (x2, y2) in radians in [0, 2π), clockwise from east with north up:
// east 0, south π/2, west π, north 3π/2; two equal points give π/2.
double CalcAngle(double x1, double x2, double y1, double y2);

struct Placement {
    double x = 0;
    double y = 0;
    double heading = 0; // radians
    bool onPoint = false;
};

// The vehicle for time t on the segment that starts at point c. On a point (t shows the same
// second as that point) it sits on it, facing between the directions before and after it;
// between points it is interpolated in time and faces along the segment. Points the rule
// would need beyond either end are replaced by the segment that exists.
Placement place(const TrackStore& track, int c, double t);

// The three marker texts: longitude, latitude and heading in degrees, for the map.
QStringList SetCarMarkerTexts(double longitude, double latitude, double headingRadians);

// The info panel's texts: speed with one decimal in the locale's form and "км/ч", distance in
// whole metres and "м".
QString speedLabel(double kmh);
QString distanceLabel(double metres);

} // namespace carposition
