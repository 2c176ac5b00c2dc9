#include "FormFixture.h"
#include "PlaybackController.h"
#include "PlaybackTimer.h"
#include "SelectionController.h"

#include <QCursor>
#include <QGuiApplication>
#include <QSlider>
#include <QToolButton>
#include <QTreeWidget>
#include <cmath>
#include <gtest/gtest.h>

namespace {

struct TrackLoad : ::testing::Test {
    TForm1& start(std::vector<ScriptedAutomation::Trip> trips) {
        fixture.addGroups();
        fixture.server.computeStatus = 0;
        fixture.server.trips = std::move(trips);
        TForm1& f = fixture.start();
        return f;
    }
    FormFixture fixture;
};

ScriptedAutomation::Trip threePoints() {
    return FormFixture::trip({{march1(10, 0, 0), 30, 50, 0, 10}, {march1(10, 0, 10), 31, 51, 100, 20},
                              {march1(10, 0, 20), 32, 52, 200, 30}});
}

} // namespace

TEST_F(TrackLoad, ALoadFillsTheStoreTheTrackBarAndTheMap) {
    TForm1& f = start({FormFixture::trip({{march1(10, 0, 0), 37.5, 55.5, 0, 0},
                                          {march1(10, 30, 0), 37.6, 55.6, 1000, 50},
                                          {march1(11, 0, 0), 37.7, 55.7, 2000, 40}})});
    ASSERT_EQ(f.session().track.PointCount, 3);
    EXPECT_DOUBLE_EQ(f.session().track.TrackStartTime(), march1(10, 0, 0));
    EXPECT_DOUBLE_EQ(f.session().track.data(5 * 3 - 3), 37.7); // 1-based: longitude of point 3
    EXPECT_DOUBLE_EQ(f.session().track.TrackPoints[1].y, 55.6);
    EXPECT_EQ(f.ui().TrackBar->minimum(), 0);
    EXPECT_EQ(f.ui().TrackBar->maximum(), 3600);
    EXPECT_EQ(f.ui().TrackBar->value(), 1);
    EXPECT_TRUE(f.ui().ToolButton4->isChecked());
    EXPECT_DOUBLE_EQ(f.session().clock.PlayBase, march1(10, 0, 0));
    const QStringList map = fixture.map.calls;
    const int scale = map.indexOf("CurScale=20000");
    ASSERT_GE(scale, 0);
    EXPECT_EQ(map.value(scale + 1), "CenterOn(55.5,37.5)");
    EXPECT_LT(map.indexOf(QRegularExpression("^AddLayer\\(name=nametab2.*")), scale);
}

TEST_F(TrackLoad, AOnePointTripSpansNoTime) {
    TForm1& f = start({FormFixture::trip({{march1(9, 0, 0), 30, 50, 0, 0}})});
    EXPECT_EQ(f.session().track.PointCount, 1);
    EXPECT_EQ(f.session().track.TrackPoints.size(), 1u);
    EXPECT_EQ(f.ui().TrackBar->maximum(), 0);
    EXPECT_EQ(fixture.map.matching("CenterOn").last(), "CenterOn(50,30)");
}

TEST_F(TrackLoad, TheTrackBarRangeRoundsHalfSecondsToEven) {
    TForm1& f = start({FormFixture::trip({{march1(10, 0, 0), 30, 50, 0, 0}, {march1(10, 0, 2.5), 31, 51, 0, 0}}),
                       FormFixture::trip({{march1(10, 0, 0), 30, 50, 0, 0}, {march1(10, 0, 3.5), 31, 51, 0, 0}})});
    EXPECT_EQ(f.ui().TrackBar->maximum(), 2);
    f.session().selection.CurrentTrip = 2;
    f.session().loadTrack(2);
    EXPECT_EQ(f.ui().TrackBar->maximum(), 4);
}

TEST_F(TrackLoad, ATripWithoutPointsKeepsTheBarAndTheMapOfThePreviousTrack) {
    ScriptedAutomation::Trip empty;
    TForm1& f = start({threePoints(), empty});
    fixture.map.calls.clear();
    f.session().loadTrack(2);
    EXPECT_EQ(f.session().track.PointCount, 0);
    EXPECT_EQ(f.ui().TrackBar->maximum(), 20);
    EXPECT_TRUE(fixture.map.calls.isEmpty());
    // Playback treats the track as empty: a tick stops at once.
    f.playback().btnPlayClick();
    f.playback().Timer1Timer();
    EXPECT_FALSE(f.ui().Timer1->enabled());
}

