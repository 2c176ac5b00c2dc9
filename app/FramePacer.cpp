#include "FramePacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace {
qint64 frameNanoseconds(const QWidget* window) {
    const QScreen* screen = window->screen();
    const double hertz = screen && screen->refreshRate() > 1 ? screen->refreshRate() : 60.0;
    return qint64(1e9 / std::clamp(hertz, 30.0, 240.0));
}
} // namespace

FramePacer::FramePacer(QWidget* window)
    : QObject(window), window_(window), due_([this] {
          QCoreApplication::postEvent(window_, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
      }) {
    window->installEventFilter(this);
}

bool FramePacer::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_ || event->type() != QEvent::UpdateRequest)
        return false;
    const qint64 frame = frameNanoseconds(window_);
    if (!sinceFrame_.isValid() || sinceFrame_.nsecsElapsed() >= frame) {
        sinceFrame_.start();
        return false; // paint now
    }
    if (!due_.isActive()) // Qt asks once until it has painted: ask again when the frame is due
        due_.start(int((frame - sinceFrame_.nsecsElapsed()) / 1000000) + 1);
    return true;
}
