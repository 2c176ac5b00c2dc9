// The store on a real PostgreSQL started by the test itself, against the SQLite file.
#include "AutomationService.h"
#include "DateTimeValue.h"
#include "DemoData.h"
#include "GpxImport.h"
#include "PostgresServer.h"
#include "Store.h"
#include "StoreMigration.h"
#include "VantrelError.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <cstdlib>
#include <libpq-fe.h>
#include <latch>
#include <limits>
#include <thread>

using namespace vserver;

namespace {

const QByteArray kTwoPoints = R"(<gpx version="1.1" xmlns="http://www.topografix.com/GPX/1/1"><trk><trkseg>
<trkpt lat="55.75" lon="37.6"><time>2009-03-02T06:00:00Z</time></trkpt>
<trkpt lat="55.751" lon="37.601"><time>2009-03-02T06:00:10Z</time></trkpt></trkseg></trk></gpx>)";

struct Postgres : ::testing::Test {
    static void SetUpTestSuite() { server = new PostgresServer; }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override {
        if (!server->ready())
            FAIL() << "no PostgreSQL for the tests: " << server->problem.toStdString();
    }
    QString database() { return server->newDatabase(QStringLiteral("t%1").arg(++count)); }
    static PostgresServer* server;
    static int count;
};
PostgresServer* Postgres::server = nullptr;
int Postgres::count = 0;

constexpr double kAll = std::numeric_limits<double>::max();

// The same writes and reads on either engine.
void keepsWhatItIsGiven(Store& store) {
    store.begin();
    store.addGroup({"grp-1", "Экспедиция"});
    const int car = store.addCar({0, "grp-1", "МАЗ «5440»", "Р359ТА77", 1080, "cp-1"});
    Message gap{39873.5, 37.6, 55.75, kNoValue, false, true, kNoValue, 40.5, 5};
    store.addMessages(1080, {{39873.6, 37.61, 55.76, 42, true, false, 10, kNoValue, 0}, gap});
    store.addCheckpointList("cp-1", {{"Склад", "ворота", 55.75, 37.6, 150}});
    store.commit();
    EXPECT_EQ(car, 1);
    ASSERT_EQ(store.groups().size(), 1u);
    EXPECT_EQ(store.cars("grp-1").front().name, "МАЗ «5440»");
    EXPECT_EQ(store.carOfDevice(1080)->checkpointList, "cp-1");
    EXPECT_FALSE(store.carOfDevice(7).has_value());
    const std::vector<Message> messages = store.messages(1080, 0, kAll);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_DOUBLE_EQ(messages[0].time, 39873.5); // in time order
    EXPECT_TRUE(std::isnan(messages[0].speed));
    EXPECT_FALSE(messages[0].signal);
    EXPECT_EQ(messages[0].sensors, 5);
    EXPECT_DOUBLE_EQ(messages[1].fuel1, 10);
    EXPECT_EQ(store.checkpoints("cp-1").front().radius, 150);
    EXPECT_EQ(store.messageCount(), 2);
}

} // namespace

TEST_F(Postgres, KeepsWhatTheSqliteFileKeeps) {
    QTemporaryDir dir;
    Store file(dir.filePath("s.sqlite"));
    keepsWhatItIsGiven(file);
    Store base(database());
    keepsWhatItIsGiven(base);
}

