#include "TripMap.h"

#include "BaseMap.h"
#include "MapScene.h"
#include "MapStyle.h"

#include <QFontMetricsF>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <numbers>

namespace tripmap {
namespace {

// The map is laid out in pixels of this size: a little finer than a screen, so that street names
// (shown by the map control from about 1:12,000 in pixels) come a scale sooner, still 6.6 pt on
// paper.
constexpr double kMapDpi = 120;

// A font of `points` on paper inside the map, whose units are map pixels of kMapDpi: the page's
// own point sizes are scaled with the map, so they are taken down by as much.
QFont font(const QPainter& painter, double points, bool bold = false) {
    QFont f;
    f.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
    f.setPointSizeF(points * kMapDpi / painter.device()->logicalDpiY());
    f.setBold(bold);
    return f;
}

// Text with a white box under it, so that it reads over any map.
void boxedText(QPainter& painter, const QPointF& at, const QString& text, double points,
               const QColor& colour, Qt::Alignment align = Qt::AlignLeft) {
    painter.setFont(font(painter, points));
    const QFontMetricsF metrics(painter.font(), painter.device());
    QSizeF size(metrics.horizontalAdvance(text) + 4, metrics.height() + 2);
    QRectF box(at, size);
    if (align & Qt::AlignRight)
        box.moveRight(at.x());
    if (align & Qt::AlignHCenter)
        box.moveCenter(QPointF(at.x(), box.center().y()));
    painter.fillRect(box, QColor(255, 255, 255, 215));
    painter.setPen(colour);
    painter.drawText(box, Qt::AlignCenter, text);
}

QRectF boundsOf(const std::vector<QPointF>& points) {
    QRectF bounds;
    for (const QPointF& m : points)
        bounds = bounds.isNull() ? QRectF(m, QSizeF(1e-6, 1e-6))
                                 : bounds.united(QRectF(m, QSizeF(1e-6, 1e-6)));
    return bounds;
}

// A bar of a round length near a fifth of the map's width.
void scaleBar(QPainter& painter, const Viewport& view) {
    const double groundPerPixel = view.scale * 0.0254 / view.dpi;
    const double wanted = groundPerPixel * view.size.width() / 5;
    const double power = std::pow(10.0, std::floor(std::log10(wanted)));
    double metres = power;
    for (double step : {2.0, 5.0, 10.0})
        if (power * step <= wanted)
            metres = power * step;
    const double length = metres / groundPerPixel;
    const QPointF left(12, view.size.height() - 14);
    painter.fillRect(QRectF(left - QPointF(6, 20), QSizeF(length + 12, 28)),
                     QColor(255, 255, 255, 215));
    painter.setPen(QPen(Qt::black, 1.5));
    painter.drawLine(left, left + QPointF(length, 0));
    painter.drawLine(left, left - QPointF(0, 6));
    painter.drawLine(left + QPointF(length, 0), left + QPointF(length, -6));
    painter.setFont(font(painter, 7));
    const QString text =
        metres >= 1000 ? QStringLiteral("%1 км").arg(QLocale().toString(metres / 1000, 'g', 3))
                       : QStringLiteral("%1 м").arg(metres);
    painter.drawText(QRectF(left - QPointF(0, 20), QSizeF(length, 14)), Qt::AlignCenter, text);
}

void northArrow(QPainter& painter, const Viewport& view) {
    const QPointF top(view.size.width() - 22, 10);
    painter.fillRect(QRectF(top - QPointF(13, 4), QSizeF(26, 44)), QColor(255, 255, 255, 215));
    QPainterPath arrow;
    arrow.moveTo(top);
    arrow.lineTo(top + QPointF(8, 22));
    arrow.lineTo(top + QPointF(0, 17));
    arrow.lineTo(top + QPointF(-8, 22));
    arrow.closeSubpath();
    painter.fillPath(arrow, Qt::black);
    painter.setPen(Qt::black);
    painter.setFont(font(painter, 8, true));
    painter.drawText(QRectF(top + QPointF(-10, 22), QSizeF(20, 16)), Qt::AlignCenter,
                     QStringLiteral("С"));
}

} // namespace

QColor kindColour(const QString& kind) {
    static const QColor palette[] = {QColor(0, 90, 200), QColor(230, 120, 0), QColor(120, 0, 160),
                                     QColor(0, 140, 60), QColor(200, 0, 120), QColor(90, 90, 90)};
    return palette[qHash(kind) % std::size(palette)];
}

void draw(QPainter& painter, const QRectF& area, double unitsPerInch, const BaseMap& baseMap,
          const TripSheet::Trip& trip, const std::vector<TripSheet::Checkpoint>& checkpoints) {
    const double k = unitsPerInch / kMapDpi; // page units per map pixel
    Viewport view;
    view.dpi = kMapDpi;
    view.size = QSize(int(area.width() / k), int(area.height() / k));
    const auto geometry = parseGeometry(QStringLiteral("L E ") + trip.trail);
    std::vector<QPointF> trail, fitted;
    if (geometry)
        for (const QPointF& p : *geometry)
            trail.push_back(mercator::project(p.x(), p.y()));
    fitted = trail;
    for (const TripSheet::Event& event : trip.events)
        if (std::isfinite(event.lon))
            fitted.push_back(mercator::project(event.lon, event.lat));
    if (!fitted.empty()) {
        const QRectF bounds = boundsOf(fitted);
        view.centre = bounds.center();
        view.scale = 1;
        const double wanted = std::max({bounds.width() / view.size.width(),
                                        bounds.height() / view.size.height(), 0.4}) *
                              1.15;
        view.scale = wanted / view.metresPerPixel();
    }
    painter.save();
    painter.setClipRect(area);
    painter.translate(area.topLeft());
    painter.scale(k, k);
    painter.setRenderHint(QPainter::Antialiasing);
    baseMap.render(painter, view);
    painter.setRenderHint(QPainter::Antialiasing);
    draw::polyline(painter, view, trail,
                   QPen(Qt::black, 4.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    draw::polyline(painter, view, trail,
                   QPen(QColor(230, 0, 0), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const double mpp = view.metresPerPixel();
    for (const TripSheet::Checkpoint& checkpoint : checkpoints) {
        const QPointF at = view.toScreen(mercator::project(checkpoint.lon, checkpoint.lat));
        if (!QRectF(QPointF(0, 0), QSizeF(view.size)).adjusted(-200, -200, 200, 200).contains(at))
            continue;
        const double r = std::max(
            checkpoint.radius / mpp / std::cos(checkpoint.lat * std::numbers::pi / 180), 3.0);
        // Outlined only: PDF/A-1 has no transparency, and a filled circle would hide the streets.
        painter.setPen(QPen(QColor(200, 0, 0), 1.5, Qt::DashLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(at, r, r);
        boxedText(painter, at + QPointF(0, r + 1), checkpoint.name, 7.5, QColor(120, 0, 0),
                  Qt::AlignHCenter);
    }
    // The events, numbered as the table's rows; the later ones on top.
    for (size_t e = 0; e < trip.events.size(); ++e) {
        const TripSheet::Event& event = trip.events[e];
        if (!std::isfinite(event.lon))
            continue;
        const QPointF at = view.toScreen(mercator::project(event.lon, event.lat));
        const QString number = QString::number(e + 1);
        painter.setFont(font(painter, 7, true));
        const double r = std::max(
            8.0, QFontMetricsF(painter.font(), painter.device()).horizontalAdvance(number) / 2 + 3);
        painter.setPen(QPen(Qt::white, 1.2));
        painter.setBrush(kindColour(event.kind));
        painter.drawEllipse(at, r, r);
        painter.drawText(QRectF(at - QPointF(r, r), QSizeF(2 * r, 2 * r)), Qt::AlignCenter, number);
    }
    painter.setBrush(Qt::NoBrush);
    scaleBar(painter, view);
    northArrow(painter, view);
    if (const QString credit = baseMap.attribution(); !credit.isEmpty())
        boxedText(painter, QPointF(view.size.width() - 2, view.size.height() - 16), credit, 6.5,
                  QColor(40, 40, 40), Qt::AlignRight);
    painter.restore();
    painter.save();
    painter.setPen(QColor(120, 120, 120));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(area);
    painter.restore();
}

} // namespace tripmap
