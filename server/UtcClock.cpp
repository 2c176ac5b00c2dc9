#include "UtcClock.h"

#include "DateTimeValue.h"

#include <QDateTime>
#include <cstdio>

namespace vserver {
namespace {

constexpr qint64 kDayMs = 86400000, kQuarterMs = 15 * 60 * 1000;
constexpr qint64 kEpochDays = 25569; // 1899-12-30 to 1970-01-01

qint64 floorDivide(qint64 value, qint64 by) {
    return value >= 0 ? value / by : -((-value + by - 1) / by);
}

// UTC minus wall clock at a wall-clock moment, as the local zone's rules say.
qint64 offsetAt(qint64 wallMs) {
    const QDateTime wall = QDateTime::fromMSecsSinceEpoch(wallMs, Qt::UTC);
    return QDateTime(wall.date(), wall.time(), Qt::LocalTime).toMSecsSinceEpoch() - wallMs;
}

} // namespace

qint64 UtcClock::msecs(double value) {
    const qint64 wallMs = datetime::milliseconds(value) - kEpochDays * kDayMs;
    if (const qint64 day = floorDivide(wallMs, kDayMs); day != day_) {
        day_ = day;
        offset_ = offsetAt(day * kDayMs);
        dayUniform_ = offset_ == offsetAt((day + 1) * kDayMs - 1);
        quarter_ = kNone;
    }
    if (!dayUniform_) {
        if (const qint64 quarter = floorDivide(wallMs, kQuarterMs); quarter != quarter_) {
            quarter_ = quarter;
            offset_ = offsetAt(wallMs);
        }
    }
    return wallMs + offset_;
}

QByteArray UtcClock::text(double value) {
    const qint64 ms = msecs(value);
    const qint64 days = floorDivide(ms, kDayMs), ofDay = ms - days * kDayMs;
    const QDate date = QDate(1970, 1, 1).addDays(days);
    char text[40];
    int length = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", date.year(),
                               date.month(), date.day(), int(ofDay / 3600000),
                               int(ofDay / 60000 % 60), int(ofDay / 1000 % 60));
    if (ofDay % 1000)
        length +=
            std::snprintf(text + length, sizeof text - size_t(length), ".%03d", int(ofDay % 1000));
    text[length++] = 'Z';
    return QByteArray(text, length);
}

} // namespace vserver
