#include "PlaceLabels.h"

#include "MapScene.h"

#include <algorithm>

namespace placelabels {

bool shown(int rank, double mpp) { return !(rank >= 3 && mpp > 5) && !(rank >= 2 && mpp > 20); }

std::vector<Label> place(const std::vector<Place>& places, double mpp, LabelGrid& grid) {
    std::vector<const Place*> order;
    for (const Place& p : places)
        if (shown(p.rank, mpp))
            order.push_back(&p);
    std::stable_sort(order.begin(), order.end(), [](const Place* a, const Place* b) {
        return a->rank != b->rank ? a->rank < b->rank : a->population > b->population;
    });
    std::vector<Label> labels;
    for (const Place* p : order) {
        const double points = 11 - 1.5 * p->rank;
        const QSizeF size = draw::labelSize(p->name, points, kColour);
        const QPointF centre(p->point.x() / mpp, -p->point.y() / mpp);
        const QRectF box(centre - QPointF(size.width() / 2, size.height() / 2), size);
        if (!grid.free(box))
            continue;
        grid.add(box);
        labels.push_back({p, points, box});
    }
    return labels;
}

} // namespace placelabels
