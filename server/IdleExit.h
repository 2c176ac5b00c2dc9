#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <functional>

namespace vserver {

// Ends a server nobody uses: once no client that called it is left on the bus and no
// computation runs, for the given time, `idle` is emitted. A server started by the player or by
// the bus uses it; one started by hand in a terminal keeps running.
class IdleExit : public QObject {
    Q_OBJECT
public:
    IdleExit(QDBusConnection bus, int seconds, std::function<bool()> busy, QObject* parent = nullptr);

    // A client (its unique bus name) called the server: it is waited for until it leaves.
    void noteCaller(const QString& uniqueName);

signals:
    void idle();

private:
    void check();

    QDBusServiceWatcher watcher_;
    QSet<QString> callers_;
    std::function<bool()> busy_;
    qint64 limitMs_;
    QElapsedTimer idleFor_;
    QTimer ticker_;
};

} // namespace vserver
