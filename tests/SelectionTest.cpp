#include "FormFixture.h"
#include "GlyphButton.h"
#include "PlaybackController.h"
#include "PlaybackTimer.h"
#include "SelectionController.h"
#include "VantrelError.h"

#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QSlider>
#include <QTimeEdit>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

// A started window on a server with eight groups and no settings restored selection.
struct Selection : ::testing::Test {
    void SetUp() override { fixture.addGroups(); }
    TForm1& start() {
        TForm1& f = fixture.start();
        fixture.server.calls.clear();
        return f;
    }
    void choose(QComboBox* combo, int index) {
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    FormFixture fixture;
};

} // namespace

TEST_F(Selection, AServerWithoutGroupsLeavesEveryBoxEmpty) {
    fixture.server.groups.clear();
    TForm1& f = start();
    EXPECT_EQ(f.ui().cmbGroupName->count(), 0);
    EXPECT_EQ(f.ui().cmbGroupName->currentIndex(), -1);
    EXPECT_EQ(f.ui().cmbCarDevice->count(), 0);
    EXPECT_TRUE(f.session().selection.GroupIds.isEmpty());
    EXPECT_EQ(fixture.server.count("ComputeTrack"), 0);
}

TEST_F(Selection, GroupsFillInServerOrderAndAGroupWithoutCarsSendsNothing) {
    fixture.server.groups[2].cars.clear();
    TForm1& f = start();
    ASSERT_EQ(f.ui().cmbGroupName->count(), 8);
    EXPECT_EQ(f.ui().cmbGroupName->itemText(0), "Группа 1");
    EXPECT_EQ(f.session().selection.GroupIds.value(7), "g8");
    choose(f.ui().cmbGroupName, 2);
    EXPECT_EQ(f.ui().cmbCarName->count(), 0);
    EXPECT_EQ(f.ui().cmbCarDevice->count(), 0);
    EXPECT_EQ(fixture.server.count("SelectGroup(g3)"), 2); // RefreshGroup, then the list
    EXPECT_EQ(fixture.server.count("ComputeTrack"), 0);
}

TEST_F(Selection, ChoosingAGroupFillsTheCarBoxesWithoutChoosingACar) {
    TForm1& f = start();
    choose(f.ui().cmbGroupName, 4);
    ASSERT_EQ(f.ui().cmbCarName->count(), 2);
    EXPECT_EQ(f.ui().cmbCarName->itemText(1), "Машина 5-2");
    EXPECT_EQ(f.ui().cmbCarNum->itemText(0), "А50ВС");
    EXPECT_EQ(f.ui().cmbCarDevice->itemText(1), "501");
    for (QComboBox* car : {f.ui().cmbCarName, f.ui().cmbCarNum, f.ui().cmbCarDevice})
        EXPECT_EQ(car->currentIndex(), -1);
    EXPECT_EQ(fixture.server.count("ComputeTrack"), 0);
}

TEST_F(Selection, AChoiceInOneCarBoxMovesAllThreeAndSendsExactlyOneRequest) {
    TForm1& f = start();
    f.session().selection.RequestPending = false;
    choose(f.ui().cmbGroupName, 3);
    f.ui().DateBegin->setDate(QDate(2009, 3, 1));
    f.ui().TimeBegin->setTime(QTime(8, 30));
    f.ui().DateEnd->setDate(QDate(2009, 3, 2));
    f.ui().TimeEnd->setTime(QTime(18, 5));
    fixture.server.calls.clear();
    choose(f.ui().cmbCarNum, 1);
    EXPECT_EQ(f.ui().cmbCarName->currentIndex(), 1);
    EXPECT_EQ(f.ui().cmbCarDevice->currentIndex(), 1);
    EXPECT_EQ(fixture.server.calls.filter("ComputeTrack"),
              QStringList{"ComputeTrack(g4,401,01.03.2009 08:30:00,02.03.2009 18:05:00,GSM,1)"});
    EXPECT_TRUE(f.session().selection.RequestPending);
    EXPECT_EQ(f.ui().cmbInfoPoints->currentIndex(), -1);
    EXPECT_EQ(f.ui().ListView1->topLevelItemCount(), 0);

    choose(f.ui().cmbCarName, 0); // the first request is still unanswered
    EXPECT_EQ(f.ui().cmbCarDevice->currentIndex(), 0);
    EXPECT_EQ(fixture.server.count("ComputeTrack"), 1);
}

