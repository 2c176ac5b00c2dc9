#pragma once

#include <QHash>
#include <QLabel>
#include <QRawFont>

// A label for a value that changes on every playback tick: speed, mileage, time, heading. Its
// one-line plain text is drawn from glyphs looked up once per character instead of being shaped
// again on every frame, which costs far more than the drawing. A text that needs shaping (a
// Latin letter, a kerned pair, a character the font lacks) is painted by QLabel.
class ValueLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Glyph {
        quint32 index = 0;
        qreal advance = 0;
    };
    bool lookUp(const QString& text, QList<quint32>& indexes, QList<QPointF>& positions, qreal& width);
    bool kerned(QChar first, QChar second);

    QRawFont font_;
    QHash<char16_t, Glyph> glyphs_;
    QHash<quint32, bool> kerned_; // by the pair's two characters

};
