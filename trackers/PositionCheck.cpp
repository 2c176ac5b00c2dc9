#include "PositionCheck.h"

#include "DateTimeValue.h"

#include <QDateTime>
#include <cmath>
#include <limits>

namespace trackers {
namespace {

constexpr qint64 kYear2000Ms = 946684800000;
constexpr qint64 kDayMs = 86400000;
constexpr qint64 kQuarterMs = 900000;

// The local zone's offset from UTC at a moment, looked up once per quarter hour of UTC (zone
// rules change on quarter hours at the finest): a live batch's positions share one lookup.
qint64 offsetMs(qint64 utcMs) {
    thread_local qint64 quarter = std::numeric_limits<qint64>::min(), offset = 0;
    const qint64 q = utcMs >= 0 ? utcMs / kQuarterMs : (utcMs - kQuarterMs + 1) / kQuarterMs;
    if (q != quarter) {
        quarter = q;
        offset = qint64(QDateTime::fromMSecsSinceEpoch(q * kQuarterMs, Qt::UTC).toLocalTime().offsetFromUtc()) * 1000;
    }
    return offset;
}

} // namespace

QString refusalOf(const TrackerPosition& p, qint64 nowMs) {
    if (!std::isfinite(p.lat) || !std::isfinite(p.lon) || std::abs(p.lat) > 90 || std::abs(p.lon) > 180)
        return QStringLiteral("координаты вне земного шара (%1, %2)").arg(p.lat).arg(p.lon);
    if (p.timeMs < kYear2000Ms)
        return QStringLiteral("время %1 раньше 2000 года: часы прибора не выставлены").arg(p.timeMs);
    if (p.timeMs > nowMs + kDayMs)
        return QStringLiteral("время %1 больше чем на сутки впереди часов сервера").arg(p.timeMs);
    if (std::isfinite(p.speedKmh) && (p.speedKmh < 0 || p.speedKmh > 2000))
        return QStringLiteral("скорость %1 км/ч невозможна").arg(p.speedKmh);
    return {};
}

vserver::Message toMessage(const TrackerPosition& p) {
    vserver::Message m;
    const qint64 wallMs = p.timeMs + offsetMs(p.timeMs); // the wall clock's reading, as milliseconds
    m.time = datetime::fromQDateTime(QDateTime::fromMSecsSinceEpoch(wallMs, Qt::UTC));
    m.lat = p.lat;
    m.lon = p.lon;
    m.speed = p.speedKmh;
    m.signal = p.fix;
    m.power = p.power;
    m.sensors = p.sensors;
    return m;
}

} // namespace trackers
