#include "DateTimeValue.h"

#include "QuotedArgument.h"
#include "VantrelError.h"

#include <QLocale>
#include <QRegularExpression>
#include <cmath>

namespace datetime {
namespace {

const QDate kEpoch(1899, 12, 30);
constexpr qint64 kMsPerDay = 86400000;

qint64 toMilliseconds(double value) { return std::llround(value * kMsPerDay); }

QString longTimeFormat(const QLocale& locale) {
    // The locale's long format may name the time zone; a clock label never shows it. Worked out
    // once per locale: the date label is written on every playback tick.
    static QString lastLocale, lastFormat;
    if (locale.name() != lastLocale || lastFormat.isEmpty()) {
        static const QRegularExpression zone(QStringLiteral("\\s*t+\\s*"));
        lastFormat = locale.timeFormat(QLocale::LongFormat).remove(zone).trimmed();
        lastLocale = locale.name();
    }
    return lastFormat;
}

} // namespace

double fromDateAndTime(const QDate& date, const QTime& time) {
    const double days = static_cast<double>(kEpoch.daysTo(date));
    const double fraction = time.isValid() ? time.msecsSinceStartOfDay() / double(kMsPerDay) : 0;
    return days + fraction;
}

double fromQDateTime(const QDateTime& value) { return fromDateAndTime(value.date(), value.time()); }

QDateTime toQDateTime(double value) {
    const qint64 ms = toMilliseconds(value);
    const qint64 days = ms >= 0 ? ms / kMsPerDay : -((-ms + kMsPerDay - 1) / kMsPerDay);
    const qint64 msOfDay = ms - days * kMsPerDay;
    // A wall-clock value, never a moment in the local zone: 02:30 on the night the clocks
    // jump forward must stay 02:30, not become invalid or shifted.
    return QDateTime(kEpoch.addDays(days), QTime::fromMSecsSinceStartOfDay(int(msOfDay)), Qt::UTC);
}

QString formatText(double value) {
    return toQDateTime(value).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

double parseText(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral(
        "^\\s*(\\d{1,2})\\.(\\d{1,2})\\.(\\d{4})(?:\\s+(\\d{1,2}):(\\d{1,2})(?::(\\d{1,2}))?)?\\s*$"));
    const auto match = pattern.match(text);
    if (match.hasMatch()) {
        const QDate date(match.captured(3).toInt(), match.captured(2).toInt(),
                         match.captured(1).toInt());
        const QTime time(match.captured(4).toInt(), match.captured(5).toInt(),
                         match.captured(6).toInt());
        if (date.isValid() && time.isValid())
            return fromDateAndTime(date, time);
    }
    throw VantrelError(QStringLiteral("«%1» не является датой и временем вида дд.мм.гггг чч:мм:сс")
                           .arg(quotedArgument(text)));
}

void checkPeriod(double from, double to) {
    if (!(to > from))
        throw VantrelError(QStringLiteral("Конец периода должен быть позже его начала"));
}

QString formatLabel(double value) {
    const QDateTime moment = toQDateTime(value);
    // The panel is Russian: a locale without a language (C.UTF-8) writes its dates the Russian
    // way too, not "2 Mar 2009".
    const QLocale locale = QLocale().language() == QLocale::C ? QLocale(QLocale::Russian, QLocale::Russia) : QLocale();
    QString text = locale.toString(moment.date(), QLocale::ShortFormat);
    const QTime time = moment.time();
    if (time.hour() != 0 || time.minute() != 0 || time.second() != 0)
        text += QLatin1Char(' ') + locale.toString(time, longTimeFormat(locale));
    return text;
}

qint64 milliseconds(double value) { return toMilliseconds(value); }

qint64 wholeSeconds(double value) {
    const qint64 ms = toMilliseconds(value);
    return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}

qint64 roundHalfEven(double value) { return static_cast<qint64>(std::nearbyint(value)); }

qint64 secondsBetween(double from, double to) {
    const double milliseconds = std::nearbyint((to - from) * kMsPerDay);
    return roundHalfEven(milliseconds / 1000.0);
}

} // namespace datetime
