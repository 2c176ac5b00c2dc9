#include "EventRibbon.h"

#include "DateTimeValue.h"

#include <QMouseEvent>
#include <QPainter>
#include <QSlider>
#include <QStyle>
#include <QToolTip>
#include <cmath>

EventRibbon::EventRibbon(QSlider& trackBar, QWidget* parent) : QWidget(parent), trackBar_(trackBar) {
    setMouseTracking(true);
}

void EventRibbon::setEvents(std::vector<TripEvent> events, double tripStart, const InfoPointDefinitions& definitions) {
    events_ = std::move(events);
    start_ = tripStart;
    colours_.clear();
    hints_.clear();
    for (const TripEvent& event : events_) {
        const QString query = event.kind >= 1 && size_t(event.kind) <= definitions.size()
                                  ? definitions[size_t(event.kind - 1)].query
                                  : QString();
        colours_.push_back(tripevents::ribbonColour(query));
        hints_.push_back(tripevents::hoverText(event, definitions));
    }
    update();
}

double EventRibbon::xOf(double time) const {
    const int length = trackBar_.style()->pixelMetric(QStyle::PM_SliderLength, nullptr, &trackBar_);
    const int span = std::max(1, trackBar_.width() - length);
    const double seconds = (time - start_) * datetime::kSecondsPerDay;
    const int lo = trackBar_.minimum(), hi = std::max(trackBar_.maximum(), lo + 1);
    const double fraction = std::clamp((seconds - lo) / (hi - lo), 0.0, 1.0);
    return trackBar_.x() - x() + length / 2.0 + fraction * span;
}

const TripEvent* EventRibbon::eventAt(double x) const {
    for (size_t i = events_.size(); i-- > 0;) // the one drawn on top
        if (x >= xOf(events_[i].begin) - 2 && x <= xOf(events_[i].end) + 2)
            return &events_[i];
    return nullptr;
}

void EventRibbon::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    for (size_t i = 0; i < events_.size(); ++i) {
        const double from = xOf(events_[i].begin), to = std::max(xOf(events_[i].end), from + 2);
        painter.fillRect(QRectF(from, 0, to - from, height()), colours_[i]);
    }
}

void EventRibbon::mouseMoveEvent(QMouseEvent* event) {
    const TripEvent* hit = eventAt(event->position().x());
    if (hit)
        QToolTip::showText(event->globalPosition().toPoint(), hints_[size_t(hit - events_.data())], this);
    else
        QToolTip::hideText();
}

void EventRibbon::mousePressEvent(QMouseEvent* event) {
    const TripEvent* hit = eventAt(event->position().x());
    if (hit && onClick && event->button() == Qt::LeftButton)
        onClick(*hit);
}
