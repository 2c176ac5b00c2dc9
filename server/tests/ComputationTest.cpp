#include "Computation.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

using namespace vserver;

namespace {

constexpr double kDay = 39874.0; // 2 March 2009
double at(double seconds) { return kDay + 8.0 / 24 + seconds / 86400; }

// A message sequence written as a script: each call adds messages every `step` seconds.
struct Script {
    std::vector<Message> messages;
    double clock = 0, lon = 37.6, lat = 55.75;

    Script& drive(double seconds, double kmh, double step = 10) {
        for (double t = 0; t < seconds; t += step) {
            add(kmh);
            lon += kmh / 3.6 * step / 62700.0; // metres to degrees of longitude near 55.75°N
            clock += step;
        }
        return *this;
    }
    Script& stand(double seconds, double step = 10) {
        for (double t = 0; t < seconds; t += step) {
            add(0);
            clock += step;
        }
        return *this;
    }
    Script& silence(double seconds) {
        clock += seconds;
        return *this;
    }
    Message& add(double kmh) {
        Message m;
        m.time = at(clock);
        m.lon = lon;
        m.lat = lat;
        m.speed = kmh;
        m.fuel1 = fuel1;
        m.fuel2 = fuel2;
        m.sensors = sensors;
        m.power = power;
        m.signal = signal;
        messages.push_back(m);
        return messages.back();
    }
    double fuel1 = 100, fuel2 = 50;
    int sensors = 0;
    bool power = true, signal = true;
};

const Trip& onlyTrip(const std::vector<Trip>& trips) {
    EXPECT_EQ(trips.size(), 1u);
    return trips.front();
}

} // namespace

TEST(Trips, LongStandstillsAndSilentGapsSplitTripsShortStopsDoNot) {
    Script s;
    s.stand(900).drive(600, 40).stand(180).drive(300, 40); // a 3-minute stop inside trip 1
    s.stand(700);                                          // parking: ends trip 1
    s.drive(400, 50);
    s.silence(3600).stand(30); // a silent hour where the vehicle did not move: parking
    s.drive(200, 30).stand(60);
    const auto trips = computeTrips(s.messages, {});
    ASSERT_EQ(trips.size(), 3u);
    // Trip 1 leaves at the last message of the first parking and arrives at the first of the next.
    EXPECT_DOUBLE_EQ(trips[0].begin, at(890));
    EXPECT_DOUBLE_EQ(trips[0].end, at(900 + 600 + 180 + 300));
    ASSERT_EQ(trips[0].entries.at("parks").size(), 1u);
    const Entry& stop = trips[0].entries.at("parks")[0];
    EXPECT_DOUBLE_EQ(stop.begin, at(1500));
    EXPECT_DOUBLE_EQ(stop.end, at(1680));
    EXPECT_EQ(durationText(stop.end - stop.begin), "00:03:00");
}

TEST(Trips, AnHourOfSilenceEndsATripWhereverTheVehicleWent) {
    Script s;
    s.drive(300, 50);
    s.silence(1800);
    s.lon += 0.1; // thirty minutes without a word, seven kilometres further: a gap in one trip
    s.drive(300, 50);
    s.silence(4000);
    s.lon += 0.5; // over an hour: another ride
    s.drive(300, 50);
    const auto trips = computeTrips(s.messages, {});
    ASSERT_EQ(trips.size(), 2u);
    EXPECT_EQ(trips[0].entries.at("blinds").size(), 1u);
    EXPECT_TRUE(trips[1].entries.at("blinds").empty());
}

TEST(Trips, PointsAscendWithMileageFromThePeriodStartAndDerivedSpeeds) {
    Script s;
    s.drive(300, 36).stand(700).drive(300, 72);
    for (Message& m : s.messages)
        m.speed = kNoValue; // the device sent no speed
    const auto trips = computeTrips(s.messages, {});
    ASSERT_EQ(trips.size(), 2u);
    const Trip& second = trips[1];
    for (size_t i = 1; i < second.points.size(); ++i) {
        EXPECT_GT(second.points[i].time, second.points[i - 1].time);
        EXPECT_GE(second.points[i].mileage, second.points[i - 1].mileage);
    }
    // The first trip drove 3 km before the second began: mileage counts from the period start.
    EXPECT_NEAR(second.points.front().mileage, 3000, 60);
    EXPECT_NEAR(second.points[5].speed, 72, 1.5);
    EXPECT_EQ(trackLine({{0, 37.5, 55.25, 0, 0}, {0, 1e-7, -0.1, 0, 0}}), "37.5 55.25,1e-07 -0.1");
}

TEST(Trips, StandingStillAllPeriodGivesNoTrip) {
    Script s;
    s.stand(7200);
    EXPECT_TRUE(computeTrips(s.messages, {}).empty());
    EXPECT_TRUE(computeTrips({}, {}).empty());
}

