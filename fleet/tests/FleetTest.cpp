#include "AreaVisits.h"
#include "FleetLoader.h"
#include "Store.h"
#include "VantrelError.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using Presence = VehicleTrack::Presence;

// Eastwards along the equator, a thousandth of a degree a second, from second 10 to second 20,
// then silent for ten minutes, then two more positions.
VehicleTrack eastbound() {
    VehicleTrack track;
    for (int s = 20; s >= 10; --s) // out of order, as a store may hand them over
        track.append(float(s), (s - 10) * 0.001, 0, 36);
    track.append(20, 5, 5, 99); // a repeated moment keeps its first position
    track.append(620, 0.02, 0, 0);
    track.append(621, 0.021, 0, 0);
    track.finish();
    return track;
}

TEST(VehicleTrack, PlaceAtAMoment) {
    const VehicleTrack track = eastbound();
    ASSERT_EQ(track.size(), 13u);
    EXPECT_EQ(track.at(9.9, 300).presence, Presence::BeforeFirst);
    const VehicleTrack::Place between = track.at(12.5, 300);
    EXPECT_EQ(between.presence, Presence::Moving);
    EXPECT_NEAR(between.lon, 0.0025, 1e-7);
    EXPECT_NEAR(between.course, 90, 1e-3);
    EXPECT_NEAR(between.speed, 36, 1e-9);
    EXPECT_EQ(track.at(20, 300).lon, 0.01f);
    // Ten minutes of silence: shown at its last position, not moving.
    const VehicleTrack::Place gap = track.at(100, 300);
    EXPECT_EQ(gap.presence, Presence::Stale);
    EXPECT_NEAR(gap.lon, 0.01, 1e-7);
    EXPECT_EQ(gap.speed, 0);
    EXPECT_EQ(track.at(100, 1000).presence, Presence::Moving); // a gap the fleet allows
    EXPECT_EQ(track.at(621, 300).presence, Presence::Moving);
    EXPECT_EQ(track.at(5000, 300).presence, Presence::Stale);
    EXPECT_NEAR(track.at(5000, 300).lon, 0.021, 1e-7);
    EXPECT_EQ(VehicleTrack().at(0, 300).presence, Presence::BeforeFirst);

    // The tail: the way back to 5 s before, at most 4 points, ending at the moment's place; a
    // long gap cuts it.
    const std::vector<QPointF> tail = track.tail(17.5, 5, 4, 300);
    ASSERT_GE(tail.size(), 3u);
    ASSERT_LE(tail.size(), 5u);
    EXPECT_NEAR(tail.front().x(), 0.003, 1e-7);
    EXPECT_NEAR(tail.back().x(), 0.0075, 1e-7);
    EXPECT_EQ(track.tail(620.5, 900, 50, 300).size(), 2u);
    EXPECT_TRUE(track.tail(100, 60, 50, 300).empty());
}

TEST(Area, RefusalsAndTheAntimeridian) {
    EXPECT_THROW(Area::rectangle(10, 20, 10, 21), VantrelError);
    EXPECT_THROW(Area::rectangle(10, 20, 11, 20), VantrelError);
    EXPECT_THROW(Area::circle(10, 20, 0), VantrelError);
    // Drawn from 179° east to 181° (179° west): it takes in ±180, not the rest of the world.
    const Area across = Area::rectangle(181, -1, 179, 1);
    EXPECT_TRUE(across.contains(179.5, 0));
    EXPECT_TRUE(across.contains(-179.5, 0));
    EXPECT_TRUE(across.contains(180, 0));
    EXPECT_FALSE(across.contains(0, 0));
    EXPECT_FALSE(across.contains(-178.5, 0));
    EXPECT_FALSE(across.contains(179.5, 1.5));
    // A circle of 10 km about a point on the antimeridian.
    const Area circle = Area::circle(180, 0, 10000);
    EXPECT_TRUE(circle.contains(-179.95, 0));
    EXPECT_TRUE(circle.contains(179.95, 0.05));
    EXPECT_FALSE(circle.contains(-179.8, 0));
    EXPECT_FALSE(circle.contains(0, 0));
    // Near the pole the quick test keeps points the circle holds.
    EXPECT_TRUE(Area::circle(0, 89.99, 5000).contains(180, 89.99));
}

