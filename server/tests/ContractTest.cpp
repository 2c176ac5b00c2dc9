// The real vantrel-server on this test's private bus, spoken to through the player's client.
#include "TVantrelAutomation.h"
#include "DateTimeValue.h"
#include "EventLoopWait.h"
#include "Store.h"
#include "VantrelError.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDomDocument>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include "QtPrinters.h"

#include <gtest/gtest.h>
#include <csignal>

namespace {

const QString kWholePeriodBegin = "06.02.2007 00:00:00";
const QString kWholePeriodEnd = "06.06.2009 00:00:00";

class ServerProcess {
public:
    explicit ServerProcess(const QString& storePath) {
        process.setProgram(qEnvironmentVariable("VANTREL_BIN_DIR") + "/vantrel-server");
        process.setArguments({"--db", storePath});
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start();
        EXPECT_TRUE(process.waitForStarted());
        QElapsedTimer elapsed;
        elapsed.start();
        while (!QDBusConnection::sessionBus().interface()->isServiceRegistered(TVantrelAutomation::kService)) {
            if (elapsed.elapsed() > 60000 || process.state() == QProcess::NotRunning) {
                ADD_FAILURE() << "the server did not come up";
                return;
            }
            QThread::msleep(20);
        }
    }
    ~ServerProcess() {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            process.waitForFinished(10000);
        }
    }
    QProcess process;
};


class Contract : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = new QTemporaryDir;
        server = new ServerProcess(folder->filePath("store.sqlite"));
    }
    static void TearDownTestSuite() {
        delete server;
        delete folder;
    }

    // Computes the eighth group's first vehicle over the player's default period.
    void computeDemo(TVantrelAutomation& client) {
        QObject target;
        bool ended = false;
        client.RegisterHandler(AutomationEvent::OnEndComputing, &target, [&] { ended = true; });
        client.SelectGroup("grp-8");
        client.SetCarIndex(1);
        client.ComputeTrack("grp-8", client.CarDeviceNumber(), kWholePeriodBegin, kWholePeriodEnd, "GSM", 1);
        ASSERT_TRUE(waitFor([&] { return ended; }));
        ASSERT_EQ(client.ComputeStatus(), 0);
    }

    static QTemporaryDir* folder;
    static ServerProcess* server;
};
QTemporaryDir* Contract::folder = nullptr;
ServerProcess* Contract::server = nullptr;

const QRegularExpression kDateTime("^\\d{2}\\.\\d{2}\\.\\d{4} \\d{2}:\\d{2}:\\d{2}$");
const QRegularExpression kDuration("^(\\d+ )?\\d{2}:\\d{2}:\\d{2}$");

} // namespace

TEST_F(Contract, ListsGroupsAndCarsWithTheNamedValues) {
    TVantrelAutomation client;
    client.StartServer();
    ASSERT_GE(client.GroupCount(), 8);
    client.SetGroupIndex(8);
    const QString name = client.GroupName();
    const QString id = client.GroupId();
    EXPECT_FALSE(name.isEmpty());
    client.SelectGroup(id);
    client.SetPropertyName("Group_Name");
    EXPECT_EQ(client.PropertyValue(), name);
    // The player reads and exports on the store this server was started on.
    client.SetPropertyName("Store_Path");
    EXPECT_EQ(client.PropertyValue(), folder->filePath("store.sqlite"));
    ASSERT_EQ(client.CarCount(), 3);
    client.SetCarIndex(2);
    EXPECT_FALSE(client.CarName().isEmpty());
    EXPECT_FALSE(client.CarNumber().isEmpty());
    EXPECT_GT(client.CarDeviceNumber(), 0);
}

