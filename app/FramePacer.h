#pragma once

#include "FrameTimer.h"

#include <QElapsedTimer>
#include <QObject>

class QWidget;

// Holds a window's repaints to the display's rate. The playback clock ticks every millisecond
// and each tick changes labels, the track bar and the chart's play-head; without pacing Qt would
// paint the window on every tick. A repaint asked for too soon is delivered when the frame is
// due, so nothing asked for is lost, only gathered into the next frame.
class FramePacer : public QObject {
public:
    explicit FramePacer(QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* window_;
    QElapsedTimer sinceFrame_;
    FrameTimer due_;
};
