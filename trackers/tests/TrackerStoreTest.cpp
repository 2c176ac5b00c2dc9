// Trackers' registrations and live batches in both stores: the device commands, the schema's
// step from version 2, and the batch writer's duplicates and order.
#include "DateTimeValue.h"
#include "DeviceRegistry.h"
#include "EventLoopWait.h"
#include "PositionWriter.h"
#include "PostgresServer.h"
#include "Store.h"
#include "VantrelError.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <limits>
#include <sqlite3.h>

using namespace vserver;
using namespace trackers;

namespace {

constexpr double kAll = std::numeric_limits<double>::max();

PostgresServer& postgres() {
    static PostgresServer server;
    return server;
}

struct Engines : ::testing::TestWithParam<bool> {
    void SetUp() override {
        if (GetParam() && !postgres().ready())
            FAIL() << "no PostgreSQL for the tests: " << postgres().problem.toStdString();
        static int count = 0;
        path = GetParam() ? postgres().newDatabase(QStringLiteral("trk%1").arg(++count)) : folder.filePath("store.sqlite");
        Store store(path);
        store.begin();
        store.addGroup({"grp-1", "Первая"});
        store.addGroup({"grp-2", "Вторая"});
        store.addCar({0, "grp-2", "Самосвал", "А001АА", 77, {}});
        store.commit();
    }
    QTemporaryDir folder;
    QString path;
};

double at(int second) { return datetime::fromDateAndTime(QDate(2026, 12, 10), QTime(9, 0, second)); }

std::vector<DeviceMessage> messages(int device, std::initializer_list<int> seconds) {
    std::vector<DeviceMessage> out;
    for (int s : seconds)
        out.push_back({device, {at(s), 37.6 + s * 1e-4, 55.7, 30}});
    return out;
}

std::vector<DeviceMessage> operator+(std::vector<DeviceMessage> a, const std::vector<DeviceMessage>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

bool write(PositionWriter& writer, std::vector<DeviceMessage> batch) {
    std::optional<bool> stored;
    writer.submit(std::move(batch), [&stored](bool ok) { stored = ok; });
    EXPECT_TRUE(waitFor([&stored] { return stored.has_value(); }));
    return stored.value_or(false);
}

} // namespace

TEST_P(Engines, DevicesAreRegisteredListedAndRemoved) {
    Store store(path);
    devices::add(store, "grp-1", 5001, "356307042441013", "Газель", "В777ВВ");
    devices::add(store, "grp-2", 77, "phone-77", {}, {});
    const auto car = store.carOfDevice(5001);
    ASSERT_TRUE(car);
    EXPECT_EQ(car->groupId, "grp-1");
    EXPECT_EQ(car->name, "Газель");
    EXPECT_EQ(devices::list(store), QStringList({"phone-77\t77\tgrp-2\tСамосвал", "356307042441013\t5001\tgrp-1\tГазель"}));
    const auto refused = [&store](const QString& group, int device, const QString& ident) {
        EXPECT_THROW(devices::add(store, group, device, ident, {}, {}), VantrelError) << ident.toStdString();
    };
    refused("grp-1", 5002, "phone-77");  // taken by another device
    refused("grp-1", 77, "other");        // device 77 drives in another group
    refused("grp-9", 5003, "other");      // no such group
    refused("grp-1", 5003, "two words");
    refused("grp-1", 5003, QString(65, 'x'));
    EXPECT_EQ(store.trackers().size(), 2u);
    devices::remove(store, "phone-77");
    EXPECT_THROW(devices::remove(store, "phone-77"), VantrelError);
    EXPECT_EQ(store.trackers().size(), 1u);
    EXPECT_TRUE(store.carOfDevice(77)); // the vehicle stays
}

TEST_P(Engines, ResentAndOutOfOrderPositionsAreStoredOnceInTimeOrder) {
    PositionWriter writer(path);
    EXPECT_TRUE(write(writer, messages(77, {5, 1, 3, 1})));
    EXPECT_TRUE(write(writer, messages(77, {3, 5, 7}) + messages(78, {1}))); // a resend, and another device
    EXPECT_TRUE(write(writer, messages(77, {2, 9})));                        // late, then new
    const Store store(path);
    std::vector<int> seconds;
    for (const Message& m : store.messages(77, 0, kAll))
        seconds.push_back(QTime(0, 0).secsTo(datetime::toQDateTime(m.time).time()) - 9 * 3600);
    EXPECT_EQ(seconds, std::vector<int>({1, 2, 3, 5, 7, 9}));
    EXPECT_EQ(store.messages(78, 0, kAll).size(), 1u);
}

TEST_P(Engines, AStoreOfTheSecondVersionGainsTheTrackersTable) {
    if (GetParam()) {
        PGconn* db = PQconnectdb(path.toUtf8().constData());
        PQclear(PQexec(db, "DROP TABLE trackers; UPDATE vantrel_store SET schema_version = 2"));
        PQfinish(db);
    } else {
        sqlite3* db = nullptr;
        sqlite3_open(path.toUtf8().constData(), &db);
        sqlite3_exec(db, "DROP TABLE trackers; PRAGMA user_version = 2", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    Store store(path);
    EXPECT_TRUE(store.trackers().empty());
    devices::add(store, "grp-2", 77, "phone-77", {}, {});
    EXPECT_EQ(Store(path).trackers().size(), 1u);
    EXPECT_EQ(store.allCars().size(), 1u); // nothing else changed
}

INSTANTIATE_TEST_SUITE_P(Stores, Engines, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "PostgreSQL" : "SQLite"; });
