#include "ImageLists.h"

#include <QHash>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace imagelists {
namespace {

QPixmap canvas() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void drawTrack(QPainter& p) {
    p.setPen(QPen(QColor(200, 0, 0), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({{2, 13}, {6, 7}, {10, 10}, {14, 3}}));
}

void drawCheckpoint(QPainter& p) {
    p.setPen(QPen(QColor(200, 0, 0), 1));
    p.setBrush(QColor(255, 80, 80, 160));
    p.drawEllipse(QRectF(2, 2, 12, 12));
    p.setBrush(QColor(150, 0, 0));
    p.drawEllipse(QRectF(6.5, 6.5, 3, 3));
}

void drawInfoPoint(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 100, 210));
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(7, 7, 2, 5));
    p.drawEllipse(QRectF(7, 3.5, 2, 2));
}

void drawSkipStops(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 130, 60));
    p.drawPolygon(QPolygonF({{2, 3}, {8, 8}, {2, 13}}));
    p.drawPolygon(QPolygonF({{8, 3}, {14, 8}, {8, 13}}));
}

void drawSettings(QPainter& p) {
    p.setPen(QPen(QColor(80, 80, 80), 2));
    for (int i = 0; i < 4; ++i) {
        p.save();
        p.translate(8, 8);
        p.rotate(i * 45);
        p.drawLine(QPointF(0, -6.5), QPointF(0, 6.5));
        p.restore();
    }
    p.setBrush(QColor(200, 200, 200));
    p.drawEllipse(QRectF(4, 4, 8, 8));
}

void drawNumber(QPainter& p, const QRectF& box, int number) {
    QFont font;
    font.setPixelSize(9);
    font.setBold(true);
    p.setPen(Qt::white);
    p.setFont(font);
    p.drawText(box, Qt::AlignCenter, QString::number(number));
}

void drawGeneric(QPainter& p, int index) {
    const QColor colour = QColor::fromHsv((index * 37) % 360, 140, 200);
    p.setPen(colour.darker(140));
    p.setBrush(colour);
    p.drawRoundedRect(QRectF(2.5, 2.5, 11, 11), 2, 2);
}

// The kinds 2–13: stops, signal, power, speed, two tanks, six sensors.
void drawKind(QPainter& p, int kind) {
    p.setPen(Qt::NoPen);
    switch (kind) {
    case 2: // stop: a P on blue
        p.setBrush(QColor(30, 90, 200));
        p.drawRect(QRectF(2, 2, 12, 12));
        p.setPen(QPen(Qt::white, 2));
        p.drawLine(QPointF(6, 4), QPointF(6, 12));
        p.drawArc(QRectF(4, 4, 6, 5), -90 * 16, 180 * 16);
        break;
    case 3: // no signal: an antenna with a cross
        p.setPen(QPen(QColor(90, 90, 90), 1.5));
        p.drawLine(QPointF(8, 14), QPointF(8, 5));
        p.drawArc(QRectF(3, 1, 10, 8), 30 * 16, 120 * 16);
        p.setPen(QPen(QColor(210, 0, 0), 2));
        p.drawLine(QPointF(10, 9), QPointF(14, 13));
        p.drawLine(QPointF(14, 9), QPointF(10, 13));
        break;
    case 4: // power: a bolt
        p.setBrush(QColor(240, 180, 0));
        p.drawPolygon(QPolygonF({{9, 1}, {3, 9}, {7, 9}, {6, 15}, {13, 6}, {9, 6}}));
        break;
    case 5: // speed: a gauge
        p.setPen(QPen(QColor(200, 0, 0), 2));
        p.drawArc(QRectF(2, 3, 12, 12), 0, 180 * 16);
        p.drawLine(QPointF(8, 9), QPointF(12, 5));
        break;
    case 6:
    case 7: { // tank: a canister with its number
        p.setBrush(kind == 6 ? QColor(0, 140, 70) : QColor(0, 110, 140));
        p.drawRoundedRect(QRectF(3, 3, 10, 12), 2, 2);
        drawNumber(p, QRectF(3, 4, 10, 11), kind - 5);
        break;
    }
    default: { // sensors 1–6: a round lamp with its number
        p.setBrush(QColor::fromHsv((kind - 8) * 50 % 360, 200, 210));
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        drawNumber(p, QRectF(1.5, 1.5, 13, 13), kind - 7);
    }
    }
}

} // namespace

QIcon toolBarImage(int index) {
    QPixmap pixmap = canvas();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    switch (index) {
    case 9: drawCheckpoint(painter); break;
    case 10: drawInfoPoint(painter); break;
    case 28: drawTrack(painter); break;
    case 29: drawSkipStops(painter); break;
    case 30: drawSettings(painter); break;
    default: drawGeneric(painter, index);
    }
    return QIcon(pixmap);
}

QIcon menuImage(int index) {
    const bool shown = index < 12;
    const int kind = 2 + (shown ? index : index - 12);
    QPixmap pixmap = canvas();
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        if (!shown)
            painter.setOpacity(0.35);
        drawKind(painter, kind);
    }
    return QIcon(pixmap);
}

QStringList eventIconNames() {
    return {QStringLiteral("IcC"), QStringLiteral("IcP"), QStringLiteral("IcV"), QStringLiteral("IcB"),
            QStringLiteral("IcS"), QStringLiteral("IcZ"), QStringLiteral("Ic1"), QStringLiteral("Ic2"),
            QStringLiteral("Ic3"), QStringLiteral("Ic4"), QStringLiteral("Ic5"), QStringLiteral("Ic6")};
}

QImage eventIcon(const QString& name) {
    static const QHash<QString, int> kinds = {{QStringLiteral("IcP"), 2}, {QStringLiteral("IcV"), 3},
                                              {QStringLiteral("IcB"), 4}, {QStringLiteral("IcS"), 5},
                                              {QStringLiteral("IcZ"), 6}, {QStringLiteral("Ic1"), 8},
                                              {QStringLiteral("Ic2"), 9}, {QStringLiteral("Ic3"), 10},
                                              {QStringLiteral("Ic4"), 11}, {QStringLiteral("Ic5"), 12},
                                              {QStringLiteral("Ic6"), 13}};
    const bool checkpoint = name == QLatin1String("IcC");
    if (!checkpoint && !kinds.contains(name))
        return QImage();
    QImage image(32, 32, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(80, 80, 80), 1.5));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(1, 1, 30, 30));
    painter.translate(6, 6);
    painter.scale(1.25, 1.25);
    painter.setPen(Qt::NoPen);
    if (checkpoint)
        drawCheckpoint(painter);
    else
        drawKind(painter, kinds.value(name));
    return image;
}

} // namespace imagelists
