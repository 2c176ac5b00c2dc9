#pragma once

#include <QHash>
#include <QPoint>
#include <QRectF>
#include <cmath>
#include <vector>

// Boxes already taken by labels, in map pixels, found by the cells of a coarse grid: a new
// label is placed only where it meets none of them. Place and street names share one grid.
class LabelGrid {
public:
    bool free(const QRectF& box) const {
        for (const QPoint& cell : cells(box))
            for (const QRectF& other : cells_.value(key(cell)))
                if (other.intersects(box))
                    return false;
        return true;
    }
    void add(const QRectF& box) {
        for (const QPoint& cell : cells(box))
            cells_[key(cell)].push_back(box);
    }

private:
    static constexpr double kCell = 48; // pixels
    static quint64 key(const QPoint& c) { return (quint64(quint32(c.x())) << 32) | quint32(c.y()); }
    static std::vector<QPoint> cells(const QRectF& box) {
        std::vector<QPoint> result;
        for (int x = int(std::floor(box.left() / kCell)); x <= int(std::floor(box.right() / kCell)); ++x)
            for (int y = int(std::floor(box.top() / kCell)); y <= int(std::floor(box.bottom() / kCell)); ++y)
                result.push_back({x, y});
        return result;
    }
    QHash<quint64, std::vector<QRectF>> cells_;
};
