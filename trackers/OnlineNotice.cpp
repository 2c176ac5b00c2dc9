#include "OnlineNotice.h"

namespace trackers {

OnlineNotice::OnlineNotice(int intervalMs, QObject* parent) : QObject(parent), intervalMs_(intervalMs) {
    later_.setSingleShot(true);
    connect(&later_, &QTimer::timeout, this, &OnlineNotice::fire);
}

void OnlineNotice::note() {
    if (later_.isActive())
        return;
    const qint64 waited = sinceLast_.isValid() ? sinceLast_.elapsed() : intervalMs_;
    if (waited >= intervalMs_)
        fire();
    else
        later_.start(int(intervalMs_ - waited));
}

void OnlineNotice::fire() {
    sinceLast_.start();
    emit announce();
}

} // namespace trackers
