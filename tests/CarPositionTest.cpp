#include "CarPosition.h"
#include "DateTimeValue.h"
#include "FloatToMapStr.h"
#include "QtPrinters.h"

#include <QLocale>
#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <numbers>

using namespace carposition;

namespace {

constexpr double kBase = 39873.0; // 1 March 2009
double at(int h, int m, double s) { return kBase + (h * 3600 + m * 60 + s) / 86400.0; }

TrackStore track(const std::vector<std::array<double, 5>>& points) {
    std::vector<double> data;
    for (const auto& p : points)
        data.insert(data.end(), p.begin(), p.end());
    TrackStore store;
    store.load(data, int(points.size()));
    return store;
}

TrackStore threePoints() {
    return track({{at(10, 0, 0), 30, 50, 0, 10}, {at(10, 0, 10), 31, 51, 100, 20}, {at(10, 0, 20), 32, 52, 200, 30}});
}

QStringList texts(const TrackStore& t, int c, double time) {
    const Placement p = place(t, c, time);
    return SetCarMarkerTexts(p.x, p.y, p.heading);
}

} // namespace

TEST(FloatToMapStr, WritesFifteenSignificantDigitsWithAPoint) {
    EXPECT_EQ(FloatToMapStr(0), "0");
    EXPECT_EQ(FloatToMapStr(-0.0), "0");
    EXPECT_EQ(FloatToMapStr(37), "37");
    EXPECT_EQ(FloatToMapStr(-12.5), "-12.5");
    EXPECT_EQ(FloatToMapStr(55.75), "55.75");
    EXPECT_EQ(FloatToMapStr(1.0 / 3), "0.333333333333333");
    EXPECT_EQ(FloatToMapStr(123456789.123456789), "123456789.123457");
    EXPECT_EQ(FloatToMapStr(0.1 + 0.2), "0.3");
    EXPECT_EQ(FloatToMapStr(0.00001), "0.00001");
    EXPECT_EQ(FloatToMapStr(0.000012345), "0.000012345");
    EXPECT_EQ(FloatToMapStr(0.0000015), "1.5E-6");
    EXPECT_EQ(FloatToMapStr(-2.5e-300), "-2.5E-300");
    EXPECT_EQ(FloatToMapStr(999999999999999.0), "999999999999999");
    EXPECT_EQ(FloatToMapStr(1e15), "1E15");
    EXPECT_EQ(FloatToMapStr(1.25e20), "1.25E20");
    EXPECT_EQ(FloatToMapStr(9.9999999999999999), "10");
    QLocale::setDefault(QLocale(QLocale::Russian));
    EXPECT_EQ(FloatToMapStr(55.75), "55.75"); // the map always gets a point
    QLocale::setDefault(QLocale::c());
}

TEST(CalcAngle, MeasuresClockwiseFromEastWithNorthUp) {
    const double pi = std::numbers::pi;
    EXPECT_DOUBLE_EQ(CalcAngle(0, 1, 0, 0), 0);             // east
    EXPECT_DOUBLE_EQ(CalcAngle(0, 1, 0, 1), 7 * pi / 4);    // north-east
    EXPECT_DOUBLE_EQ(CalcAngle(0, 0, 0, 1), 3 * pi / 2);    // north
    EXPECT_DOUBLE_EQ(CalcAngle(0, -1, 0, -1), 3 * pi / 4);  // south-west
    EXPECT_DOUBLE_EQ(CalcAngle(0, 0, 0, 0), pi / 2);        // the same point
    EXPECT_DOUBLE_EQ(CalcAngle(0, 0, 1, 0), pi / 2);        // south
    EXPECT_DOUBLE_EQ(CalcAngle(0, -1, 0, 0), pi);           // west
    for (double a = 0; a < 2 * pi; a += 0.1) {
        const double angle = CalcAngle(0, std::cos(a), 0, -std::sin(a));
        EXPECT_GE(angle, 0);
        EXPECT_LT(angle, 2 * pi);
    }
}

