#include "EntryQuery.h"
#include "DateTimeValue.h"
#include "FormFixture.h"
#include "InfoPointsController.h"
#include "PlaybackController.h"
#include "VantrelError.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

ScriptedAutomation::Entry entry(double beginSeconds, double seconds, const QString& duration = QString()) {
    ScriptedAutomation::Entry e;
    const double begin = march1(10, 0, 0) + beginSeconds / 86400;
    e.begin = datetime::formatText(begin);
    e.end = datetime::formatText(begin + seconds / 86400);
    e.duration = duration.isEmpty() ? QTime(0, 0).addSecs(int(seconds)).toString("HH:mm:ss") : duration;
    e.coordA = 30 + beginSeconds / 3600;
    e.coordB = 50;
    return e;
}

struct InfoPoints : ::testing::Test {
    void SetUp() override {
        fixture.addGroups();
        fixture.server.computeStatus = 0;
        ScriptedAutomation::Trip first = FormFixture::trip(
            {{march1(10, 0, 0), 30, 50, 0, 0}, {march1(10, 30, 0), 30.5, 50, 500, 50}, {march1(11, 0, 0), 31, 50, 1000, 20}});
        // Stops of 60, 400, 100, 500, 50, 20 and 600 seconds.
        const double lengths[] = {60, 400, 100, 500, 50, 20, 600};
        for (int i = 0; i < 7; ++i)
            first.entries["parks"].push_back(entry(i * 500 + 100, lengths[i]));
        ScriptedAutomation::Entry fast = entry(200, 30);
        fast.speed = 112.5;
        first.entries["over_speed"] = {fast};
        ScriptedAutomation::Entry refuel = entry(300, 80);
        refuel.tank1Start = 40;
        refuel.tank1End = 85.5;
        first.entries["tank-num1"] = {refuel};
        first.entries["blinds"] = {entry(-600, 700), entry(1000, 90, "1 00:00:05")};
        first.entries["sensor_on-num3"] = {entry(50, 10)};
        ScriptedAutomation::Trip second = FormFixture::trip(
            {{march1(12, 0, 0), 31, 50, 1000, 0}, {march1(12, 10, 0), 31.5, 50, 1500, 40}});
        second.entries["parks"] = {entry(7300, 200)};
        fixture.server.trips = {first, second};
    }
    TForm1& start() { return fixture.start(); }
    void chooseKind(TForm1& f, int kind) {
        const int item = f.ui().cmbInfoPoints->findData(kind);
        ASSERT_GE(item, 0);
        f.ui().cmbInfoPoints->setCurrentIndex(item);
        emit f.ui().cmbInfoPoints->activated(item);
    }
    void clickRow(TForm1& f, int row) {
        QTreeWidgetItem* item = f.ui().ListView1->topLevelItem(row);
        ASSERT_NE(item, nullptr);
        f.ui().ListView1->setCurrentItem(item);
        emit f.ui().ListView1->itemClicked(item, 0);
    }
    QStringList column(TForm1& f, int c) {
        QStringList values;
        for (int r = 0; r < f.ui().ListView1->topLevelItemCount(); ++r)
            values << f.ui().ListView1->topLevelItem(r)->text(c);
        return values;
    }
    FormFixture fixture;
};

} // namespace

TEST(EntryQuery, SplitsAtTheFirstDash) {
    EXPECT_EQ(entryquery::split("tank-num1").type, "tank");
    EXPECT_EQ(*entryquery::split("sensor_on-num3").kind, "num3");
    EXPECT_EQ(*entryquery::split("a-b-c").kind, "b-c");
    EXPECT_FALSE(entryquery::split("parks").kind.has_value());
}

