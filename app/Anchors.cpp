#include "Anchors.h"

#include <QEvent>
#include <QWidget>

Anchors::Anchors(QWidget* container, int designWidth)
    : QObject(container), container_(container), designWidth_(designWidth) {
    container->installEventFilter(this);
}

void Anchors::place(QWidget* child, QRect design, Kind kind) {
    if (design.width() <= 0 || design.height() <= 0)
        design.setSize(child->sizeHint().expandedTo(QSize(1, 1)));
    items_.push_back({child, design, kind});
    apply(items_.back());
}

void Anchors::apply(const Item& item) const {
    // Until the container is laid out, it counts as its design width.
    const int change = laidOut_ ? container_->width() - designWidth_ : 0;
    QRect r = item.design;
    switch (item.kind) {
    case Left:
        break;
    case Stretch:
        r.setWidth(std::max(1, r.width() + change));
        break;
    case Right:
        r.translate(change, 0);
        break;
    case Centre:
        r.translate(change / 2, 0);
        break;
    }
    // Fixed, since the anchors alone size a placed control; a label whose text changes on every
    // playback tick then spares its container a layout request each time.
    item.child->setFixedSize(r.size());
    item.child->move(r.topLeft());
}

bool Anchors::eventFilter(QObject* watched, QEvent* event) {
    if (watched == container_ && event->type() == QEvent::Resize) {
        laidOut_ = true;
        for (const Item& item : items_)
            apply(item);
    }
    return QObject::eventFilter(watched, event);
}
