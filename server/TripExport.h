#pragma once

#include "ExportContent.h"
#include "ServerTypes.h"

#include <QString>
#include <optional>

namespace vserver {

class Store;

enum class ExportFormat { Gpx, Kml, GeoJson };
std::optional<ExportFormat> exportFormat(const QString& name); // "gpx", "kml", "geojson"

struct ExportRequest {
    QString group; // the group's identifier or name
    int device = 0;
    double from = 0, to = 0; // date-time values, the installation's local time
    int trip = 0;            // 1-based; 0 for every trip of the period
    ExportFormat format = ExportFormat::Gpx;
    QString path;
};

struct ExportSummary {
    int trips = 0;
    qint64 points = 0;
    qint64 events = 0;
};

// The trips a vehicle made in a period, computed as the server computes them; throws
// VantrelError with a Russian text naming what is wrong (an unknown group or device, a period
// without trips, a trip number out of range).
std::vector<Trip> tripsFor(const Store& store, const ExportRequest& request, Car* car = nullptr);

// Writes the trips: every point with its time (UTC), speed and course, and the info-point
// entries (stops, over-speeding, fuel, sensors…) as waypoints or placemarks with kind, begin,
// end and duration. The file is streamed to disk and appears whole or not at all.
ExportSummary exportTrips(const Store& store, const ExportRequest& request);

// Writes trips already computed; points without a place are left out.
ExportSummary writeTrips(ExportContent content, ExportFormat format, const QString& path);

// The Russian name of an entry kind ("parks" → "Остановка").
QString entryKindName(const QString& key);

} // namespace vserver
