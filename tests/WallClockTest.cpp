// Date-time values are wall-clock values: what the pickers show is what goes on the wire and
// into the settings file, whatever the zone's daylight-saving rules did that night.
#include "DateTimeValue.h"
#include "QtPrinters.h"
#include "ScopedTimeZone.h"

#include <QLocale>
#include <gtest/gtest.h>

namespace {

// Moscow in 2009: the clocks went from 02:00 to 03:00 on 29 March and from 03:00 back to
// 02:00 on 25 October, so 02:30 did not exist on the first night and happened twice on the
// second.
struct WallClock : ::testing::Test {
    ScopedTimeZone moscow{"Europe/Moscow"};
};

} // namespace

TEST_F(WallClock, AnHourThatNeverWasOrWasTwiceKeepsItsText) {
    for (const QString text : {"29.03.2009 02:30:00", "25.10.2009 02:30:00", "29.03.2009 01:59:59",
                               "29.03.2009 03:00:00", "25.10.2009 03:00:00"}) {
        const double value = datetime::parseText(text);
        EXPECT_EQ(datetime::formatText(value), text);
        EXPECT_EQ(datetime::toQDateTime(value).toString("dd.MM.yyyy HH:mm:ss"), text);
    }
    EXPECT_EQ(datetime::formatText(datetime::fromDateAndTime(QDate(2009, 3, 29), QTime(2, 30))),
              "29.03.2009 02:30:00");
    // Across the missing hour an hour of wall clock is an hour of value, as the pickers count.
    EXPECT_EQ(datetime::secondsBetween(datetime::parseText("29.03.2009 01:30:00"),
                                       datetime::parseText("29.03.2009 03:30:00")),
              7200);
}

TEST_F(WallClock, TheDateLabelShowsTheMissingHour) {
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    EXPECT_EQ(datetime::formatLabel(datetime::parseText("29.03.2009 02:30:05")), "29.03.2009 02:30:05");
    QLocale::setDefault(QLocale::c()); // no language: the Russian panel still writes it the Russian way
    EXPECT_EQ(datetime::formatLabel(datetime::parseText("29.03.2009 02:30:05")), "29.03.2009 02:30:05");
}
