#pragma once

#include <QObject>
#include <QRect>
#include <vector>

class QWidget;

// Places children by their design rectangles and follows the container's width the way the
// window's design anchors them: fixed at the left, widening, keeping the distance to the right
// edge, or staying centred.
class Anchors : public QObject {
    Q_OBJECT
public:
    enum Kind { Left, Stretch, Right, Centre };

    Anchors(QWidget* container, int designWidth);
    void place(QWidget* child, QRect design, Kind kind = Left);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Item {
        QWidget* child;
        QRect design;
        Kind kind;
    };
    void apply(const Item& item) const;

    QWidget* container_;
    int designWidth_;
    bool laidOut_ = false;
    std::vector<Item> items_;
};