TEST(EntryQuery, DurationsCountDaysBeforeTheTime) {
    EXPECT_DOUBLE_EQ(entryquery::ParseEntryDuration("1 00:00:05") * 86400, 86405);
    EXPECT_NEAR(entryquery::ParseEntryDuration("00:00:05") * 86400, 5, 1e-9);
    EXPECT_NEAR(entryquery::ParseEntryDuration("12 01:00:00") * 86400, 12 * 86400 + 3600, 1e-6);
    EXPECT_NEAR(entryquery::ParseEntryDuration("X00:01:00") * 86400, 60, 1e-9); // nine characters
    for (const char* bad : {"", "abc", "00:61:00", "x 00:00:05", "25:00:00"})
        EXPECT_THROW(entryquery::ParseEntryDuration(bad), VantrelError) << bad;
}

TEST_F(InfoPoints, TheTripListNumbersTripsAndLoadsTheFirst) {
    TForm1& f = start();
    EXPECT_EQ(column(f, 0), QStringList({"1", "2"}));
    EXPECT_EQ(f.ui().ListView1->topLevelItem(0)->text(1), "01.03.2009 10:00:00");
    EXPECT_EQ(f.ui().ListView1->headerItem()->text(3), "Прод-ть");
    EXPECT_EQ(f.ui().ListView1->currentItem(), f.ui().ListView1->topLevelItem(0));
    EXPECT_EQ(f.ui().lblTripNum->text(), "1");
    EXPECT_EQ(f.session().track.PointCount, 3);
}

TEST_F(InfoPoints, TheMinimumDurationFiltersAndRowsAreNumberedInListOrder) {
    TForm1& f = start();
    f.ui().txtCont->setText("0");
    chooseKind(f, 2);
    EXPECT_EQ(column(f, 0), QStringList({"1", "2", "3", "4", "5", "6", "7"}));
    f.ui().txtCont->setText("400"); // an entry lasting exactly the minimum is listed
    chooseKind(f, 2);
    EXPECT_EQ(column(f, 0), QStringList({"1", "2", "3"}));
    EXPECT_EQ(column(f, 3), QStringList({"00:06:40", "00:08:20", "00:10:00"}));
    EXPECT_EQ(f.ui().ListView1->headerItem()->text(3), "Прод-ть");
}

TEST_F(InfoPoints, AFilteredRowJumpsPlaybackToTheEntryItShows) {
    TForm1& f = start();
    f.ui().txtCont->setText("300");
    chooseKind(f, 2);
    ASSERT_EQ(f.ui().ListView1->topLevelItemCount(), 3);
    fixture.server.calls.clear();
    clickRow(f, 2); // row 3 shows server entry 7
    EXPECT_TRUE(fixture.server.calls.contains("SetTripEntryIndex(7)"));
    EXPECT_EQ(f.ui().TrackBar->value(), 6 * 500 + 100);
    EXPECT_DOUBLE_EQ(f.session().clock.PlayBase, march1(10, 0, 0) + 3100 / 86400.0);
    EXPECT_FALSE(f.ui().lblDate->text().isEmpty());
}

TEST_F(InfoPoints, AnEntryBeforeTheTrackClampsTheTrackBarToItsMinimum) {
    TForm1& f = start();
    chooseKind(f, 3);
    ASSERT_EQ(f.ui().ListView1->topLevelItemCount(), 2);
    EXPECT_EQ(column(f, 3), QStringList({"00:11:40", "1 00:00:05"})); // 86405 s pass the filter
    clickRow(f, 0);
    EXPECT_EQ(f.ui().TrackBar->value(), 0);
}

TEST_F(InfoPoints, ValueColumnsShowSpeedAndVolumeWithTheLocalesSeparator) {
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    TForm1& f = start();
    f.ui().txtCont->setText("0");
    chooseKind(f, 5);
    EXPECT_EQ(f.ui().ListView1->headerItem()->text(3), "Скорость");
    EXPECT_EQ(column(f, 3), QStringList({"112,5"}));
    chooseKind(f, 6);
    EXPECT_EQ(f.ui().ListView1->headerItem()->text(3), "Объем, л");
    EXPECT_EQ(column(f, 3), QStringList({"45,5"}));
    QLocale::setDefault(QLocale::c());
}

