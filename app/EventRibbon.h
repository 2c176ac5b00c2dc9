#pragma once

#include "TripEvents.h"

#include <QWidget>
#include <functional>

class QSlider;

// A thin band under the track bar: the trip's stops, signal and power gaps, over-speeding and
// fuel events as coloured spans on the track bar's own time axis. Hovering a span tells what
// it is; clicking it asks to jump there.
class EventRibbon : public QWidget {
    Q_OBJECT
public:
    EventRibbon(QSlider& trackBar, QWidget* parent);

    // The events to show, the trip's first point's time, and the texts for hovering.
    void setEvents(std::vector<TripEvent> events, double tripStart, const InfoPointDefinitions& definitions);
    std::function<void(const TripEvent&)> onClick;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    double xOf(double time) const; // where the track bar's handle stands for that time
    const TripEvent* eventAt(double x) const;

    QSlider& trackBar_;
    std::vector<TripEvent> events_;
    std::vector<QColor> colours_;
    std::vector<QString> hints_;
    double start_ = 0;
};