TEST_F(TrackLoad, NonsenseFromTheServerIsReportedAndThePreviousTrackStaysPlayable) {
    ScriptedAutomation::Trip negative = threePoints();
    negative.pointCount = -3;
    ScriptedAutomation::Trip shortArray = threePoints();
    shortArray.pointCount = 4;
    ScriptedAutomation::Trip backwards = threePoints();
    std::swap(backwards.track[0], backwards.track[5]);
    ScriptedAutomation::Trip notANumber = threePoints();
    notANumber.track[6] = std::nan("");
    TForm1& f = start({threePoints(), negative, shortArray, backwards, notANumber});
    ASSERT_EQ(f.session().track.PointCount, 3);
    for (int trip = 2; trip <= 5; ++trip) {
        f.session().selection.CurrentTrip = trip;
        f.guarded([&] { f.session().loadTrack(trip); });
        EXPECT_EQ(f.session().track.PointCount, 3) << trip;
        EXPECT_DOUBLE_EQ(f.session().track.TrackPoints[2].x, 32) << trip;
    }
    const QStringList messages = fixture.sink.texts();
    ASSERT_EQ(messages.size(), 4);
    EXPECT_EQ(messages[0], "Сервер сообщил неверное число точек трека: -3");
    EXPECT_EQ(messages[1], "Сервер передал 15 значений трека вместо 20");
    EXPECT_EQ(messages[2], "Время точки трека 2 раньше времени предыдущей точки");
    EXPECT_EQ(messages[3], "Точка трека 2 содержит недопустимое значение");
    EXPECT_EQ(f.ui().TrackBar->maximum(), 20);
    f.playback().btnPlayClick();
    fixture.advance(0.05);
    f.playback().Timer1Timer();
    EXPECT_TRUE(f.ui().Timer1->enabled());
}

TEST_F(TrackLoad, DraggingWithoutATrackShowsNothing) {
    ScriptedAutomation::Trip broken = threePoints();
    broken.pointCount = 9; // refused: the first trip never loads
    TForm1& f = start({broken});
    ASSERT_EQ(f.session().track.PointCount, 0);
    ASSERT_NE(f.ui().ListView1->currentItem(), nullptr);
    fixture.sink.messages.clear();
    for (int position = 2; position < 8; ++position)
        f.ui().TrackBar->setValue(position);
    EXPECT_TRUE(fixture.sink.messages.empty()) << fixture.sink.texts().join("; ").toStdString();
}

TEST_F(TrackLoad, WithoutAServerLoadingDoesNothing) {
    TForm1& f = start({threePoints()});
    f.ServerClosed();
    fixture.server.calls.clear();
    f.session().loadTrack(1);
    EXPECT_TRUE(fixture.server.calls.isEmpty());
}

