#pragma once

#include "SpeedProfile.h"

#include <QPixmap>
#include <QWidget>
#include <functional>
#include <vector>

class TrackStore;

// The trip's speed over its time under the map, with a play-head at the playback time; a click
// or a drag asks to seek there. The chart only draws: the window wires it to playback.
class SpeedChart : public QWidget {
    Q_OBJECT
public:
    explicit SpeedChart(QWidget* parent = nullptr);

    void setTrack(const TrackStore& track);
    void setPlayTime(double time);
    // Periods (track time, days) shaded behind the speed: the trip's over-speeding.
    void setShaded(std::vector<std::pair<double, double>> periods);
    // Called with the track time (days) under a click or a drag.
    std::function<void(double)> onSeek;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    speedprofile::TimeAxis axis() const;
    QRectF plotArea() const;
    void seekTo(double x);
    void paintBackground(QPainter& painter);
    QRect playHeadRect(int x) const;

    std::vector<double> times_, speeds_;
    std::vector<speedprofile::Column> columns_;
    std::vector<std::pair<double, double>> shaded_;
    double top_ = 10;
    double playTime_ = 0;
    int playX_ = -1; // the play-head's column as last drawn
    QPixmap background_; // everything but the play-head, drawn again when the trip, shading or size changes
};