TEST(FindPointIndex, TakesThePointBeforeTheFirstAtOrAfterTheTime) {
    const TrackStore t = threePoints();
    EXPECT_EQ(FindPointIndex(t, at(10, 0, 5), 1), 1);
    EXPECT_EQ(FindPointIndex(t, at(10, 0, 10), 1), 1); // a point exactly at the time counts
    EXPECT_EQ(FindPointIndex(t, at(10, 0, 10.4), 1), 2);
    EXPECT_EQ(FindPointIndex(t, at(10, 0, 20), 1), 2);  // the last segment
    EXPECT_EQ(FindPointIndex(t, at(10, 0, 0), 1), 2);   // at or before the start: 2
    EXPECT_EQ(FindPointIndex(t, at(9, 0, 0), 1), 2);
    EXPECT_EQ(FindPointIndex(t, at(11, 0, 0), 1), 1);   // after the end: unchanged
    EXPECT_EQ(FindPointIndex(track({{at(10, 0, 0), 30, 50, 0, 0}}), at(10, 0, 5), 7), 7);
}

TEST(FindPointIndex, AgreesWithAScanFromTheFirstPointAlsoForEqualTimesFromAnyCurrentPoint) {
    std::vector<std::array<double, 5>> points;
    for (int i = 0; i < 200; ++i)
        points.push_back({at(10, 0, (i / 3) * 2), 30 + i * 0.001, 50, double(i), 0}); // runs of equal times
    const TrackStore t = track(points);
    const auto scan = [&](double time, int current) {
        for (int k = 1; k <= t.PointCount; ++k)
            if (datetime::milliseconds(t.time(k)) >= datetime::milliseconds(time))
                return k >= 2 ? k - 1 : 2;
        return current;
    };
    for (const int current : {-3, 1, 5, 99, 100, 200, 250})
        for (double s = -5; s < 140; s += 0.25)
            ASSERT_EQ(FindPointIndex(t, at(10, 0, s), current), scan(at(10, 0, s), current)) << s << " " << current;
}

TEST(Placement, TheThreePointExample) {
    const TrackStore t = threePoints();
    const Placement between = place(t, 1, at(10, 0, 5));
    EXPECT_FALSE(between.onPoint);
    EXPECT_EQ(texts(t, 1, at(10, 0, 5)), QStringList({"30.5", "50.5", "315"}));
    const Placement onPoint = place(t, 2, at(10, 0, 10.4));
    EXPECT_TRUE(onPoint.onPoint);
    EXPECT_EQ(texts(t, 2, at(10, 0, 10.4)), QStringList({"31", "51", "315"}));
}

TEST(Placement, InTheLastSegmentAfterTheEndAndBeforeTheStart) {
    const TrackStore t = threePoints();
    EXPECT_EQ(texts(t, 2, at(10, 0, 15)), QStringList({"31.5", "51.5", "315"}));
    // After the end: extrapolated along the segment the search left in place.
    EXPECT_EQ(texts(t, 2, at(10, 0, 25)).mid(0, 2), QStringList({"32.5", "52.5"}));
    // Before the start: segment 2–3 extrapolated backwards, facing back along it.
    EXPECT_EQ(texts(t, 2, at(10, 0, 0)), QStringList({"30", "50", "135"}));
    EXPECT_EQ(texts(t, 2, at(9, 59, 50)), QStringList({"29", "49", "135"}));
}

TEST(Placement, CompassHeadingsAndEqualPoints) {
    const auto heading = [](double x2, double y2) {
        const TrackStore t = track({{at(10, 0, 0), 30, 50, 0, 0}, {at(10, 0, 10), x2, y2, 0, 0}, {at(10, 0, 20), 40, 40, 0, 0}});
        return texts(t, 1, at(10, 0, 5))[2];
    };
    EXPECT_EQ(heading(30, 51), "270"); // north
    EXPECT_EQ(heading(30, 49), "90");  // south
    EXPECT_EQ(heading(29, 50), "180"); // west
    EXPECT_EQ(heading(31, 50), "0");   // east
    EXPECT_EQ(heading(30, 50), "90");  // two equal points
}

