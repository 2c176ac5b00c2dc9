#pragma once

#include "TripSheet.h"

#include <QColor>
#include <QRectF>

class BaseMap;
class QPainter;

// A trip's map as a sheet prints it: the base map drawn by the map control onto the page's own
// painter (lines and names stay vectors), the trail, the checkpoints, the events numbered as
// in the trip's table, a scale bar, north and the map data's credit.
namespace tripmap {

// `area` in the painter's units, `unitsPerInch` the page's resolution.
void draw(QPainter& painter, const QRectF& area, double unitsPerInch, const BaseMap& baseMap,
          const TripSheet::Trip& trip, const std::vector<TripSheet::Checkpoint>& checkpoints);

// The colour of an event kind's markers, the same for a kind on every page.
QColor kindColour(const QString& kind);

} // namespace tripmap
