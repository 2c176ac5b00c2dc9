#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <functional>

// A single-shot timer for frames: it fires at the first turn of the event loop after its time,
// or a few milliseconds later by a timer of its own when nothing else wakes the loop. While the
// playback clock ticks every millisecond, a frame then costs no wake-up of its own, at most a
// millisecond late; a wake-up is dear on a virtual machine.
class FrameTimer {
public:
    explicit FrameTimer(std::function<void()> fire);
    FrameTimer(const FrameTimer&) = delete;
    FrameTimer& operator=(const FrameTimer&) = delete;

    // Does nothing while started: the frame already asked for comes first.
    void start(int milliseconds);
    bool isActive() const { return fallback_.isActive(); }

private:
    static constexpr int kSlackMs = 4;
    void fire();

    std::function<void()> fire_;
    QTimer fallback_;
    QElapsedTimer started_;
    qint64 dueNs_ = 0;
};
