// The window on the real vantrel-server, started by the window itself on this test's bus.
#include "EventLoopWait.h"
#include "FormFixture.h"
#include "TVantrelAutomation.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QSlider>
#include <QTreeWidget>
#include <gtest/gtest.h>

TEST(RealServer, TheFirstStartRequestsTheRestoredVehicleAndLoadsTripOne) {
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toUtf8()); // the server's store goes here
    TVantrelAutomation::Options options;
    options.serverProgram = qEnvironmentVariable("VANTREL_BIN_DIR") + "/vantrel-server";
    TVantrelAutomation client(options);
    FormFixture fixture;
    fixture.realServer = &client;
    TForm1& f = fixture.start();
    ASSERT_TRUE(fixture.sink.messages.empty()) << fixture.sink.texts().join("; ").toStdString();
    EXPECT_EQ(f.cmbGroupName->currentIndex(), 7);
    EXPECT_EQ(f.cmbCarDevice->currentIndex(), 0);
    EXPECT_TRUE(f.selectionState.RequestPending);

    // The answer may already be there when the kind box lists the trips; the event follows.
    ASSERT_TRUE(waitFor([&] { return !f.selectionState.RequestPending && f.ListView1->topLevelItemCount() > 0; }));
    EXPECT_FALSE(f.selectionState.RequestPending);
    EXPECT_EQ(f.selectionState.CurrentTrip, 1);
    EXPECT_EQ(f.lblTripNum->text(), "1");
    EXPECT_GT(f.track.PointCount, 10);
    EXPECT_GT(f.TrackBar->maximum(), 60);
    EXPECT_GE(fixture.map.matching("CurScale=20000").size(), 1);
    EXPECT_TRUE(fixture.sink.messages.empty()) << fixture.sink.texts().join("; ").toStdString();
}
