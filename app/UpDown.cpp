#include "UpDown.h"

#include <QToolButton>
#include <QVBoxLayout>

UpDown::UpDown(int minimum, int maximum, int position, QWidget* parent)
    : QWidget(parent), minimum_(minimum), maximum_(maximum), position_(position) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (const bool up : {true, false}) {
        auto* button = new QToolButton(this);
        button->setArrowType(up ? Qt::UpArrow : Qt::DownArrow);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        button->setAutoRepeat(true);
        layout->addWidget(button);
        connect(button, &QToolButton::clicked, this, [this, up] { click(up); });
    }
}

void UpDown::setPosition(int position) { position_ = std::clamp(position, minimum_, maximum_); }

UpDown::Direction UpDown::click(bool up) {
    Direction direction = Direction::None;
    if (up && position_ < maximum_) {
        ++position_;
        direction = Direction::Up;
    } else if (!up && position_ > minimum_) {
        --position_;
        direction = Direction::Down;
    }
    emit changingEx(direction, position_);
    return direction;
}
