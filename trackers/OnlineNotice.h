#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace trackers {

// Passes "new positions are stored" on at most once per interval (250 ms: four a second); a
// notice within the interval is passed on at its end, so the last batch is always announced.
class OnlineNotice : public QObject {
    Q_OBJECT
public:
    explicit OnlineNotice(int intervalMs = 250, QObject* parent = nullptr);
    void note();

signals:
    void announce();

private:
    void fire();

    int intervalMs_;
    QElapsedTimer sinceLast_;
    QTimer later_;
};

} // namespace trackers