TEST_F(Selection, ARequestThatFailsBeforeTheServerLetsTheNextChoiceAsk) {
    TForm1& f = start();
    f.session().selection.RequestPending = false;
    choose(f.ui().cmbGroupName, 1);
    fixture.server.failures["ComputeTrack"] = "Сервер отказал";
    choose(f.ui().cmbCarDevice, 0);
    ASSERT_FALSE(fixture.sink.messages.empty());
    EXPECT_EQ(fixture.sink.messages.back().text, "Сервер отказал");
    EXPECT_FALSE(f.session().selection.RequestPending);
    fixture.server.failures.clear();
    choose(f.ui().cmbCarDevice, 1);
    EXPECT_EQ(fixture.server.count("ComputeTrack"), 2);

    // No car chosen: the device text does not convert, nothing is sent.
    f.session().selection.RequestPending = false;
    f.ui().cmbCarDevice->setCurrentIndex(-1);
    EXPECT_THROW(f.selection().RequestTrack(), VantrelError);
    EXPECT_FALSE(f.session().selection.RequestPending);
    EXPECT_EQ(fixture.server.count("ComputeTrack"), 2);
}

TEST_F(Selection, TheAnswerToTheOwnRequestLeavesTheSelectionAndRebuildsTheTripList) {
    fixture.server.trips.push_back(FormFixture::trip({{march1(10, 0, 0), 30, 50, 0, 0}, {march1(10, 1, 0), 31, 51, 10, 5}}));
    TForm1& f = start();
    f.session().selection.RequestPending = false;
    choose(f.ui().cmbGroupName, 1);
    choose(f.ui().cmbCarDevice, 1);
    f.session().selection.CurrentTrip = 4;
    fixture.server.computeStatus = 0;
    fixture.server.calls.clear();
    fixture.server.raise(AutomationEvent::OnEndComputing);
    EXPECT_EQ(f.ui().cmbGroupName->currentIndex(), 1);
    EXPECT_EQ(f.ui().cmbCarDevice->currentIndex(), 1);
    EXPECT_FALSE(f.session().selection.RequestPending);
    EXPECT_EQ(f.session().selection.CurrentTrip, 1);
    EXPECT_EQ(fixture.server.count("SelectGroup"), 0);
    EXPECT_EQ(f.ui().ListView1->topLevelItemCount(), 1);
    EXPECT_EQ(f.session().track.PointCount, 2);
}

TEST_F(Selection, AComputationStartedElsewhereMovesTheSelectionWithoutANewRequest) {
    fixture.server.trips.push_back(FormFixture::trip({{march1(10, 0, 0), 30, 50, 0, 0}, {march1(10, 1, 0), 31, 51, 10, 5}}));
    TForm1& f = start();
    f.session().selection.RequestPending = false;
    fixture.server.computeStatus = 0;
    fixture.server.currentGroupId = "g6";
    fixture.server.currentCarId = 61; // the second car of group 6, device 601
    fixture.server.raise(AutomationEvent::OnEndComputing);
    EXPECT_EQ(f.ui().cmbGroupName->currentIndex(), 5);
    EXPECT_EQ(f.ui().cmbCarName->count(), 2);
    EXPECT_EQ(f.ui().cmbCarDevice->currentIndex(), 1);
    EXPECT_EQ(f.ui().cmbCarNum->currentIndex(), 1);
    EXPECT_EQ(fixture.server.count("ComputeTrack"), 0);
    EXPECT_FALSE(f.session().selection.RequestPending);
    EXPECT_EQ(f.ui().ListView1->topLevelItemCount(), 1);
    EXPECT_TRUE(fixture.sink.messages.empty());
}

TEST_F(Selection, OnlineDataStopsPlaybackOnlyWhileNoCarIsChosen) {
    fixture.server.computeStatus = 0;
    fixture.server.trips.push_back(FormFixture::trip({{march1(10, 0, 0), 30, 50, 0, 0}, {march1(10, 1, 0), 31, 51, 10, 5}}));
    TForm1& f = start();
    f.playback().btnPlayClick();
    ASSERT_TRUE(f.ui().Timer1->enabled());
    ASSERT_GE(f.ui().cmbCarDevice->currentIndex(), 0); // restored by the settings
    fixture.server.raise(AutomationEvent::OnReceiveOnlineData);
    EXPECT_TRUE(f.ui().Timer1->enabled());
    f.ui().cmbCarDevice->setCurrentIndex(-1);
    fixture.server.raise(AutomationEvent::OnReceiveOnlineData);
    EXPECT_FALSE(f.ui().Timer1->enabled());
    EXPECT_EQ(f.ui().btnPlay->glyph(), "4");
}

TEST_F(Selection, NonsenseCountsAreReportedReadably) {
    TForm1& f = start();
    f.session().selection.GroupIds.clear();
    f.ui().cmbGroupName->clear();
    ScriptedAutomation::Group broken{"gx", "Сломанная", {}};
    fixture.server.groups = {broken};
    fixture.server.failures.clear();
    f.selection().LoadGroups();
    EXPECT_EQ(f.ui().cmbGroupName->count(), 1);
}
