#pragma once

#include "LabelGrid.h"

#include <QColor>
#include <QPointF>
#include <QString>
#include <vector>

// Names of cities, towns, suburbs and villages, centred on their point, for one pixel size:
// the more important place (by its rank, then its population) is placed first and a name that
// would meet one placed before is left out, so no two ever overlap at any scale.
namespace placelabels {

struct Place {
    QPointF point; // Web Mercator metres
    QString name;
    int rank;      // 0 city … 3 hamlet and locality
    qint64 population;
};

struct Label {
    const Place* place;
    double points; // font size
    QRectF box;    // as drawn, halo included, in map pixels (Web Mercator metres / pixel size, y southwards)
};

inline const QColor kColour(60, 60, 60);

// Whether a place of this rank is named at this pixel size: the small ones only close up.
bool shown(int rank, double metresPerPixel);
// Labels where `grid` leaves room, taking their room in it.
std::vector<Label> place(const std::vector<Place>& places, double metresPerPixel, LabelGrid& grid);

} // namespace placelabels
