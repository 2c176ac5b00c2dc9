#pragma once

#include "ExportContent.h"

class QIODevice;

namespace vserver {

struct ExportSummary;

// GPX 1.1: the entries with a place as waypoints (<type> is the kind's key), then each trip as a
// named track of one segment, every point with its UTC time and, in the Garmin
// TrackPointExtension v2, its speed (m/s) and course (degrees).
ExportSummary writeGpx(const ExportContent& content, QIODevice& out);

} // namespace vserver
