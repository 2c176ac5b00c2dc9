#include "GlyphButton.h"

#include <QPainter>
#include <QPainterPath>

GlyphButton::GlyphButton(const QString& glyph, int pixelSize, QWidget* parent)
    : QPushButton(parent), glyph_(glyph), pixelSize_(pixelSize) {}

void GlyphButton::setGlyph(const QString& glyph) {
    if (glyph_ == glyph)
        return;
    glyph_ = glyph;
    update();
}

void GlyphButton::paintEvent(QPaintEvent* event) {
    QPushButton::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isEnabled() ? palette().buttonText() : palette().mid());
    const double s = pixelSize_ * 0.55;
    const QPointF c = QRectF(rect()).center();
    QPainterPath path;
    if (glyph_ == QLatin1String("4")) { // play: a triangle pointing right
        path.moveTo(c.x() - s / 2.6, c.y() - s / 2);
        path.lineTo(c.x() + s / 2, c.y());
        path.lineTo(c.x() - s / 2.6, c.y() + s / 2);
    } else if (glyph_ == QLatin1String(";")) { // pause: two bars
        path.addRect(QRectF(c.x() - s / 2, c.y() - s / 2, s / 3, s));
        path.addRect(QRectF(c.x() + s / 6, c.y() - s / 2, s / 3, s));
    } else if (glyph_ == QLatin1String("<")) { // stop: a square
        path.addRect(QRectF(c.x() - s / 2.4, c.y() - s / 2.4, s / 1.2, s / 1.2));
    } else if (glyph_ == QLatin1String("6")) { // a triangle pointing down
        path.moveTo(c.x() - s / 2, c.y() - s / 3);
        path.lineTo(c.x() + s / 2, c.y() - s / 3);
        path.lineTo(c.x(), c.y() + s / 3);
    }
    path.closeSubpath();
    painter.drawPath(path);
}
