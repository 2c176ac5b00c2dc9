#pragma once

#include <QWidget>

class QToolButton;

// A pair of arrow buttons with a position in a range, as a spin control beside another field.
// Each click reports its direction: up or down while the position moves, none when the click
// would pass the limit.
class UpDown : public QWidget {
    Q_OBJECT
public:
    enum class Direction { None, Up, Down };

    UpDown(int minimum, int maximum, int position, QWidget* parent = nullptr);
    int position() const { return position_; }
    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }
    void setPosition(int position);

    // What a click in the given direction reports, and moves the position to.
    Direction click(bool up);

signals:
    void changingEx(UpDown::Direction direction, int newPosition);

private:
    int minimum_, maximum_, position_;
};
