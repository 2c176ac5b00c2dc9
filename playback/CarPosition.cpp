#include "CarPosition.h"

#include "DateTimeValue.h"
#include "FloatToMapStr.h"

#include <QLocale>
#include <algorithm>
#include <charconv>
#include <cmath>

namespace carposition {
namespace {

constexpr double kHalfPi = 1.5707963267948966;
constexpr long double kPi = 3.14159265358979323846L;
constexpr long double kTwoPi = 6.28318530717958647693L;

double pointTime(const TrackStore& track, int point) {
    return track.TrackData[5 * size_t(point - 1)];
}

const TMapPoint& pointAt(const TrackStore& track, int point) {
    return track.TrackPoints[size_t(point - 1)];
}

double angleBetween(const TMapPoint& from, const TMapPoint& to) {
    return CalcAngle(from.x, to.x, from.y, to.y);
}

// The mean of two directions taken around the circle: 350° and 10° give 0°, not 180°.
double circularMean(double a, double b) {
    double difference = std::remainder(b - a, double(kTwoPi)); // in [-π, π]
    double mean = a + difference / 2;
    if (mean < 0)
        mean += double(kTwoPi);
    if (mean >= double(kTwoPi))
        mean -= double(kTwoPi);
    return mean;
}

// How the default locale writes numbers, taken again only when the default changes: the labels
// are written on every playback tick.
struct NumberForm {
    explicit NumberForm(const QLocale& from) : madeFrom(from), locale(from), decimalPoint(from.decimalPoint()) {
        locale.setNumberOptions(QLocale::OmitGroupSeparator);
        latinDigits = from.zeroDigit() == QLatin1String("0") && from.negativeSign() == QLatin1String("-");
    }
    QLocale madeFrom, locale; // the default, and the default without group separators
    QString decimalPoint;
    bool latinDigits = false; // writes 0-9 and '-'
};

const NumberForm& numberForm() {
    thread_local NumberForm form{QLocale()};
    if (QLocale() != form.madeFrom)
        form = NumberForm(QLocale());
    return form;
}

// `value` with no decimal or one, rounded half away from zero on its exact binary value as
// QLocale rounds, in whole integers: no text to read back, a few instructions for a label that
// changes on every tick. Empty when the value is beyond the integers' reach.
QString fixedInLatinDigits(double value, int decimals, const QString& decimalPoint) {
    if (!(std::abs(value) < 1e15) || decimals < 0 || decimals > 1)
        return {};
    int exponent = 0;
    const double fraction = std::frexp(std::abs(value), &exponent);
    const auto mantissa = quint64(std::ldexp(fraction, 53)); // |value| = mantissa / 2^shift, exactly
    const int shift = 53 - exponent;                        // at least 3 below 1e15
    const quint64 scaled = mantissa * (decimals == 1 ? 10 : 1);
    quint64 rounded = 0;
    if (shift < 64) {
        const quint64 half = quint64(1) << (shift - 1);
        rounded = (scaled >> shift) + ((scaled & (2 * half - 1)) >= half ? 1 : 0);
    }
    char digits[24];
    char* end = std::to_chars(digits, digits + sizeof digits, rounded).ptr;
    QString text;
    if (std::signbit(value) && value != 0)
        text += QLatin1Char('-');
    if (decimals == 0)
        return text + QLatin1String(digits, end - digits);
    if (end - digits == 1)
        text += QLatin1Char('0');
    return text + QLatin1String(digits, end - digits - 1) + decimalPoint + QLatin1Char(end[-1]);
}

QString fixedNumber(double value, int decimals) {
    const NumberForm& form = numberForm();
    if (form.latinDigits)
        if (QString text = fixedInLatinDigits(value, decimals, form.decimalPoint); !text.isEmpty())
            return text;
    return form.locale.toString(value, 'f', decimals);
}

} // namespace

int FindPointIndex(const TrackStore& track, double t, int current) {
    const int n = track.PointCount;
    if (n <= 1)
        return current;
    const qint64 target = datetime::milliseconds(t);
    const auto atOrAfter = [&](int point) { return datetime::milliseconds(pointTime(track, point)) >= target; };
    // The first point with time >= t lies in (low, high]: bracketed by steps that double from the
    // current point, since playback moves on by a point or two a tick, then bisected.
    const int from = std::clamp(current, 1, n);
    int low = 0, high = n + 1; // point 0 stands before the first, n + 1 after the last
    if (atOrAfter(from)) {
        high = from;
        for (int step = 1; high - step >= 1; step *= 2) {
            if (!atOrAfter(high - step)) {
                low = high - step;
                break;
            }
            high -= step;
        }
    } else {
        low = from;
        for (int step = 1; low + step <= n; step *= 2) {
            if (atOrAfter(low + step)) {
                high = low + step;
                break;
            }
            low += step;
        }
    }
    while (high - low > 1) {
        const int middle = low + (high - low) / 2;
        if (atOrAfter(middle))
            high = middle;
        else
            low = middle;
    }
    if (high > n)
        return current;
    return high >= 2 ? high - 1 : 2;
}

double CalcAngle(double x1, double x2, double y1, double y2) {
    long double angle;
    if (x1 == x2) {
        angle = y1 >= y2 ? kHalfPi : -kHalfPi;
    } else {
        angle = std::atan((y2 - y1) / (x1 - x2));
        if (x1 > x2)
            angle += kPi;
    }
    if (angle < 0)
        angle += kTwoPi;
    return static_cast<double>(angle);
}

Placement place(const TrackStore& track, int c, double t) {
    const int n = track.PointCount;
    Placement result;
    if (n < 1)
        return result;
    c = std::clamp(c, 1, n);
    const TMapPoint& pc = pointAt(track, c);
    result.x = pc.x;
    result.y = pc.y;
    if (n == 1) {
        result.heading = kHalfPi;
        result.onPoint = true;
        return result;
    }

    if (datetime::wholeSeconds(pointTime(track, c)) == datetime::wholeSeconds(t)) {
        result.onPoint = true;
        if (c == 1) {
            result.heading = angleBetween(pc, pointAt(track, 2));
        } else if (c == n) {
            result.heading = angleBetween(pointAt(track, n - 1), pc);
        } else {
            result.heading = circularMean(angleBetween(pointAt(track, c - 1), pc),
                                          angleBetween(pc, pointAt(track, c + 1)));
        }
        return result;
    }

    // Between points: the segment from c to c + 1, or the last one when c is the last point.
    const int from = c < n ? c : n - 1;
    const TMapPoint& a = pointAt(track, from);
    const TMapPoint& b = pointAt(track, from + 1);
    // Spans in whole milliseconds: the times are recorded to the millisecond, and day fractions
    // near 40000 days would otherwise blur a half second into 0.4999999686.
    const qint64 start = datetime::milliseconds(pointTime(track, from));
    const qint64 segment = datetime::milliseconds(pointTime(track, from + 1)) - start;
    if (segment == 0) {
        result.x = a.x;
        result.y = a.y;
        result.heading = angleBetween(a, b);
        return result;
    }
    const double fraction = double(datetime::milliseconds(t) - start) / double(segment);
    double x = (b.x - a.x) * fraction + a.x;
    double y = (b.y - a.y) * fraction + a.y;
    if (x == 0 || y == 0) {
        x = a.x;
        y = a.y;
    }
    result.x = x;
    result.y = y;
    result.heading = CalcAngle(a.x, x, a.y, y);
    return result;
}

QStringList SetCarMarkerTexts(double longitude, double latitude, double headingRadians) {
    const double degrees = static_cast<double>(headingRadians * 180.0L / kPi);
    return {FloatToMapStr(longitude), FloatToMapStr(latitude), FloatToMapStr(degrees)};
}

QString speedLabel(double kmh) {
    return fixedNumber(kmh, 1) + QStringLiteral(" км/ч");
}

QString distanceLabel(double metres) {
    return fixedNumber(metres, 0) + QStringLiteral(" м");
}

} // namespace carposition