TEST_F(Contract, AComputationIsAnsweredWithTripsTracksAndEveryEntryType) {
    TVantrelAutomation client;
    client.StartServer();
    computeDemo(client);
    EXPECT_EQ(client.CurrentGroupId(), "grp-8");
    const int device = client.CarDeviceNumber();
    client.SelectCar(client.CurrentCarId());
    client.SetPropertyName("Car_Device");
    EXPECT_EQ(client.PropertyValue(), QString::number(device));

    const int trips = client.TripCount();
    ASSERT_GE(trips, 3);
    for (int t = 1; t <= trips; ++t) {
        client.SetTripIndex(t);
        EXPECT_TRUE(kDateTime.match(client.TripBegin()).hasMatch());
        EXPECT_TRUE(kDuration.match(client.TripDuration()).hasMatch()) << client.TripDuration().toStdString();
        const int points = client.TrackPointCount();
        const std::vector<double> values = client.TrackCrdsArray();
        ASSERT_EQ(values.size(), size_t(5 * points));
        for (int p = 1; p < points; ++p)
            ASSERT_GE(values[5 * p], values[5 * (p - 1)]);
        EXPECT_EQ(client.TrackLine().split(',').size(), points);
    }

    client.SetTripIndex(1);
    const QStringList queries = {"parks", "blinds", "power_off", "over_speed", "tank-num1", "tank-num2",
                                 "sensor_on-num1", "sensor_on-num2", "sensor_on-num3", "sensor_on-num4",
                                 "sensor_on-num5", "sensor_on-num6", "checkpoints-stages"};
    for (const QString& query : queries) {
        client.SetTripEntriesListTypeName(query.section('-', 0, 0));
        if (query.contains('-'))
            client.SetTripEntriesListKindName(query.section('-', 1));
        ASSERT_GE(client.TripEntryCount(), 1) << query.toStdString();
        client.SetTripEntryIndex(1);
        EXPECT_TRUE(kDateTime.match(client.TripEntryBegin()).hasMatch());
        EXPECT_TRUE(kDateTime.match(client.TripEntryEnd()).hasMatch());
        EXPECT_TRUE(kDuration.match(client.TripEntryDuration()).hasMatch());
        EXPECT_NEAR(client.TripEntryCoordB(), 55.75, 0.2); // the demo town
    }
    client.SetTripEntriesListTypeName("over_speed");
    client.SetTripEntryIndex(1);
    EXPECT_GT(client.TripEntrySpeed(), 90);
    client.SetTripEntriesListTypeName("tank");
    client.SetTripEntriesListKindName("num1");
    client.SetTripEntryIndex(1);
    EXPECT_GT(client.TripEntryTank1End() - client.TripEntryTank1Start(), 5);

    client.LoadCheckpoints(client.CheckpointListId());
    ASSERT_GE(client.CheckpointCount(), 1);
    client.SetCheckpointIndex(1);
    EXPECT_GT(client.CheckpointRadius(), 0);
    EXPECT_FALSE(client.CheckpointName().isEmpty());
}

TEST_F(Contract, TwoClientsShareOneStateAndBothHearTheEnd) {
    TVantrelAutomation::Options own;
    own.busAddress = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    TVantrelAutomation computing(own);
    TVantrelAutomation watching;
    watching.StartServer();
    QObject target;
    int heard = 0;
    watching.RegisterHandler(AutomationEvent::OnEndComputing, &target, [&] { ++heard; });
    computeDemo(computing);
    ASSERT_TRUE(waitFor([&] { return heard == 1; }));
    EXPECT_EQ(watching.TripCount(), computing.TripCount());
    EXPECT_EQ(watching.CurrentGroupId(), "grp-8");
}

TEST_F(Contract, BadRequestsAnswerReadableErrorsAndTheServerKeepsServing) {
    TVantrelAutomation client;
    client.StartServer();
    const auto errorOf = [](const std::function<void()>& call) {
        try {
            call();
        } catch (const VantrelError& error) {
            return error.text();
        }
        return QString();
    };
    EXPECT_EQ(errorOf([&] { client.SetGroupIndex(0); }), "Группа: номер 0 вне диапазона 1..9");
    EXPECT_EQ(errorOf([&] { client.SelectGroup("нет такой"); }), "Нет группы с кодом «нет такой»");
    EXPECT_TRUE(errorOf([&] { client.ComputeTrack("grp-8", 1, kWholePeriodBegin, kWholePeriodEnd, "GSM", 1); })
                    .contains("нет машины с прибором 1"));
    client.SelectGroup("grp-8");
    client.SetCarIndex(1);
    EXPECT_TRUE(errorOf([&] { client.ComputeTrack("grp-8", client.CarDeviceNumber(), "31.02.2009 00:00:00",
                                                  kWholePeriodEnd, "GSM", 1); })
                    .contains("31.02.2009"));
    EXPECT_FALSE(errorOf([&] { client.SetCheckpointIndex(99); }).isEmpty());
    EXPECT_FALSE(errorOf([&] { client.SetPropertyName("Car_Colour"); }).isEmpty());
    EXPECT_GE(client.GroupCount(), 8);
}