TEST_F(TrackLoad, TheBusyCursorShowsWhileTheServerIsAskedAndGoesAfterAFailureToo) {
    TForm1& f = start({threePoints(), threePoints()});
    ASSERT_EQ(QGuiApplication::overrideCursor(), nullptr);
    QStringList waitedOn;
    fixture.server.onCall = [&](const QString& call) {
        if (QGuiApplication::overrideCursor() &&
            QGuiApplication::overrideCursor()->shape() == Qt::BusyCursor)
            waitedOn << call;
    };
    f.session().loadTrack(2);
    EXPECT_TRUE(waitedOn.contains("TrackCrdsArray"));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    fixture.server.failOnce["TrackCrdsArray"] = "связь потеряна";
    EXPECT_ANY_THROW(f.session().loadTrack(1));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(TrackLoad, TheWindowIsToldWhileItsRequestIsComputedUntilTheResultComes) {
    TForm1& f = start({threePoints()});
    std::vector<bool> computing;
    QObject::connect(&f.session(), &PlayerSession::computing,
                     [&](bool running) { computing.push_back(running); });
    fixture.server.failOnce["ComputeTrack"] = "нет связи";
    EXPECT_ANY_THROW(
        f.session().requestTrack(QStringLiteral("1"), 7, march1(0, 0, 0), march1(23, 0, 0)));
    EXPECT_TRUE(computing.empty()); // nothing asked, nothing computed
    f.session().requestTrack(QStringLiteral("1"), 7, march1(0, 0, 0), march1(23, 0, 0));
    EXPECT_EQ(computing, std::vector<bool>{true});
    fixture.server.raise(AutomationEvent::OnEndComputing);
    EXPECT_EQ(computing, std::vector<bool>({true, false}));
    EXPECT_FALSE(f.session().selection.RequestPending);
}

TEST_F(TrackLoad, ANewerChoiceDropsTheLoadUnderWayAndACallMeanwhileComesAfterIt) {
    TForm1& f = start({threePoints(), FormFixture::trip({{march1(11, 0, 0), 40, 60, 0, 0},
                                                         {march1(11, 0, 9), 41, 61, 9, 5}})});
    ScriptedAutomation& server = fixture.server;
    server.holdAhead = true;
    const auto click = [&](int row) {
        QTreeWidgetItem* item = f.ui().ListView1->topLevelItem(row);
        f.ui().ListView1->setCurrentItem(item);
        emit f.ui().ListView1->itemClicked(item, 0);
        QCoreApplication::processEvents(); // the next click is another event
    };
    const auto trails = [&] { return fixture.map.matching("AddLayer(name=nametab2").size(); };
    const int trailsBefore = trails();
    click(1); // trip 2's numbers on their way
    ASSERT_TRUE(server.aheadHeld());
    EXPECT_EQ(f.session().track.PointCount, 3);
    EXPECT_EQ(f.session().loadingPoints(), 2);
    click(0); // trip 1 again: trip 2's load and its stops are dropped
    EXPECT_TRUE(server.calls.contains("dropAhead"));
    server.answerAhead();
    EXPECT_EQ(f.session().track.PointCount, 3);
    EXPECT_DOUBLE_EQ(f.session().track.TrackPoints[0].x, 30);
    EXPECT_EQ(trails(), trailsBefore + 1);
    EXPECT_EQ(f.session().loadingPoints(), 0);

    click(1);
    server.calls.clear();
    f.session().tripCount(); // waits for the numbers: the load and its stops come first
    ASSERT_FALSE(server.calls.isEmpty());
    EXPECT_EQ(server.calls.first(), "TrackCrdsArray");
    EXPECT_TRUE(server.calls.indexOf(QRegularExpression("^SetTripEntriesListTypeName.*")) > 0);
    EXPECT_EQ(server.calls.last(), "TripCount");
    EXPECT_EQ(f.session().track.PointCount, 2);
    EXPECT_EQ(trails(), trailsBefore + 2);
}

TEST_F(TrackLoad, ChoicesWaitWithoutCallsWhileADroppedTripStillArrivesAndTheNewestIsMade) {
    TForm1& f = start({threePoints(), FormFixture::trip({{march1(11, 0, 0), 40, 60, 0, 0},
                                                         {march1(11, 0, 9), 41, 61, 9, 5}})});
    ScriptedAutomation& server = fixture.server;
    const auto click = [&](int row) {
        QTreeWidgetItem* item = f.ui().ListView1->topLevelItem(row);
        f.ui().ListView1->setCurrentItem(item);
        emit f.ui().ListView1->itemClicked(item, 0);
        QCoreApplication::processEvents();
    };
    server.holdAhead = true;
    click(1);
    server.droppedTravelling = true; // trip 2's answers are still coming when it is dropped
    server.calls.clear();
    click(0);
    click(1);
    EXPECT_EQ(server.calls, QStringList{"dropAhead"}); // nothing asked behind the answers
    EXPECT_TRUE(f.session().waitingForDropped());
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);
    server.holdAhead = false;
    server.droppedArrive();
    EXPECT_FALSE(f.session().waitingForDropped());
    EXPECT_EQ(server.count("SetTripIndex(1)"), 0); // the newer choice replaced the older
    EXPECT_EQ(f.session().selection.CurrentTrip, 2);
    EXPECT_EQ(f.session().track.PointCount, 2);
    EXPECT_GT(server.calls.indexOf(QRegularExpression("^SetTripEntriesListTypeName.*")),
              server.calls.indexOf("TrackCrdsArray")); // the stops after the load, as always
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}
