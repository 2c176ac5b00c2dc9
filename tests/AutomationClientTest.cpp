#include "EventLoopWait.h"
#include "TVantrelAutomation.h"
#include "VantrelError.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace {

// Runs the tiny service for one test on this test's private bus.
class TinyServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        service.start(QCoreApplication::applicationDirPath() + "/tiny_automation_service", QStringList());
        ASSERT_TRUE(service.waitForStarted());
        QElapsedTimer elapsed;
        elapsed.start();
        while (!QDBusConnection::sessionBus().interface()->isServiceRegistered(TVantrelAutomation::kService)) {
            ASSERT_LT(elapsed.elapsed(), 10000) << "the tiny service did not appear";
            QThread::msleep(20);
        }
        pump(100); // this process's connection learns the new owner first
    }
    void TearDown() override {
        service.kill();
        service.waitForFinished();
        pump(200); // and the old owner's departure, before the next test starts a new one
    }
    // Lets queued D-Bus signals reach their slots.
    static void pump(int ms = 300) {
        QElapsedTimer elapsed;
        elapsed.start();
        while (elapsed.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }

    QProcess service;
};

} // namespace

TEST_F(TinyServiceTest, CallsAnswerAndErrorsCarryTheServersText) {
    TVantrelAutomation client;
    client.StartServer(); // attaches: the name has an owner
    EXPECT_EQ(client.GroupCount(), 2);
    client.SetGroupIndex(2);
    EXPECT_EQ(client.GroupName(), "Группа 2");
    EXPECT_EQ(client.TrackCrdsArray(), (std::vector<double>{1, 2, 3, 4, 5}));
    try {
        client.SetGroupIndex(5);
        FAIL() << "an out-of-range index must fail";
    } catch (const VantrelError& error) {
        EXPECT_EQ(error.text(), "Номер группы 5 вне диапазона 1..2");
    }
    EXPECT_EQ(client.GroupCount(), 2); // the server keeps serving
}

TEST_F(TinyServiceTest, EventsReachTheRegisteredHandlerOfALiveTarget) {
    TVantrelAutomation client;
    client.StartServer();
    QObject target;
    int ended = 0, closed = 0;
    client.RegisterHandler(AutomationEvent::OnEndComputing, &target, [&] { ++ended; });
    client.RegisterHandler(AutomationEvent::OnCloseServer, &target, [&] { ++closed; });
    {
        QObject gone;
        client.RegisterHandler(AutomationEvent::OnEndComputing, &gone, [] { FAIL() << "target is gone"; });
    }
    client.ComputeTrack("g", 1, "01.03.2009 00:00:00", "02.03.2009 00:00:00", "GSM", 1);
    EXPECT_TRUE(waitFor([&] { return ended == 1; }, 10000));
    pump(100);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(closed, 0);
}

TEST_F(TinyServiceTest, AVanishedOwnerIsRaisedAsOnCloseServerOnce) {
    TVantrelAutomation client;
    client.StartServer();
    QObject target;
    int closed = 0;
    client.RegisterHandler(AutomationEvent::OnCloseServer, &target, [&] { ++closed; });
    service.kill(); // no goodbye: a crash
    service.waitForFinished();
    EXPECT_TRUE(waitFor([&] { return closed >= 1; }, 10000));
    pump(200);
    EXPECT_EQ(closed, 1);
    EXPECT_THROW(client.GroupCount(), VantrelError);
}

TEST_F(TinyServiceTest, AnOrderlyShutdownIsRaisedOnceNotTwice) {
    TVantrelAutomation client;
    client.StartServer();
    QObject target;
    int closed = 0;
    client.RegisterHandler(AutomationEvent::OnCloseServer, &target, [&] { ++closed; });
    QDBusMessage quit = QDBusMessage::createMethodCall(TVantrelAutomation::kService, TVantrelAutomation::kPath,
                                                       TVantrelAutomation::kInterface, "Quit");
    QDBusConnection::sessionBus().call(quit);
    service.waitForFinished();
    EXPECT_TRUE(waitFor([&] { return closed >= 1; }, 10000));
    pump(200);
    EXPECT_EQ(closed, 1);
}

TEST(AutomationClient, WithoutABusEveryCallFailsWithAReadableText) {
    TVantrelAutomation::Options options;
    options.busAddress = "unix:path=/nonexistent/vantrel-test-bus";
    TVantrelAutomation client(options);
    try {
        client.StartServer();
        FAIL();
    } catch (const VantrelError& error) {
        EXPECT_TRUE(error.text().startsWith("Нет связи с сеансовой шиной D-Bus")) << error.what();
    }
    EXPECT_THROW(client.GroupCount(), VantrelError);
}

TEST(AutomationClient, AMissingServerProgramIsNamedInTheError) {
    TVantrelAutomation::Options options;
    options.serverProgram = "/nonexistent/vantrel-server";
    TVantrelAutomation client(options);
    try {
        client.StartServer();
        FAIL();
    } catch (const VantrelError& error) {
        EXPECT_TRUE(error.text().contains("/nonexistent/vantrel-server")) << error.what();
    }
}

TEST(AutomationClient, CallsWithoutAServerSayTheServerIsNotRunning) {
    TVantrelAutomation client;
    const auto expectNotRunning = [](const std::function<void()>& call) {
        try {
            call();
            FAIL();
        } catch (const VantrelError& error) {
            EXPECT_TRUE(error.text().startsWith("Сервер Vantrel не запущен")) << error.what();
        }
    };
    expectNotRunning([&] { client.GroupCount(); });
    expectNotRunning([&] { client.TrackCrdsArray(); }); // read past Qt, the same text
    client.SendTrackCallsAhead(1);
    expectNotRunning([&] { client.TrackCrdsArray(); });
    expectNotRunning([&] { client.SetTripIndex(1); });
}
