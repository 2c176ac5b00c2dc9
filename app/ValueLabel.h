#pragma once

#include <QHash>
#include <QPixmap>
#include <QRawFont>
#include <QWidget>
#include <array>

// A one-line plain-text label, left-aligned and centred vertically as a QLabel is, for a value
// that changes on every playback tick: speed, mileage, time, heading. Setting its text only asks
// for a frame; QLabel would also recompute its size hint, look up the window's safe area and
// raise an accessibility event on every tick, with no assistive technology listening. Its text is
// drawn from glyphs looked up once per character instead of being shaped again on every frame; a
// text that needs shaping (a Latin letter, a character the font lacks) is drawn by the style, as
// QLabel draws it. It is opaque: what its parent draws beneath it (a group box's frame) is kept in
// a picture, so the parent is not painted again on every frame.
class ValueLabel : public QWidget {
    Q_OBJECT
public:
    explicit ValueLabel(const QString& text, QWidget* parent = nullptr);

    const QString& text() const { return text_; }
    void setText(const QString& text);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Glyph {
        quint32 index = 0; // 0 while not looked up
        qreal advance = 0;
    };
    const Glyph* glyph(QChar c);
    bool lookUp(const QString& text);         // into indexes_ and positions_
    qreal kerning(QChar first, QChar second); // what shaping moves the second character by
    void paintBackdrop(QPainter& painter);
    void forgetFont();

    QString text_;
    bool updateAsked_ = false; // until the next paint
    QRawFont font_;
    qreal ascent_ = 0, descent_ = 0;
    std::array<Glyph, 128> asciiGlyphs_{}; // the digits and signs of every value, without hashing
    QHash<char16_t, Glyph> glyphs_;
    QHash<quint32, qreal> kerning_; // by the pair's two characters
    QPixmap backdrop_;              // the parent's picture beneath the label
    QList<quint32> indexes_;        // the glyph run's, kept for their storage
    QList<QPointF> positions_;
};
