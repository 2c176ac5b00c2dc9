#pragma once

#include <QByteArray>
#include <limits>

namespace vserver {

// Date-time values (the installation's wall clock) as the UTC moments they name, in ISO 8601.
// The zone's offset is looked up once per wall-clock day, or per quarter of an hour on a day the
// clocks change: a track of a million points asks the zone rules a few times, not a million.
class UtcClock {
public:
    // Milliseconds since 1970-01-01T00:00:00Z.
    qint64 msecs(double value);
    // "2009-03-02T03:00:00Z"; "…T03:00:00.250Z" when the moment has milliseconds.
    QByteArray text(double value);

private:
    static constexpr qint64 kNone = std::numeric_limits<qint64>::min();
    qint64 day_ = kNone, quarter_ = kNone;
    bool dayUniform_ = false; // the day has one offset from its start to its end
    qint64 offset_ = 0;       // UTC minus wall clock, ms
};

} // namespace vserver
