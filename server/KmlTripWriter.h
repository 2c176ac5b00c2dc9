#pragma once

#include "ExportContent.h"

class QIODevice;

namespace vserver {

struct ExportSummary;

// KML 2.2: a folder of the trips, each a gx:Track (a <when> and a <gx:coord> per point, speeds
// and courses as per-point arrays, so that viewers animate it) in the trail's style, and a folder
// of their entries as placemarks with a TimeSpan in a style per kind.
ExportSummary writeKml(const ExportContent& content, QIODevice& out);

} // namespace vserver
