#pragma once

#include <QPushButton>

// A button whose caption is a symbol-font code ("4" play, ";" pause, "<" stop, "6" down);
// the code is kept as the button's state and drawn as the matching shape.
class GlyphButton : public QPushButton {
    Q_OBJECT
public:
    GlyphButton(const QString& glyph, int pixelSize, QWidget* parent = nullptr);
    QString glyph() const { return glyph_; }
    void setGlyph(const QString& glyph);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString glyph_;
    int pixelSize_;
};
