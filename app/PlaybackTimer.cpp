#include "PlaybackTimer.h"

PlaybackTimer::PlaybackTimer(QObject* parent) : QObject(parent) {
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &PlaybackTimer::timeout);
}

void PlaybackTimer::setEnabled(bool enabled) {
    if (enabled_ == enabled)
        return;
    enabled_ = enabled;
    sync();
}

void PlaybackTimer::setInterval(int milliseconds) {
    if (interval_ == milliseconds)
        return;
    interval_ = milliseconds;
    sync();
}

void PlaybackTimer::sync() {
    if (enabled_ && interval_ > 0)
        timer_.start(interval_);
    else
        timer_.stop();
}