TEST(Entries, SignalGapsPowerLossAndOverSpeeding) {
    Script s;
    s.drive(120, 50);
    s.signal = false;
    s.drive(100, 50); // no fix for 100 s
    s.signal = true;
    s.drive(60, 50);
    s.power = false;
    s.drive(40, 50);
    s.power = true;
    s.drive(30, 95).drive(20, 120).drive(10, 100).drive(60, 60);
    const auto trips = computeTrips(s.messages, {});
    const Trip& trip = onlyTrip(trips);
    ASSERT_EQ(trip.entries.at("blinds").size(), 1u);
    EXPECT_DOUBLE_EQ(trip.entries.at("blinds")[0].begin, at(110));
    EXPECT_DOUBLE_EQ(trip.entries.at("blinds")[0].end, at(220));
    ASSERT_EQ(trip.entries.at("power_off").size(), 1u);
    EXPECT_DOUBLE_EQ(trip.entries.at("power_off")[0].begin, at(280));
    EXPECT_DOUBLE_EQ(trip.entries.at("power_off")[0].end, at(320));
    ASSERT_EQ(trip.entries.at("over_speed").size(), 1u);
    const Entry& fast = trip.entries.at("over_speed")[0];
    EXPECT_DOUBLE_EQ(fast.speed, 120);
    EXPECT_DOUBLE_EQ(fast.begin, at(320));
    EXPECT_DOUBLE_EQ(fast.end, at(380));
    EXPECT_NEAR(fast.lon, s.messages[32].lon, 1e-9); // where it began
}

TEST(Entries, RefuellingAndDrainingAreFastLevelChangesNotConsumption) {
    Script s;
    s.drive(200, 50);
    for (int i = 0; i < 5; ++i) { // slow consumption: no event
        s.fuel1 -= 0.1;
        s.drive(10, 50);
    }
    s.stand(30);
    for (int i = 0; i < 8; ++i) { // +40 l in 80 s
        s.fuel1 += 5;
        s.stand(10);
    }
    for (int i = 0; i < 3; ++i) { // -3 l: below the reported least
        s.fuel2 -= 1;
        s.stand(10);
    }
    for (int i = 0; i < 6; ++i) { // -12 l from tank 2
        s.fuel2 -= 2;
        s.stand(10);
    }
    s.drive(100, 50);
    const auto trips = computeTrips(s.messages, {});
    const Trip& trip = onlyTrip(trips);
    ASSERT_EQ(trip.entries.at("tank-num1").size(), 1u);
    const Entry& refuel = trip.entries.at("tank-num1")[0];
    EXPECT_NEAR(refuel.tank1End - refuel.tank1Start, 40, 1e-9);
    EXPECT_EQ(durationText(refuel.end - refuel.begin), "00:01:20");
    ASSERT_EQ(trip.entries.at("tank-num2").size(), 1u);
    const Entry& drain = trip.entries.at("tank-num2")[0];
    EXPECT_NEAR(drain.tank2End - drain.tank2Start, -15, 1e-9); // the 3 l step run joins the 12 l one
}

TEST(Entries, SensorsAndCheckpointVisits) {
    Script s;
    s.drive(60, 40);
    s.sensors = 0b100001; // sensors 1 and 6
    s.drive(50, 40);
    s.sensors = 0b000001;
    s.drive(30, 40);
    s.sensors = 0;
    s.drive(300, 40);
    const Checkpoint gate{"Ворота", "въезд", 55.75, s.messages[20].lon, 60};
    const auto trips = computeTrips(s.messages, {gate});
    const Trip& trip = onlyTrip(trips);
    ASSERT_EQ(trip.entries.at("sensor_on-num1").size(), 1u);
    const Entry& door = trip.entries.at("sensor_on-num1")[0];
    EXPECT_EQ(durationText(door.end - door.begin), "00:01:20");
    ASSERT_EQ(trip.entries.at("sensor_on-num6").size(), 1u);
    EXPECT_TRUE(trip.entries.at("sensor_on-num2").empty());
    ASSERT_EQ(trip.entries.at("checkpoints-stages").size(), 1u);
    const Entry& visit = trip.entries.at("checkpoints-stages")[0];
    // 60 m on each side of the gate at 40 km/h: about 11 s inside.
    EXPECT_NEAR((visit.end - visit.begin) * 86400, 20, 10.001);
}

TEST(Durations, UnderADayAndFromOneDayOn) {
    EXPECT_EQ(durationText(5 / 86400.0), "00:00:05");
    EXPECT_EQ(durationText(1 + 5 / 86400.0), "1 00:00:05");
    EXPECT_EQ(durationText(23 / 24.0 + 3599 / 86400.0), "23:59:59");
    EXPECT_EQ(durationText(12.5), "12 12:00:00");
}

TEST(Trips, PositionJumpsStayOnTheTrailButOutOfSpeedsAndMileage) {
    Script s;
    s.drive(300, 36, 1);
    s.messages[150].lon += 470 / 62700.0; // one fix 470 m ahead, back on the road a second later
    s.drive(300, 36, 1);
    for (Message& m : s.messages)
        m.speed = kNoValue; // speeds derived from the positions, as from a GPX file
    Script far = s;
    for (size_t i = 0; i < 5; ++i)
        far.messages[i].lat += 9; // the first fixes 1000 km away, from a receiver still settling
    for (const Script* script : {&s, &far}) {
        const std::vector<Trip> trips = computeTrips(script->messages, {});
        const Trip& trip = onlyTrip(trips);
        EXPECT_EQ(trip.points.size(), script->messages.size()); // every fix is drawn
        double top = 0;
        for (const TrackPoint& p : trip.points)
            top = std::max(top, p.speed);
        EXPECT_NEAR(top, 36, 1);
        EXPECT_NEAR(trip.points.back().mileage - trip.points[10].mileage, 5990 - 100, 60);
        EXPECT_TRUE(trip.entries.at(QStringLiteral("over_speed")).empty());
    }
}
