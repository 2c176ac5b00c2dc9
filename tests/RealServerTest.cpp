// The window on the real vantrel-server, started by the window itself on this test's bus.
#include "EventLoopWait.h"
#include "FormFixture.h"
#include "TVantrelAutomation.h"
#include "VantrelError.h"

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
    EXPECT_EQ(f.ui().cmbGroupName->currentIndex(), 7);
    EXPECT_EQ(f.ui().cmbCarDevice->currentIndex(), 0);
    EXPECT_TRUE(f.session().selection.RequestPending);

    // The answer may already be there when the kind box lists the trips; the event follows.
    ASSERT_TRUE(waitFor([&] {
        return !f.session().selection.RequestPending && f.ui().ListView1->topLevelItemCount() > 0 &&
               f.session().loadingPoints() == 0;
    }));
    EXPECT_FALSE(f.session().selection.RequestPending);
    EXPECT_EQ(f.session().selection.CurrentTrip, 1);
    EXPECT_EQ(f.ui().lblTripNum->text(), "1");
    EXPECT_GT(f.session().track.PointCount, 10);
    EXPECT_GT(f.ui().TrackBar->maximum(), 60);
    EXPECT_GE(fixture.map.matching("CurScale=20000").size(), 1);
    EXPECT_TRUE(fixture.sink.messages.empty()) << fixture.sink.texts().join("; ").toStdString();

    // A trip's calls sent ahead answer as the same calls made one by one.
    ASSERT_GE(client.TripCount(), 2);
    client.SetTripIndex(1);
    const std::vector<double> firstNumbers = client.TrackCrdsArray();
    client.SetTripIndex(2);
    const std::vector<double> secondNumbers = client.TrackCrdsArray();
    const QString secondLine = client.TrackLine();
    client.SetTripIndex(1);

    client.SendTrackCallsAhead(2);
    EXPECT_EQ(client.TrackCrdsArray(), firstNumbers); // sent while trip 1 was current
    client.SetTripIndex(2);
    EXPECT_EQ(client.TrackLine(), secondLine);
    EXPECT_EQ(client.TrackLine(), secondLine);

    // Another call first waits out what was sent: the server did those calls, so trip 2 is current.
    client.SetTripIndex(1);
    client.SendTrackCallsAhead(2);
    EXPECT_GE(client.TripCount(), 2);
    EXPECT_EQ(client.TrackLine(), secondLine);

    client.SendTrackCallsAhead(99); // an error comes with the call it answers
    EXPECT_EQ(client.TrackCrdsArray(), secondNumbers);
    EXPECT_THROW(client.SetTripIndex(99), VantrelError);
    EXPECT_EQ(client.TrackLine(), secondLine);

    // Work waiting for the answers runs before any other call, and takes them as they came.
    client.SetTripIndex(1);
    client.SendTrackCallsAhead(2);
    QStringList order;
    client.whenAheadAnswered([&] {
        EXPECT_EQ(client.TrackCrdsArray(), firstNumbers);
        client.SetTripIndex(2);
        EXPECT_EQ(client.TrackLine(), secondLine);
        EXPECT_EQ(client.TrackLine(), secondLine);
        order << "load";
    });
    client.TripCount();
    order << "TripCount";
    EXPECT_EQ(order, QStringList({"load", "TripCount"}));
    // Dropped, the answers are not waited for; the server had the calls, and the next numbers
    // asked for are their own.
    client.SetTripIndex(1);
    client.SendTrackCallsAhead(2);
    client.dropAhead();
    EXPECT_EQ(client.TrackCrdsArray(), secondNumbers);

    // Sent ahead for a load, the numbers come as a store and the lines behind the prefix, two
    // equal lines one text; a point count the numbers do not hold is refused, the store kept.
    const int firstPoints = int(firstNumbers.size() / 5);
    for (const int points : {firstPoints, firstPoints + 1}) {
        client.SetTripIndex(1);
        client.SendTrackCallsAhead(2, points, QStringLiteral("L E "));
        bool answered = false;
        client.whenAheadAnswered([&] { answered = true; });
        ASSERT_TRUE(waitFor([&] { return answered; }));
        TrackStore store;
        if (points == firstPoints)
            client.TrackCrdsInto(store, points);
        else
            EXPECT_THROW(client.TrackCrdsInto(store, points), VantrelError);
        EXPECT_EQ(store.TrackData, points == firstPoints ? firstNumbers : std::vector<double>{});
        client.SetTripIndex(2);
        const QString outline = client.PrefixedTrackLine(QStringLiteral("L E "));
        EXPECT_EQ(outline, "L E " + secondLine);
        EXPECT_EQ(client.PrefixedTrackLine(QStringLiteral("L E ")).constData(),
                  outline.constData());
    }
}
