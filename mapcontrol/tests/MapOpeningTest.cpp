#include "BaseMap.h"
#include "IMapvexControl.h"
#include "QtPrinters.h"
#include "TMapvexControl.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void write(const QString& path, const QByteArray& content) {
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(content);
}

const QByteArray kRoad = R"({"type":"Feature","properties":{"highway":"primary","name":"Проспект"},
 "geometry":{"type":"LineString","coordinates":[[37.60,55.75],[37.64,55.75]]}})";
const QByteArray kWater = R"({"type":"Feature","properties":{"natural":"water"},
 "geometry":{"type":"Polygon","coordinates":[[[37.615,55.752],[37.625,55.752],[37.625,55.756],[37.615,55.752]]]}})";
const QByteArray kPlace = R"({"type":"Feature","properties":{"place":"suburb","name":"Центр"},
 "geometry":{"type":"Point","coordinates":[37.62,55.745]}})";

QByteArray collection(const QByteArrayList& features) {
    return R"({"type":"FeatureCollection","features":[)" + features.join(',') + "]}";
}

} // namespace

TEST(MapOpening, AMapReadOnceIsReadBackFromTheCacheUntilItsFileChanges) {
    QTemporaryDir dir;
    const QString path = dir.filePath("town.geojson"), cache = dir.filePath("cache");
    write(path, collection({kRoad, kWater, kPlace}));
    BaseMap first, again;
    ASSERT_EQ(first.load(path, {}, {cache, nullptr}), 0);
    const QStringList kept = QDir(cache).entryList({"*.map"});
    ASSERT_EQ(kept.size(), 1);
    ASSERT_EQ(again.load(path, {}, {cache, nullptr}), 0);
    EXPECT_EQ(again.featureCount(), 3u);
    EXPECT_EQ(again.bounds(), first.bounds());
    // Drawn alike: every line, area and name came back.
    Viewport view;
    view.centre = mercator::project(37.62, 55.75);
    view.scale = 20000;
    view.size = QSize(200, 200);
    const auto drawn = [&view](const BaseMap& map) {
        QImage image(view.size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        QPainter painter(&image);
        map.render(painter, view);
        return image;
    };
    EXPECT_EQ(drawn(again), drawn(first));

    // A damaged cache is passed over and the file read.
    QFile stored(QDir(cache).filePath(kept.first()));
    ASSERT_TRUE(stored.open(QIODevice::ReadWrite));
    stored.resize(stored.size() / 2);
    stored.close();
    BaseMap afterDamage;
    ASSERT_EQ(afterDamage.load(path, {}, {cache, nullptr}), 0);
    EXPECT_EQ(afterDamage.featureCount(), 3u);

    // A file changed since is read anew, not taken from the cache.
    write(path, collection({kRoad}));
    QFile(path).setFileTime(QDateTime::currentDateTime().addSecs(10),
                            QFileDevice::FileModificationTime);
    BaseMap changed;
    ASSERT_EQ(changed.load(path, {}, {cache, nullptr}), 0);
    EXPECT_EQ(changed.featureCount(), 1u);
    EXPECT_EQ(QDir(cache).entryList({"*.map"}).size(), 1); // kept in the place of the old

    const std::atomic_bool cancelled = true;
    BaseMap givenUp;
    EXPECT_NE(givenUp.load(dir.filePath("town.geojson"), {}, {QString(), &cancelled}), 0);
}

TEST(MapOpening, TheMapAskedForLastIsShownAndAnEarlierReadIsDropped) {
    QTemporaryDir dir;
    write(dir.filePath("three.geojson"), collection({kRoad, kWater, kPlace}));
    write(dir.filePath("one.geojson"), collection({kPlace}));
    TMapvexControl control;
    QStringList answers;
    control.LoadMapLater(dir.filePath("three.geojson"), {},
                         [&](int code) { answers << QString("three %1").arg(code); });
    control.LoadMapLater(dir.filePath("one.geojson"), {},
                         [&](int code) { answers << QString("one %1").arg(code); });
    EXPECT_TRUE(control.openingMap());
    QElapsedTimer waited;
    waited.start();
    while (control.openingMap() && waited.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::processEvents(); // a dropped read must not come back late
    EXPECT_EQ(answers, QStringList{"one 0"});
    EXPECT_EQ(control.scene().baseMap().featureCount(), 1u);

    // A failure is answered too, and the map shown stays.
    control.LoadMapLater(dir.filePath("none.geojson"), {},
                         [&](int code) { answers << QString("none %1").arg(code); });
    while (control.openingMap() && waited.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(answers.last(), QString("none %1").arg(IMapvexControl::kMapNotFound));
    EXPECT_EQ(control.scene().baseMap().featureCount(), 1u);
}
