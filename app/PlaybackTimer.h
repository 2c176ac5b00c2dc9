#pragma once

#include <QObject>
#include <QTimer>

// The window timer: on or off, with a period in milliseconds. A period of 0 never fires.
class PlaybackTimer : public QObject {
    Q_OBJECT
public:
    explicit PlaybackTimer(QObject* parent = nullptr);

    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled);
    int interval() const { return interval_; }
    void setInterval(int milliseconds);

signals:
    void timeout();

private:
    void sync();

    QTimer timer_;
    bool enabled_ = false;
    int interval_ = 1000;
};
