#pragma once

#include "ServerTypes.h"

#include <QString>
#include <utility>
#include <vector>

namespace vserver {

// What every export writes: one vehicle's trips, numbered as in their period.
struct ExportContent {
    Car car;
    std::vector<Trip> trips;
    int firstNumber = 1; // the number of trips[0] among the period's trips

    int number(size_t t) const { return firstNumber + int(t); }
    // "ГАЗель А123ВС77"
    QString vehicle() const;
    // "ГАЗель А123ВС77 — рейс 2"
    QString tripName(size_t t) const;
    // "02.03.2009 06:00:00 – 02.03.2009 06:20:00, пробег 12.345 км" (the installation's time)
    QString tripDescription(size_t t) const;
};

// Whether a place is one: finite, on the globe, and not the 0°, 0° a receiver reports without a
// fix.
bool hasPosition(double lon, double lat);

// The trip's own distance, from its first point to its last.
double mileageKm(const Trip& trip);

// Each point's course in degrees from north, [0, 360): towards the next point that lies
// elsewhere; a point with none ahead keeps the course it came in on; NaN where nothing moved.
std::vector<double> coursesOf(const std::vector<TrackPoint>& points);

// The trip's entries of every kind in time order, each with its kind's key.
std::vector<std::pair<QString, const Entry*>> entriesInOrder(const Trip& trip);

// "Остановка: 02.03.2009 06:20:00 – 02.03.2009 07:20:00 (01:00:00), рейс 1"
QString entryDescription(const QString& kind, const Entry& entry, int tripNumber);

// The text with every character XML 1.0 forbids (control characters, lone surrogates) replaced
// by U+FFFD, so that no name makes a file malformed.
QString xmlSafe(QString text);

} // namespace vserver
