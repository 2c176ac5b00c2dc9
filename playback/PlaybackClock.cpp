#include "PlaybackClock.h"

#include "DateTimeValue.h"

#include <algorithm>

int PlaybackClock::intervalFor(int speed) {
    if (speed <= 0)
        return 1000;
    // A factor above 1000 would give 0 ms, which never fires; the fastest pace is 1 ms.
    return std::max(1, 1000 / speed);
}

int PlaybackClock::findStopAt(const std::vector<TStops>& stops, double t) {
    const qint64 now = datetime::milliseconds(t);
    for (size_t i = 0; i < stops.size(); ++i)
        if (datetime::milliseconds(stops[i].BeginTime) <= now && now < datetime::milliseconds(stops[i].EndTime))
            return static_cast<int>(i);
    return -1;
}