TEST_F(Postgres, AnImportThroughOneServerIsSeenByAnotherAndABadFileStoresNothing) {
    QTemporaryDir dir;
    const QString uri = database();
    Store desk1(uri), desk2(uri); // two servers, two connections
    QFile good(dir.filePath("good.gpx")), bad(dir.filePath("bad.gpx"));
    good.open(QIODevice::WriteOnly);
    good.write(R"(<gpx version="1.1" xmlns="http://www.topografix.com/GPX/1/1"><trk><trkseg>
<trkpt lat="55.75" lon="37.6"><time>2009-03-02T06:00:00Z</time></trkpt>
<trkpt lat="55.751" lon="37.601"><time>2009-03-02T06:00:10Z</time></trkpt></trkseg></trk></gpx>)");
    good.close();
    bad.open(QIODevice::WriteOnly);
    bad.write(R"(<gpx version="1.1" xmlns="http://www.topografix.com/GPX/1/1"><trk><trkseg><trkpt lat="95" lon="37"/></trkseg></trk></gpx>)");
    bad.close();
    EXPECT_THROW(importGpx(desk1, {"Поездки", "Фургон", "", 42}, {good.fileName(), bad.fileName()}), VantrelError);
    EXPECT_TRUE(desk2.isEmpty());
    EXPECT_EQ(importGpx(desk1, {"Поездки", "Фургон", "", 42}, {good.fileName()}).added, 2);
    EXPECT_EQ(desk2.messages(42, 0, kAll).size(), 2u);
    EXPECT_EQ(importGpx(desk2, {"Поездки", "Фургон", "", 42}, {good.fileName()}).skipped, 2);
}

TEST_F(Postgres, TheDemoStoreMigratesWhole) {
    QTemporaryDir dir;
    Store file(dir.filePath("demo.sqlite"));
    createDemoData(file);
    const QString uri = database();
    Store base(uri);
    const MigrationCounts counts = migrateStore(file, base);
    EXPECT_EQ(counts.groups, qint64(file.groups().size()));
    EXPECT_EQ(counts.cars, qint64(file.allCars().size()));
    EXPECT_EQ(counts.messages, file.messageCount());
    EXPECT_EQ(base.messageCount(), file.messageCount());
    const Car car = file.allCars().back();
    EXPECT_EQ(base.messages(car.device, 0, kAll).size(), file.messages(car.device, 0, kAll).size());
    EXPECT_EQ(base.checkpoints(car.checkpointList).size(), file.checkpoints(car.checkpointList).size());
    EXPECT_THROW(migrateStore(file, base), VantrelError); // only into an empty store
    // The planner knows of the load at once, not when autovacuum comes by.
    PGconn* other = PQconnectdb(uri.toUtf8().constData());
    PGresult* rows = PQexec(other, "SELECT reltuples FROM pg_class WHERE relname = 'messages'");
    EXPECT_NEAR(std::atof(PQgetvalue(rows, 0, 0)), double(file.messageCount()), file.messageCount() * 0.01);
    PQclear(rows);
    PQfinish(other);
}

TEST_F(Postgres, ForeignTablesAnUnreachableServerAndALostConnectionAreSaid) {
    const QString uri = database();
    {
        PGconn* other = PQconnectdb(uri.toUtf8().constData());
        PQclear(PQexec(other, "CREATE TABLE invoices (id INTEGER)"));
        PQfinish(other);
    }
    try {
        Store store(uri);
        ADD_FAILURE() << "a database with other tables was taken";
    } catch (const VantrelError& error) {
        EXPECT_TRUE(error.text().contains("чужие таблицы")) << error.text().toStdString();
    }
    try {
        Store store(QStringLiteral("postgresql://vantrel@/nowhere?host=/nonexistent"));
        ADD_FAILURE();
    } catch (const VantrelError& error) {
        EXPECT_TRUE(error.text().startsWith("Не удалось подключиться к базе PostgreSQL")) << error.text().toStdString();
    }
    const QString ours = database();
    Store store(ours);
    createDemoData(store);
    server->stop();
    EXPECT_THROW(store.messages(store.allCars().front().device, 0, kAll), VantrelError);
    ASSERT_TRUE(server->start());
    Store again(ours); // the next request, on a new connection, is answered
    EXPECT_FALSE(again.isEmpty());
}

// A database restarted under a running server: calls during the outage say so, and the first
// call after it is answered on a new connection, whatever it asks.
TEST_F(Postgres, ARunningServerAnswersAgainOnceTheDatabaseIsBack) {
    const QString uri = database();
    QTemporaryDir dir;
    QFile file(dir.filePath("two.gpx"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(kTwoPoints);
    file.close();
    Store store(uri);
    importGpx(store, {"Поездки", "Фургон", "", 42}, {file.fileName()});
    AutomationService service(uri);
    ASSERT_EQ(service.GroupCount(), 1);
    const QString group = store.groups().front().id;

    server->stop();
    try {
        service.SelectGroup(group);
        ADD_FAILURE() << "answered without a database";
    } catch (const VantrelError& error) {
        EXPECT_TRUE(error.text().startsWith("Связь с базой PostgreSQL потеряна")) << error.what();
    }
    EXPECT_THROW(store.messages(42, 0, kAll), VantrelError);
    ASSERT_TRUE(server->start());
    EXPECT_EQ(service.GroupCount(), 1);
    service.SelectGroup(group);
    EXPECT_EQ(service.CarCount(), 1);
    EXPECT_EQ(store.messages(42, 0, kAll).size(), 2u);

    // A restart between two calls is not even seen: an import goes on a new connection.
    server->stop();
    ASSERT_TRUE(server->start());
    EXPECT_EQ(importGpx(store, {"Поездки", "Фургон", "", 42}, {file.fileName()}).skipped, 2);
}

// Two imports at once, each bringing a vehicle of a group neither has made yet: one makes the
// group, the other finds it.
TEST_F(Postgres, TwoImportsAtOnceMakeTheirNewGroupOnce) {
    const QString uri = database();
    QTemporaryDir dir;
    QFile file(dir.filePath("two.gpx"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(kTwoPoints);
    file.close();
    for (int round = 0; round < 3; ++round) {
        const QString group = QStringLiteral("TW%1").arg(round);
        std::latch ready(2);
        QStringList failures;
        std::mutex guard;
        std::vector<std::jthread> imports;
        for (const int device : {10 * round + 1, 10 * round + 2})
            imports.emplace_back([&, device] {
                Store store(uri);
                ready.arrive_and_wait();
                try {
                    importGpx(store, {group, QStringLiteral("Машина %1").arg(device), "", device}, {file.fileName()});
                } catch (const VantrelError& error) {
                    const std::lock_guard lock(guard);
                    failures << error.text();
                }
            });
        imports.clear();
        EXPECT_EQ(failures, QStringList());
    }
    Store store(uri);
    ASSERT_EQ(store.groups().size(), 3u);
    for (const Group& group : store.groups())
        EXPECT_EQ(store.cars(group.id).size(), 2u) << group.name.toStdString();
}
