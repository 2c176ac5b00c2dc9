#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <algorithm>

// How long the window's event loop was kept from its events: a 5 ms timer on the window's
// thread notes the largest gap between two of its ticks while it runs.
class StallProbe : public QObject {
public:
    StallProbe() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] {
            if (last_.isValid())
                longestMs_ = std::max(longestMs_, last_.nsecsElapsed() / 1e6);
            last_.start();
        });
    }
    void start() {
        longestMs_ = 0;
        last_.invalidate();
        timer_.start();
    }
    // The longest gap so far, the gap still open included.
    double stop() {
        timer_.stop();
        if (last_.isValid())
            longestMs_ = std::max(longestMs_, last_.nsecsElapsed() / 1e6);
        return longestMs_;
    }

private:
    QTimer timer_;
    QElapsedTimer last_;
    double longestMs_ = 0;
};