TEST_F(InfoPoints, AQueryWithoutADashLeavesTheKindAsTheLastQuerySetIt) {
    TForm1& f = start();
    f.ui().txtCont->setText("0");
    chooseKind(f, 10); // sensor_on-num3
    EXPECT_EQ(fixture.server.entryKind, "num3");
    fixture.server.calls.clear();
    chooseKind(f, 4); // power_off
    EXPECT_EQ(fixture.server.count("SetTripEntriesListKindName"), 0);
    EXPECT_EQ(fixture.server.entryType, "power_off");
    EXPECT_EQ(fixture.server.entryKind, "num3");
}

TEST_F(InfoPoints, AnEmptyMinimumFailsAtTheFirstEntryUnderTheNewCaption) {
    TForm1& f = start();
    for (const char* text : {"", "abc"}) {
        fixture.sink.messages.clear();
        f.ui().txtCont->setText(text);
        chooseKind(f, 5);
        EXPECT_EQ(f.ui().ListView1->topLevelItemCount(), 0);
        EXPECT_EQ(f.ui().ListView1->headerItem()->text(3), "Скорость");
        ASSERT_EQ(fixture.sink.messages.size(), 1u);
        EXPECT_EQ(fixture.sink.messages[0].text, QString("'") + text + "' не является целым числом");
    }
}

TEST_F(InfoPoints, ATextThatDoesNotConvertEndsTheListAndKeepsTheRowsBefore) {
    fixture.server.trips[0].entries["parks"][3].duration = "четыре минуты";
    TForm1& f = start();
    f.ui().txtCont->setText("0");
    chooseKind(f, 2);
    EXPECT_EQ(f.ui().ListView1->topLevelItemCount(), 3);
    ASSERT_EQ(fixture.sink.messages.size(), 1u);
    EXPECT_EQ(fixture.sink.messages[0].text, "'четыре минуты' не является временем");
}

TEST_F(InfoPoints, ATripClickLoadsTheStopListWhichOutlivesANewComputation) {
    TForm1& f = start();
    EXPECT_TRUE(f.session().StopList.empty()); // the first trip was loaded, not clicked
    clickRow(f, 1);
    EXPECT_EQ(f.session().selection.CurrentTrip, 2);
    EXPECT_EQ(f.ui().lblTripNum->text(), "2");
    ASSERT_EQ(f.session().StopList.size(), 1u);
    EXPECT_DOUBLE_EQ(f.session().StopList[0].BeginTime, march1(10, 0, 0) + 7300 / 86400.0);
    EXPECT_EQ(fixture.server.entryType, "parks");

    f.session().selection.RequestPending = true;
    fixture.server.raise(AutomationEvent::OnEndComputing);
    EXPECT_EQ(f.session().selection.CurrentTrip, 1);
    EXPECT_EQ(f.session().StopList.size(), 1u); // still the clicked trip's stops
    clickRow(f, 0);
    EXPECT_EQ(f.session().StopList.size(), 7u);
}

TEST_F(InfoPoints, WithFewerThanTwoDefinitionsATripClickEmptiesTheStopList) {
    TForm1& f = start();
    clickRow(f, 0);
    ASSERT_EQ(f.session().StopList.size(), 7u);
    f.session().definitions.resize(1);
    clickRow(f, 1);
    EXPECT_TRUE(f.session().StopList.empty());
    EXPECT_TRUE(fixture.sink.messages.empty());
}