TEST(Placement, OnAPointTheHeadingIsTheMeanAroundTheCircle) {
    // In at 350° (slightly north of east), out at 10° (slightly south of east): east, not west.
    const double d = std::tan(10 * std::numbers::pi / 180);
    const TrackStore t = track({{at(10, 0, 0), 30, 50, 0, 0}, {at(10, 0, 10), 31, 50 + d, 0, 0},
                                {at(10, 0, 20), 32, 50, 0, 0}});
    const QString degrees = texts(t, 2, at(10, 0, 10.2))[2];
    EXPECT_TRUE(degrees == "0" || degrees.startsWith("359.99") || degrees.startsWith("1E-") ||
                degrees.startsWith("0.0000")) << degrees.toStdString();
}

TEST(Placement, MissingNeighboursAndEqualTimesNeverReadOutsideTheTrack) {
    const TrackStore two = track({{at(10, 0, 0), 30, 50, 0, 0}, {at(10, 0, 10), 31, 50, 0, 0}});
    // Before the start of a two-point track the search gives c = 2, the last point.
    EXPECT_EQ(texts(two, 2, at(9, 59, 55)), QStringList({"29.5", "50", "180"}));
    // On point 1 after its time (same second): only the segment after it exists.
    EXPECT_EQ(texts(two, 1, at(10, 0, 0.5)), QStringList({"30", "50", "0"}));
    const TrackStore same = track({{at(10, 0, 0), 30, 50, 0, 0}, {at(10, 0, 5), 31, 50, 0, 0}, {at(10, 0, 5), 32, 50, 0, 0}});
    EXPECT_EQ(texts(same, 2, at(9, 0, 0)), QStringList({"31", "50", "0"})); // no division by zero
    const TrackStore one = track({{at(10, 0, 0), 30, 50, 0, 0}});
    EXPECT_EQ(texts(one, 1, at(10, 0, 5)), QStringList({"30", "50", "90"}));
}

TEST(InfoPanel, SpeedUsesTheLocalesSeparatorAndDistanceWholeMetres) {
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    EXPECT_EQ(speedLabel(12.5), "12,5 км/ч");
    EXPECT_EQ(speedLabel(12.46), "12,5 км/ч");
    EXPECT_EQ(speedLabel(1234.5), "1234,5 км/ч");
    EXPECT_EQ(distanceLabel(12345.6), "12346 м");
    EXPECT_EQ(SetCarMarkerTexts(37.5, 55.75, 0)[1], "55.75");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(speedLabel(0), "0.0 км/ч");
    EXPECT_EQ(distanceLabel(0.4), "0 м");
    QLocale::setDefault(QLocale::c());
}

TEST(InfoPanel, NumbersAreWrittenAsTheLocaleWritesThemTiesAndSignsIncluded) {
    std::mt19937_64 random(3);
    std::vector<double> values = {0.0, -0.0, 0.05, 0.15, 0.25, -0.25, 0.5, 2.5, -2.5, -0.04, -1e-300, 1e14 + 0.5, 3e15};
    for (int i = 0; i < 20000; ++i) {
        const double wide = std::uniform_real_distribution<double>(-2e6, 2e6)(random);
        values.insert(values.end(), {wide, std::round(wide * 4) / 4, std::round(wide * 20) / 20, wide * 1e-7});
    }
    for (const QLocale& locale : {QLocale(QLocale::Russian, QLocale::Russia), QLocale::c(), QLocale(QLocale::Arabic, QLocale::Egypt)}) {
        QLocale::setDefault(locale);
        QLocale plain = locale;
        plain.setNumberOptions(QLocale::OmitGroupSeparator);
        for (const double v : values) {
            ASSERT_EQ(speedLabel(v), plain.toString(v, 'f', 1) + " км/ч") << v << " " << locale.name().toStdString();
            ASSERT_EQ(distanceLabel(v), plain.toString(v, 'f', 0) + " м") << v << " " << locale.name().toStdString();
        }
    }
    QLocale::setDefault(QLocale::c());
}
