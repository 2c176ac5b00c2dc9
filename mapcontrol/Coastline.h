#pragma once

#include <QPointF>
#include <QRectF>
#include <vector>

// The sea of an extract, from its coastline ways. A coastline way has the land on its left
// and the water on its right; in an extract the coast is cut where the extract ends, so the
// pieces are joined into chains, and an open chain is closed along the extract's edge,
// turning so that the water stays on the right.
namespace coastline {

using Ring = std::vector<QPointF>; // Web Mercator metres, y northwards

struct Sea {
    std::vector<Ring> water;   // drawn in the water's colour
    std::vector<Ring> islands; // drawn over it in the land's colour
    int unjoined = 0;          // open chains whose ends lie far from the edge: closed anyway
};

Sea build(const std::vector<Ring>& ways, const QRectF& extent);

} // namespace coastline
