#pragma once

#include "ExportContent.h"

class QIODevice;

namespace vserver {

struct ExportSummary;

// GeoJSON (RFC 7946): one FeatureCollection; per trip its line (a Point for a trip of one point)
// with the vehicle, the trip, begin and end in UTC, the mileage, and per-point arrays of times,
// speeds and courses; then the trip's entries as Point features (no geometry without a place).
ExportSummary writeGeoJson(const ExportContent& content, QIODevice& out);

} // namespace vserver
