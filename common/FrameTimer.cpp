#include "FrameTimer.h"

#include <QAbstractEventDispatcher>

FrameTimer::FrameTimer(std::function<void()> fire) : fire_(std::move(fire)) {
    fallback_.setSingleShot(true);
    fallback_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&fallback_, &QTimer::timeout, &fallback_, [this] { this->fire(); });
    // Before the loop sleeps again, after whatever woke it: a frame due by then is taken now.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, &fallback_, [this] {
            if (fallback_.isActive() && started_.nsecsElapsed() >= dueNs_)
                this->fire();
        });
}

void FrameTimer::start(int milliseconds) {
    if (fallback_.isActive())
        return;
    started_.start();
    dueNs_ = qint64(milliseconds) * 1000000;
    fallback_.start(milliseconds + kSlackMs);
}

void FrameTimer::fire() {
    fallback_.stop();
    fire_();
}
