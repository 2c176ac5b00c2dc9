#pragma once

#include "ServerTypes.h"

#include <QString>

namespace vserver {

// The timed points of a KML file: every gx:Track (its <when> and <gx:coord> in pairs) and every
// point placemark with a time stamp. KML lines without times are no track and are left out.
std::vector<Message> readKml(const QString& path);

// The timed points of a GeoJSON file, read with GDAL: lines whose properties carry a time per
// point ("times" or "coordTimes", and "speeds_kmh" when given) and points with a "time" (and
// "speed_kmh", or a car logger's measured "GPS Speed" in km/h).
std::vector<Message> readGeoJson(const QString& path);

// Whether the file is one of the two above, by its name.
bool isKmlOrGeoJson(const QString& path);

// The points of a KML or GeoJSON file, in the file's order. Throws VantrelError naming the file
// and the reason: not readable, not of its kind, or without a single timed point.
std::vector<Message> readTrackFile(const QString& path);

} // namespace vserver