TEST_F(Contract, TheObjectExportsExactlyTheContract) {
    QDBusMessage call = QDBusMessage::createMethodCall(TVantrelAutomation::kService, TVantrelAutomation::kPath,
                                                       "org.freedesktop.DBus.Introspectable", "Introspect");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call);
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage);
    const auto members = [](const QString& xml) {
        QDomDocument dom;
        dom.setContent(xml);
        QSet<QString> result;
        QDomNodeList interfaces = dom.elementsByTagName("interface");
        for (int i = 0; i < interfaces.size(); ++i) {
            const QDomElement iface = interfaces.at(i).toElement();
            if (iface.attribute("name") != "org.vantrel.Automation")
                continue;
            for (QDomElement m = iface.firstChildElement(); !m.isNull(); m = m.nextSiblingElement()) {
                QString signature = m.tagName() + ' ' + m.attribute("name") + '(';
                for (QDomElement a = m.firstChildElement("arg"); !a.isNull(); a = a.nextSiblingElement("arg"))
                    signature += a.attribute("direction", "in") + ':' + a.attribute("type") + ' ';
                result << signature + ')';
            }
        }
        return result;
    };
    QFile contract(VANTREL_CONTRACT_XML);
    ASSERT_TRUE(contract.open(QIODevice::ReadOnly));
    const QSet<QString> expected = members(QString::fromUtf8(contract.readAll()));
    const QSet<QString> exported = members(reply.arguments().value(0).toString());
    EXPECT_EQ(expected.size(), 53); // 48 methods and 5 signals
    EXPECT_EQ(exported, expected) << "missing: " << QStringList((expected - exported).values()).join("; ").toStdString()
                                  << "\nextra: " << QStringList((exported - expected).values()).join("; ").toStdString();
}

TEST(ServerLifecycle, SigtermSaysGoodbyeAndExitsCleanly) {
    QTemporaryDir folder;
    ServerProcess server(folder.filePath("store.sqlite"));
    TVantrelAutomation client;
    client.StartServer();
    QObject target;
    int closed = 0;
    client.RegisterHandler(AutomationEvent::OnCloseServer, &target, [&] { ++closed; });
    ::kill(server.process.processId(), SIGTERM);
    ASSERT_TRUE(server.process.waitForFinished(10000));
    EXPECT_EQ(server.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(server.process.exitCode(), 0);
    ASSERT_TRUE(waitFor([&] { return closed >= 1; }, 10000)); // generous: a loaded machine
    QCoreApplication::processEvents();
    EXPECT_EQ(closed, 1); // the goodbye and the released name count once
}

// A vehicle that drove for twenty days without a stop: one trip of 1,700,000 points, more than
// one D-Bus array can carry.
class HeavyStore : public ::testing::Test {
protected:
    static constexpr int kPoints = 1700000;
    static void SetUpTestSuite() {
        folder = new QTemporaryDir;
        vserver::Store store(folder->filePath("heavy.sqlite"));
        store.begin();
        store.addGroup({"grp-1", "Дальнобой"});
        store.addCar({0, "grp-1", "Тягач", "Т001ТТ77", 4242, QString()});
        std::vector<vserver::Message> messages(kPoints);
        for (int i = 0; i < kPoints; ++i) {
            const double a = i * 0.001;
            messages[i].time = 39873.0 + i / 86400.0;
            messages[i].lon = 37 + 0.05 * std::cos(a);
            messages[i].lat = 55 + 0.03 * std::sin(a);
            messages[i].speed = 50;
        }
        store.addMessages(4242, messages);
        store.commit();
        server = new ServerProcess(folder->filePath("heavy.sqlite"));
    }
    static void TearDownTestSuite() {
        delete server;
        delete folder;
    }
    static QString dayText(int day) {
        return datetime::formatText(39873.0 + day);
    }
    static QTemporaryDir* folder;
    static ServerProcess* server;
};
QTemporaryDir* HeavyStore::folder = nullptr;
ServerProcess* HeavyStore::server = nullptr;

TEST_F(HeavyStore, ABurstOfRequestsEndsOnceWithTheNewest) {
    TVantrelAutomation client;
    client.StartServer();
    QObject target;
    int ended = 0;
    client.RegisterHandler(AutomationEvent::OnEndComputing, &target, [&] { ++ended; });
    for (int i = 0; i < 20; ++i) // the whole drive, then ever shorter periods; the last is two days
        client.ComputeTrack("grp-1", 4242, dayText(0), dayText(i == 19 ? 2 : 21 - i), "GSM", 1);
    ASSERT_TRUE(waitFor([&] { return ended > 0; }, 120000));
    runFor(500);
    EXPECT_EQ(ended, 1);
    ASSERT_EQ(client.ComputeStatus(), 0);
    ASSERT_EQ(client.TripCount(), 1);
    client.SetTripIndex(1);
    EXPECT_EQ(client.TrackPointCount(), 2 * 86400 + 1);
    // A trip this large is answered from a thread of the server's pool.
    EXPECT_EQ(client.TrackCrdsArray().size(), size_t(2 * 86400 + 1) * 5);
    EXPECT_EQ(client.TrackLine().count(QLatin1Char(',')), 2 * 86400);
}

TEST_F(HeavyStore, AReplyTooLargeForTheBusIsRefusedAndTheServerStays) {
    TVantrelAutomation client;
    client.StartServer();
    QObject target;
    bool ended = false;
    client.RegisterHandler(AutomationEvent::OnEndComputing, &target, [&] { ended = true; });
    client.ComputeTrack("grp-1", 4242, dayText(0), dayText(30), "GSM", 1);
    ASSERT_TRUE(waitFor([&] { return ended; }, 120000));
    client.SetTripIndex(1);
    ASSERT_EQ(client.TrackPointCount(), kPoints);
    QDBusMessage call = QDBusMessage::createMethodCall(TVantrelAutomation::kService, "/org/vantrel/Automation",
                                                       "org.vantrel.Automation", "TrackCrdsArray");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 60000);
    EXPECT_EQ(reply.errorName(), "org.vantrel.Automation.Error.TooLarge");
    EXPECT_TRUE(reply.errorMessage().contains("1700000 точек")) << reply.errorMessage().toStdString();
    EXPECT_TRUE(reply.errorMessage().contains("64 МБ"));
    EXPECT_EQ(client.GroupCount(), 1); // still on the bus
    EXPECT_EQ(server->process.state(), QProcess::Running);
}

