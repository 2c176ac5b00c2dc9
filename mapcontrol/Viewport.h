#pragma once

#include <QPointF>
#include <QRectF>
#include <QSize>

// Web Mercator in metres, and the part of it a view shows.
namespace mercator {
QPointF project(double longitude, double latitude);
QPointF unproject(const QPointF& metres); // x longitude, y latitude
} // namespace mercator

// Whether two rectangles share a point, edges included: unlike QRectF::intersects, a straight
// horizontal or vertical line (a rectangle without height or width) still counts.
inline bool overlaps(const QRectF& a, const QRectF& b) {
    return a.left() <= b.right() && b.left() <= a.right() && a.top() <= b.bottom() && b.top() <= a.bottom();
}

struct Viewport {
    QPointF centre;       // Web Mercator metres
    double scale = 20000; // denominator: ground metres per metre of screen at the centre
    QSize size{800, 600};
    double dpi = 96;

    // Web Mercator metres per pixel: the scale holds on the ground at the centre's latitude.
    double metresPerPixel() const;
    QPointF toScreen(const QPointF& metres) const;
    QPointF toMercator(const QPointF& screen) const;
    QRectF visibleMercator() const;
};