TEST(AreaVisits, EntryExitAndCutsAtTheEnds) {
    Fleet fleet;
    fleet.begin = 40000;
    fleet.end = 40001;
    VehicleTrack through; // crosses x = 0.005…0.010 from second 5 to 10, leaves, comes back
    through.name = QStringLiteral("A");
    for (int s = 0; s <= 30; ++s)
        through.append(float(s), s <= 15 ? s * 0.001 : (30 - s) * 0.001, 0, 36);
    through.finish();
    VehicleTrack parked; // inside all the time
    parked.name = QStringLiteral("B");
    for (int s = 0; s <= 30; ++s)
        parked.append(float(s), 0.007, 0, 0);
    parked.finish();
    fleet.vehicles = {through, parked};
    const Area area = Area::rectangle(0.0045, -0.001, 0.0105, 0.001);
    const auto at = [&fleet](int s) { return fleet.momentAt(s); };

    const std::vector<AreaVisit> visits = areaVisits(fleet, area, at(0), at(30));
    ASSERT_EQ(visits.size(), 3u); // by entry: the parked one first
    EXPECT_EQ(visits[0].vehicle, 1u);
    EXPECT_TRUE(visits[0].insideAtFrom && visits[0].insideAtTo);
    EXPECT_EQ(visits[1].vehicle, 0u);
    EXPECT_NEAR(visits[1].entry, at(5), 1e-9);
    EXPECT_NEAR(visits[1].exit, at(10), 1e-9);
    EXPECT_FALSE(visits[1].insideAtFrom || visits[1].insideAtTo);
    EXPECT_NEAR(visits[2].entry, at(20), 1e-9);
    EXPECT_NEAR(visits[2].exit, at(25), 1e-9);

    // A window that begins and ends inside a stay.
    const std::vector<AreaVisit> middle = areaVisits(fleet, area, at(7) + 1e-7, at(8) + 1e-7);
    ASSERT_EQ(middle.size(), 2u);
    EXPECT_TRUE(middle[0].insideAtFrom && middle[0].insideAtTo);
    EXPECT_TRUE(areaVisits(fleet, area, at(12), at(18)).size() == 1); // only the parked one
    EXPECT_THROW(areaVisits(fleet, area, at(8), at(8)), VantrelError);
}

TEST(FleetLoader, ReadsAGroupFromTheStoreAndRefusesTooMuch) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("store.sqlite"));
    {
        vserver::Store store(path);
        store.begin();
        store.addGroup({QStringLiteral("g1"), QStringLiteral("Парк")});
        store.addCar(
            {0, QStringLiteral("g1"), QStringLiteral("Машина 10"), QStringLiteral("Б"), 7, {}});
        store.addCar(
            {0, QStringLiteral("g1"), QStringLiteral("Машина 2"), QStringLiteral("А"), 8, {}});
        store.addCar(
            {0, QStringLiteral("g1"), QStringLiteral("Пустая"), QStringLiteral("В"), 9, {}});
        std::vector<vserver::Message> messages(3);
        for (int i = 0; i < 3; ++i)
            messages[size_t(i)] = {40000.5 + i / 86400.0, 37.0 + i * 1e-4, 55.0, 20};
        messages[1].signal = false;
        store.addMessages(7, messages);
        store.commit();
    }
    FleetRequest request{QStringLiteral("Парк"), 40000, 40001, {}};
    int calls = 0;
    const Fleet fleet = FleetLoader::load(path, request, [&calls](int, int) { ++calls; });
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(fleet.groupId, QStringLiteral("g1"));
    ASSERT_EQ(fleet.vehicles.size(), 3u);
    EXPECT_EQ(fleet.vehicles[0].name, QStringLiteral("Машина 2")); // numbers read as numbers
    EXPECT_TRUE(fleet.vehicles[0].empty());
    ASSERT_EQ(fleet.vehicles[1].size(), 2u); // the position without signal is left out
    EXPECT_NEAR(fleet.vehicles[1].seconds(1), 43202, 0.01);

    request.group = QStringLiteral("g1");
    request.devices = {9};
    EXPECT_EQ(FleetLoader::load(path, request).vehicles.size(), 1u);
    const auto refused = [&](FleetRequest r) {
        try {
            FleetLoader::load(path, r);
        } catch (const VantrelError& error) {
            return error.text();
        }
        return QString();
    };
    EXPECT_TRUE(refused({QStringLiteral("Парк"), 40000, 40366, {}})
                    .contains(QStringLiteral("слишком длинный")));
    EXPECT_TRUE(
        refused({QStringLiteral("нет"), 40000, 40001, {}}).contains(QStringLiteral("нет группы")));
    EXPECT_TRUE(
        refused({QStringLiteral("g1"), 40001, 40000, {}}).contains(QStringLiteral("позже")));
    EXPECT_FALSE(refused({QStringLiteral("g1"), 40000, 40001, {1}}).isEmpty());
    EXPECT_TRUE(refused({QStringLiteral("g1"), 40000, 40001, {}, 1})
                    .contains(QStringLiteral("Слишком много позиций")));
}

} // namespace