TEST_F(HeavyStore, SigtermDuringAComputationEndsTheServerPromptly) {
    ServerProcess* own = server;
    TVantrelAutomation client, other;
    client.StartServer();
    other.StartServer();
    for (int i = 0; i < 5; ++i)
        client.ComputeTrack("grp-1", 4242, dayText(0), dayText(30), "GSM", 1);
    // Another caller is answered while 1,700,000 messages are computed, and told it is under way.
    EXPECT_EQ(other.ComputeStatus(), 1);
    EXPECT_EQ(other.GroupCount(), 1);
    runFor(300);
    QElapsedTimer elapsed;
    elapsed.start();
    ::kill(own->process.processId(), SIGTERM);
    ASSERT_TRUE(own->process.waitForFinished(20000));
    EXPECT_EQ(own->process.exitCode(), 0);
    RecordProperty("sigterm_ms", int(elapsed.elapsed()));
    EXPECT_LT(elapsed.elapsed(), 10000); // generous; without cancelling it was the whole queue
}

TEST(ServerLifecycle, AServerStartedToIdleStaysForItsCallersAndThenLeaves) {
    QTemporaryDir folder;
    const auto start = [&](QProcess& server) {
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server.start(qEnvironmentVariable("VANTREL_BIN_DIR") + "/vantrel-server",
                     {"--db", folder.filePath("store.sqlite"), "--idle-exit", "2"});
        return waitFor([] {
            return QDBusConnection::sessionBus().interface()->isServiceRegistered(TVantrelAutomation::kService).value();
        }, 60000);
    };
    {
        // This test's own connection calls it and stays on the bus: the server stays too.
        QProcess server;
        ASSERT_TRUE(start(server));
        TVantrelAutomation client;
        client.StartServer();
        EXPECT_GT(client.GroupCount(), 0);
        runFor(3500);
        EXPECT_EQ(server.state(), QProcess::Running);
        server.terminate();
        ASSERT_TRUE(server.waitForFinished(10000));
    }
    // A client that called and left (dbus-send leaves with its answer) lets it go.
    QProcess server;
    ASSERT_TRUE(start(server));
    QProcess::execute("dbus-send", {"--session", "--print-reply", "--dest=org.vantrel.Automation",
                                    "/org/vantrel/Automation", "org.vantrel.Automation.GroupCount"});
    ASSERT_TRUE(server.waitForFinished(20000));
    EXPECT_EQ(server.exitCode(), 0);
}

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
