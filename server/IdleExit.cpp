#include "IdleExit.h"

#include <QDBusConnectionInterface>

namespace vserver {

IdleExit::IdleExit(QDBusConnection bus, int seconds, std::function<bool()> busy, QObject* parent)
    : QObject(parent), watcher_(QString(), bus, QDBusServiceWatcher::WatchForUnregistration),
      busy_(std::move(busy)), limitMs_(qint64(seconds) * 1000) {
    connect(&watcher_, &QDBusServiceWatcher::serviceUnregistered, this, [this](const QString& name) {
        callers_.remove(name);
        watcher_.removeWatchedService(name);
    });
    connect(&ticker_, &QTimer::timeout, this, &IdleExit::check);
    ticker_.start(std::min<qint64>(1000, std::max<qint64>(100, limitMs_ / 10)));
    idleFor_.start();
}

void IdleExit::noteCaller(const QString& uniqueName) {
    if (uniqueName.isEmpty() || callers_.contains(uniqueName))
        return;
    callers_.insert(uniqueName);
    watcher_.addWatchedService(uniqueName);
    // A client that left between its call and the watch is not waited for.
    if (!watcher_.connection().interface()->isServiceRegistered(uniqueName).value()) {
        callers_.remove(uniqueName);
        watcher_.removeWatchedService(uniqueName);
    }
    idleFor_.restart();
}

void IdleExit::check() {
    if (!callers_.isEmpty() || busy_()) {
        idleFor_.restart();
        return;
    }
    if (idleFor_.elapsed() >= limitMs_) {
        ticker_.stop();
        emit idle();
    }
}

} // namespace vserver
