#include "ValueLabel.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
#include <QStyle>
#include <cmath>

namespace {
// Characters that shaping leaves as they are in the fonts a desktop has: digits, ASCII signs,
// blanks and Cyrillic letters (Latin letters meet ligatures). Pairs may be kerned ("11").
bool drawnWithoutShaping(QChar c) {
    const char16_t u = c.unicode();
    if (u >= 0x20 && u < 0x7f)
        return !c.isLetter();
    return u == 0x00a0 || (u >= 0x0410 && u <= 0x044f) || u == 0x0401 || u == 0x0451;
}

// What assistive technology reads of a value label: static text named by its value, as a label.
class AccessibleValueLabel : public QAccessibleWidget {
public:
    explicit AccessibleValueLabel(ValueLabel* label)
        : QAccessibleWidget(label, QAccessible::StaticText) {}
    QString text(QAccessible::Text kind) const override {
        const QString own = QAccessibleWidget::text(kind);
        return kind == QAccessible::Name && own.isEmpty()
                   ? static_cast<const ValueLabel*>(widget())->text()
                   : own;
    }
};

QAccessibleInterface* accessibleValueLabel(const QString& className, QObject* object) {
    if (className == QLatin1String("ValueLabel"))
        if (auto* label = qobject_cast<ValueLabel*>(object))
            return new AccessibleValueLabel(label);
    return nullptr;
}
} // namespace

ValueLabel::ValueLabel(const QString& text, QWidget* parent) : QWidget(parent), text_(text) {
    static const bool accessible = (QAccessible::installFactory(accessibleValueLabel), true);
    Q_UNUSED(accessible);
    setAttribute(Qt::WA_OpaquePaintEvent);
    if (parent)
        parent->installEventFilter(this);
}

void ValueLabel::setText(const QString& text) {
    if (text == text_)
        return;
    text_ = text;
    if (!updateAsked_) { // asking again before the frame is painted changes nothing
        updateAsked_ = true;
        update();
    }
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

QSize ValueLabel::sizeHint() const {
    return QFontMetrics(font()).size(Qt::TextSingleLine, text_);
}

void ValueLabel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange)
        forgetFont();
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange ||
        event->type() == QEvent::ParentChange)
        backdrop_ = QPixmap();
    QWidget::changeEvent(event);
}

void ValueLabel::moveEvent(QMoveEvent* event) {
    backdrop_ = QPixmap();
    QWidget::moveEvent(event);
}

void ValueLabel::resizeEvent(QResizeEvent* event) {
    backdrop_ = QPixmap();
    QWidget::resizeEvent(event);
}

bool ValueLabel::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::Resize:
    case QEvent::PaletteChange:
    case QEvent::StyleChange:
    case QEvent::FontChange:
    case QEvent::EnabledChange:
        backdrop_ = QPixmap();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void ValueLabel::paintBackdrop(QPainter& painter) {
    QWidget* parent = parentWidget();
    if (!parent || isWindow() || autoFillBackground()) {
        painter.fillRect(rect(), palette().brush(backgroundRole()));
        return;
    }
    const qreal ratio = devicePixelRatioF();
    if (backdrop_.isNull() || backdrop_.devicePixelRatio() != ratio) {
        backdrop_ = QPixmap(size() * ratio);
        backdrop_.setDevicePixelRatio(ratio);
        backdrop_.fill(palette().color(backgroundRole()));
        parent->render(&backdrop_, QPoint(), QRegion(geometry()), QWidget::DrawWindowBackground);
    }
    painter.drawPixmap(0, 0, backdrop_);
}

void ValueLabel::forgetFont() {
    font_ = QRawFont();
    asciiGlyphs_ = {};
    glyphs_.clear();
    kerning_.clear();
}

// Null for a character that needs shaping or that the font lacks.
const ValueLabel::Glyph* ValueLabel::glyph(QChar c) {
    const char16_t u = c.unicode();
    Glyph* known = u < asciiGlyphs_.size() ? &asciiGlyphs_[u] : nullptr;
    if (!known) {
        auto found = glyphs_.find(u);
        if (found != glyphs_.end())
            return &*found;
    } else if (known->index != 0) {
        return known;
    }
    if (!drawnWithoutShaping(c))
        return nullptr;
    if (!font_.isValid()) {
        font_ = QRawFont::fromFont(font());
        const QFontMetricsF metrics(font());
        ascent_ = metrics.ascent();
        descent_ = metrics.descent();
    }
    const QList<quint32> index = font_.glyphIndexesForString(QString(c));
    if (index.size() != 1 || index[0] == 0)
        return nullptr; // the font lacks it: another font would have to stand in
    const Glyph looked{index[0], font_.advancesForGlyphIndexes(index).value(0).x()};
    if (known)
        return &(*known = looked);
    return &*glyphs_.insert(u, looked);
}

bool ValueLabel::lookUp(const QString& text) {
    indexes_.clear();
    positions_.clear();
    qreal width = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const Glyph* found = glyph(text[i]);
        if (!found)
            return false;
        const Glyph looked = *found; // a copy, not a pointer into the hash the kerning reads
        if (i > 0)
            width += kerning(text[i - 1], text[i]);
        indexes_.append(looked.index);
        positions_.append(QPointF(width, 0));
        width += looked.advance;
    }
    return true;
}

qreal ValueLabel::kerning(QChar first, QChar second) {
    const quint32 pair = quint32(first.unicode()) << 16 | second.unicode();
    auto known = kerning_.find(pair);
    if (known == kerning_.end()) {
        const qreal apart = glyph(first)->advance + glyph(second)->advance;
        known = kerning_.insert(
            pair, QFontMetricsF(font()).horizontalAdvance(QString(first) + second) - apart);
    }
    return *known;
}

void ValueLabel::paintEvent(QPaintEvent*) {
    updateAsked_ = false;
    QPainter painter(this);
    paintBackdrop(painter);
    if (text_.isEmpty() || layoutDirection() != Qt::LeftToRight || !lookUp(text_)) {
        const int flags =
            Qt::AlignLeft | Qt::AlignVCenter | Qt::TextExpandTabs | Qt::TextForceLeftToRight;
        style()->drawItemText(&painter, contentsRect(), flags, palette(), isEnabled(), text_,
                              foregroundRole());
        return;
    }
    const QRectF box = contentsRect();
    const qreal top = box.top() + (box.height() - (ascent_ + descent_)) / 2;
    QGlyphRun run;
    run.setRawFont(font_);
    run.setGlyphIndexes(indexes_);
    run.setPositions(positions_);
    painter.setPen(palette().color(foregroundRole()));
    painter.drawGlyphRun(QPointF(box.left(), top + ascent_), run);
}
