#include "SpeedProfile.h"

#include <gtest/gtest.h>

TEST(SpeedProfile, EachColumnKeepsItsLowestAndHighestSpeed) {
    speedprofile::TimeAxis axis{0, 1, 10, 20}; // ten pixels for one day
    std::vector<double> times, speeds;
    for (int i = 0; i <= 1000; ++i) {
        times.push_back(i / 1000.0);
        speeds.push_back(i == 500 ? 250 : i % 7);
    }
    const auto columns = speedprofile::columns(times, speeds, axis);
    ASSERT_EQ(columns.size(), 11u);
    EXPECT_EQ(columns[5].high, 250); // a one-point peak survives
    EXPECT_EQ(columns[0].low, 0);
    EXPECT_FALSE(columns[10].empty); // the last point, on the right edge
    EXPECT_DOUBLE_EQ(axis.timeAt(15), 0.5);
    EXPECT_DOUBLE_EQ(axis.timeAt(-5), 0); // clamped to the trip
    EXPECT_EQ(speedprofile::scaleTop(87), 100);
    EXPECT_EQ(speedprofile::scaleTop(0), 10);
    // A one-point trip and an empty one: columns without points, no division by zero.
    EXPECT_TRUE(speedprofile::columns({5}, {40}, {5, 5, 0, 10})[0].high == 40);
    EXPECT_TRUE(speedprofile::columns({}, {}, axis)[3].empty);
}
