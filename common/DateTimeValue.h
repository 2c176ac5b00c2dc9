#pragma once

#include <QDateTime>
#include <QString>

// Date-time values are doubles: days since 30 December 1899, the time of day as the fraction.
namespace datetime {

constexpr double kSecondsPerDay = 86400.0;
constexpr double kOneSecond = 1.0 / kSecondsPerDay;

double fromQDateTime(const QDateTime& value);
double fromDateAndTime(const QDate& date, const QTime& time);
// The value as a wall-clock QDateTime (in UTC, so no zone rule can shift or void it).
QDateTime toQDateTime(double value);

// "dd.mm.yyyy hh:mm:ss", the form exchanged with the server and the settings file.
QString formatText(double value);
// Reads "dd.mm.yyyy hh:mm:ss" (the time part may be left out); throws VantrelError otherwise.
double parseText(const QString& text);

// The one rule for a period, wherever one is asked for (computation, export, trip sheet): its
// end must come after its begin. Throws VantrelError otherwise.
void checkPeriod(double from, double to);

// The operator's date label: the locale's short date, a blank and its long time; the time is
// left out at midnight to the second.
QString formatLabel(double value);

// A value as whole milliseconds: times compare "exactly" at the resolution they are recorded in,
// whatever the rounding of the arithmetic that produced them.
qint64 milliseconds(double value);

// Whole seconds of a value after rounding to the millisecond, as a clock display would show it.
qint64 wholeSeconds(double value);

// Round to the nearest integer, an exact half to the even neighbour.
qint64 roundHalfEven(double value);

// Whole seconds from `from` to `to`, nearest, an exact half to even. Date-time values hold
// milliseconds, so the difference is taken to the millisecond first: a half second stays a half.
qint64 secondsBetween(double from, double to);

} // namespace datetime
