#pragma once

#include "TStops.h"

#include <functional>
#include <vector>

// The playback time axis, paced by the wall clock: PlayTime = PlayBase + (now − ClockBase) ×
// PlaySpeed, all in days. The wall clock is injected so the arithmetic is tested without waiting.
class PlaybackClock {
public:
    using Now = std::function<double()>;

    explicit PlaybackClock(Now now) : now_(std::move(now)) {}

    // From now on playback continues from `playTime` at the current factor.
    void rebase(double playTime) {
        ClockBase = now_();
        PlayBase = playTime;
    }
    // Derives PlayTime from the last re-base.
    double advance() {
        PlayTime = PlayBase + (now_() - ClockBase) * PlaySpeed;
        return PlayTime;
    }
    double now() const { return now_(); }

    // Timer period for a factor: about one second of track time per tick, never below 1 ms.
    static int intervalFor(int speed);
    int interval() const { return intervalFor(PlaySpeed); }

    // The first stop (in list order) with begin <= t < end, to the millisecond, or -1.
    static int findStopAt(const std::vector<TStops>& stops, double t);

    double PlayTime = 0;
    double PlayBase = 0;
    double ClockBase = 0;
    int PlaySpeed = 1;

private:
    Now now_;
};
