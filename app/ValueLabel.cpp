#include "ValueLabel.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
#include <cmath>

namespace {
// Characters that shaping leaves as they are in the fonts a desktop has: digits, ASCII signs,
// blanks and Cyrillic letters (Latin letters meet ligatures). Kerning is checked pair by pair.
bool drawnWithoutShaping(QChar c) {
    const char16_t u = c.unicode();
    if (u >= 0x20 && u < 0x7f)
        return !c.isLetter();
    return u == 0x00a0 || (u >= 0x0410 && u <= 0x044f) || u == 0x0401 || u == 0x0451;
}
} // namespace

void ValueLabel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        font_ = QRawFont();
        glyphs_.clear();
        kerned_.clear();
    }
    QLabel::changeEvent(event);
}

bool ValueLabel::lookUp(const QString& text, QList<quint32>& indexes, QList<QPointF>& positions, qreal& width) {
    if (!font_.isValid())
        font_ = QRawFont::fromFont(font());
    width = 0;
    for (const QChar c : text) {
        auto found = glyphs_.find(c.unicode());
        if (found == glyphs_.end()) {
            if (!drawnWithoutShaping(c))
                return false;
            Glyph glyph;
            const QList<quint32> index = font_.glyphIndexesForString(QString(c));
            if (index.size() != 1 || index[0] == 0)
                return false; // the font lacks it: another font would have to stand in
            glyph.index = index[0];
            glyph.advance = font_.advancesForGlyphIndexes(index).value(0).x();
            found = glyphs_.insert(c.unicode(), glyph);
        }
        indexes.append(found->index);
        positions.append(QPointF(width, 0));
        width += found->advance;
    }
    for (qsizetype i = 1; i < text.size(); ++i)
        if (kerned(text[i - 1], text[i]))
            return false;
    return true;
}

bool ValueLabel::kerned(QChar first, QChar second) {
    const quint32 pair = quint32(first.unicode()) << 16 | second.unicode();
    auto known = kerned_.find(pair);
    if (known == kerned_.end()) {
        const qreal apart = glyphs_.value(first.unicode()).advance + glyphs_.value(second.unicode()).advance;
        const qreal shaped = QFontMetricsF(font()).horizontalAdvance(QString(first) + second);
        known = kerned_.insert(pair, std::abs(shaped - apart) > 1e-3);
    }
    return *known;
}

void ValueLabel::paintEvent(QPaintEvent* event) {
    const Qt::Alignment align = alignment();
    QList<quint32> indexes;
    QList<QPointF> positions;
    qreal width = 0;
    if (textFormat() != Qt::PlainText || wordWrap() || margin() != 0 || indent() > 0 || frameWidth() != 0 ||
        text().isEmpty() || layoutDirection() != Qt::LeftToRight || !lookUp(text(), indexes, positions, width)) {
        QLabel::paintEvent(event);
        return;
    }
    const QRectF box = contentsRect();
    const QFontMetricsF metrics(font());
    qreal x = box.left();
    if (align & Qt::AlignRight)
        x = box.right() + 1 - width;
    else if (align & Qt::AlignHCenter)
        x = box.left() + (box.width() - width) / 2;
    const qreal lineHeight = metrics.ascent() + metrics.descent();
    qreal top = box.top() + (box.height() - lineHeight) / 2;
    if (align & Qt::AlignTop)
        top = box.top();
    else if (align & Qt::AlignBottom)
        top = box.bottom() + 1 - lineHeight;
    QGlyphRun run;
    run.setRawFont(font_);
    run.setGlyphIndexes(indexes);
    run.setPositions(positions);
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.drawGlyphRun(QPointF(x, top + metrics.ascent()), run);
}