TEST_F(InfoPoints, AFailedJumpRebuildsTheTripContextOnceAndTriesAgain) {
    TForm1& f = start();
    f.ui().txtCont->setText("0");
    chooseKind(f, 2);
    fixture.server.calls.clear();
    int failures = 1;
    fixture.server.failures["TripEntryBegin"] = "запись потеряна";
    // The first TripEntryBegin fails; the recovery reloads the trip, after which it works.
    f.ui().ListView1->setCurrentItem(f.ui().ListView1->topLevelItem(1));
    f.guarded([&] {
        try {
            f.infoPoints().ListView1Click();
        } catch (...) {
            --failures;
            throw;
        }
    });
    EXPECT_EQ(failures, 0); // the recovery also failed: the error reached the reporter
    ASSERT_EQ(fixture.sink.messages.size(), 1u);
    EXPECT_EQ(fixture.sink.messages[0].text, "запись потеряна");
    EXPECT_EQ(fixture.server.count("TrackPointCount"), 1); // the track was reloaded once

    // A failure that the rebuilt context mends: the jump lands and nothing is shown.
    fixture.sink.messages.clear();
    fixture.server.failures.clear();
    fixture.server.failOnce["TripEntryBegin"] = "запись потеряна";
    fixture.server.calls.clear();
    clickRow(f, 1);
    EXPECT_TRUE(fixture.sink.messages.empty());
    EXPECT_EQ(fixture.server.count("TrackPointCount"), 1);
    EXPECT_EQ(f.ui().TrackBar->value(), 1 * 500 + 100);
}

TEST_F(InfoPoints, PositionsAreLoadedForVisibleKindsFromTheSecondOn) {
    TForm1& f = start();
    f.ui().ToolButton2->setChecked(true);
    f.session().loadInfoPointPositions();
    ASSERT_EQ(f.session().infoPointPositions.positions.size(), 13u);
    EXPECT_EQ(f.session().infoPointPositions.counts[0], 0); // kind 1 is never loaded
    EXPECT_EQ(f.session().infoPointPositions.counts[1], 7);
    EXPECT_DOUBLE_EQ(f.session().infoPointPositions.positions[1][0][0].x, 30 + 100 / 3600.0);
    EXPECT_EQ(f.session().infoPointPositions.counts[9], 1); // sensor 3
    f.ui().ToolButton2->setChecked(false);
    fixture.server.calls.clear();
    f.session().loadInfoPointPositions();
    EXPECT_TRUE(fixture.server.calls.isEmpty());
}

TEST_F(InfoPoints, AnIconClickJumpsWhereItsRowDoesAndHoveringTellsTheEntry) {
    TForm1& f = start();
    f.ui().txtCont->setText("300");
    chooseKind(f, 2);
    clickRow(f, 2); // stop entry 7
    const int byRow = f.ui().TrackBar->value();
    f.ui().TrackBar->setValue(0);

    f.ui().ToolButton2->setChecked(true);
    f.infoPoints().loadTripEvents();
    RecordingMap::Table& icons = fixture.map.table(6); // made on first use, after the five
    // Seven stops, one over-speed, one refuelling, two gaps, one sensor: every entry placed.
    ASSERT_EQ(icons.records.size(), 12u);
    int stop7 = -1;
    for (int r = 0; r < int(icons.records.size()); ++r)
        if (icons.records[size_t(r)][3].contains("Начало: " + entry(6 * 500 + 100, 600).begin))
            stop7 = r;
    ASSERT_GE(stop7, 0);
    EXPECT_EQ(icons.records[size_t(stop7)][2], "p 'IcP' 24");
    EXPECT_TRUE(icons.records[size_t(stop7)][3].startsWith("Список остановок\n"));
    f.infoPoints().clickIcon(stop7);
    EXPECT_EQ(f.ui().TrackBar->value(), byRow);

    bool speedShown = false; // the over-speed's highest speed is in its text
    for (const QStringList& record : icons.records)
        speedShown = speedShown || record[3].contains(entryquery::listNumber(112.5) + " км/ч");
    EXPECT_TRUE(speedShown);

    f.ui().ToolButton2->setChecked(false); // released: the icons go
    f.infoPoints().loadTripEvents();
    EXPECT_TRUE(icons.records.empty());
}
