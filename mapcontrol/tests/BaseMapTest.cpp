#include "BaseMap.h"
#include "QtPrinters.h"
#include "TMapvexControl.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

void write(const QString& path, const QByteArray& content) {
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(content);
}

const QByteArray kRoads = R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{"highway":"primary","name":"Проспект"},
 "geometry":{"type":"LineString","coordinates":[[37.60,55.75],[37.64,55.75]]}},
{"type":"Feature","properties":{"natural":"water"},
 "geometry":{"type":"Polygon","coordinates":[[[37.615,55.752],[37.625,55.752],[37.625,55.756],[37.615,55.756],[37.615,55.752]]]}},
{"type":"Feature","properties":{"place":"suburb","name":"Центр"},"geometry":{"type":"Point","coordinates":[37.62,55.745]}}]})";

QImage render(const BaseMap& map, double lon, double lat, double scale) {
    Viewport view;
    view.centre = mercator::project(lon, lat);
    view.scale = scale;
    view.size = QSize(300, 300);
    QImage image(view.size, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    map.render(painter, view);
    return image;
}

int pixelsLike(const QImage& image, QColor colour, int tolerance = 12) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
                         std::abs(c.blue() - colour.blue()) <= tolerance;
        }
    return count;
}

} // namespace

TEST(BaseMap, AChartNamesItsDataSetsAndAWindowsPathIsFoundInTheMapsFolder) {
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("maps"));
    write(dir.filePath("maps/roads.geojson"), kRoads);
    write(dir.filePath("maps/town.chart"), "# a town\ndataset roads.geojson\n");
    BaseMap map;
    EXPECT_EQ(map.load("C:\\Mapvex5\\MAPS\\town.chart", {dir.filePath("none"), dir.filePath("maps")}), 0);
    EXPECT_EQ(map.featureCount(), 3u);
    const QImage image = render(map, 37.62, 55.75, 20000);
    EXPECT_GT(pixelsLike(image, QColor(252, 214, 164)), 100); // the primary road
    EXPECT_GT(pixelsLike(image, QColor(170, 211, 223)), 1000); // the water
}

TEST(BaseMap, AFailedLoadAnswersNonZeroAndKeepsThePreviousMap) {
    QTemporaryDir dir;
    write(dir.filePath("roads.geojson"), kRoads);
    write(dir.filePath("broken.geojson"), "{\"type\": \"Featu");
    write(dir.filePath("bad.chart"), "dataset missing.geojson\n");
    write(dir.filePath("odd.chart"), "layer roads.geojson\n");
    BaseMap map;
    ASSERT_EQ(map.load(dir.filePath("roads.geojson"), {dir.path()}), 0);
    EXPECT_NE(map.load(dir.filePath("nothing-here.shp"), {dir.path()}), 0);
    EXPECT_NE(map.load(dir.filePath("broken.geojson"), {dir.path()}), 0);
    EXPECT_NE(map.load(dir.filePath("bad.chart"), {dir.path()}), 0);
    EXPECT_NE(map.load(dir.filePath("odd.chart"), {dir.path()}), 0);
    EXPECT_NE(map.load("", {dir.path()}), 0);
    // Not regular files: refused at once rather than read (a pipe would block for good).
    ASSERT_EQ(::mkfifo(dir.filePath("pipe.osm").toUtf8().constData(), 0600), 0);
    write(dir.filePath("piped.chart"), "dataset pipe.osm\n");
    EXPECT_NE(map.load(dir.filePath("pipe.osm"), {dir.path()}), 0);
    EXPECT_NE(map.load(dir.filePath("piped.chart"), {dir.path()}), 0);
    EXPECT_NE(map.load(dir.path(), {dir.path()}), 0);
    EXPECT_NE(map.load("/dev/zero", {dir.path()}), 0);
    EXPECT_EQ(map.featureCount(), 3u);
}

TEST(BaseMap, TheOpenStreetMapExtractDrawsItsRoads) {
    const QString path = qEnvironmentVariable("VANTREL_SHARED_DATA") + "/osm/monaco-2016-03-05.osm.pbf";
    if (!QFile::exists(path))
        GTEST_SKIP() << "no OpenStreetMap extract at " << path.toStdString();
    TMapvexControl control;
    control.resize(400, 400);
    bool windowServed = false; // the extract is read on a worker while events go on
    QTimer::singleShot(0, [&] {
        windowServed = true;
        control.CenterOn(50, 10); // a trip loaded meanwhile: its view is kept
    });
    ASSERT_EQ(control.LoadMap(path, ""), 0);
    EXPECT_TRUE(windowServed);
    EXPECT_EQ(control.viewport().centre, mercator::project(10, 50));
    EXPECT_EQ(control.scene().baseMap().attribution(), BaseMap::kOpenStreetMapCredit);
    control.SetCurScale(10000);
    control.CenterOn(43.7384, 7.4246);
    const QImage image = control.renderImage(QSize(400, 400));
    image.save(QDir::temp().filePath("vantrel-monaco.png"));
    EXPECT_GT(pixelsLike(image, QColor(255, 255, 255), 6), 1500); // minor streets
    EXPECT_GT(pixelsLike(image, QColor(217, 208, 201), 10), 3000); // buildings
}

TEST(BaseMap, PlaceNamesNeverOverlapAndTheMoreImportantPlaceStays) {
    QTemporaryDir dir;
    write(dir.filePath("places.geojson"), R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{"place":"village","name":"Подгорье","population":"5000"},"geometry":{"type":"Point","coordinates":[37.6201,55.7501]}},
{"type":"Feature","properties":{"place":"city","name":"Город"},"geometry":{"type":"Point","coordinates":[37.62,55.75]}},
{"type":"Feature","properties":{"place":"village","name":"Сто дворов","population":"100"},"geometry":{"type":"Point","coordinates":[37.70,55.75]}},
{"type":"Feature","properties":{"place":"village","name":"Пять тысяч","population":"5000"},"geometry":{"type":"Point","coordinates":[37.7001,55.7501]}}]})");
    BaseMap map;
    ASSERT_EQ(map.load(dir.filePath("places.geojson"), {}), 0);
    QStringList kept;
    for (const placelabels::Label& label : map.labels(15)->places)
        kept << label.place->name;
    EXPECT_EQ(kept, QStringList({"Город", "Пять тысяч"}));

    const QString path = qEnvironmentVariable("VANTREL_SHARED_DATA") + "/osm/monaco-2016-03-05.osm.pbf";
    if (!QFile::exists(path))
        GTEST_SKIP() << "no OpenStreetMap extract at " << path.toStdString();
    BaseMap monaco;
    ASSERT_EQ(monaco.load(path, {}), 0);
    for (const double scale : {52000.0, 20000.0, 5000.0}) {
        Viewport view;
        view.centre = mercator::project(7.42, 43.735);
        view.scale = scale;
        const auto labels = monaco.labels(view.metresPerPixel());
        kept.clear();
        for (size_t a = 0; a < labels->places.size(); ++a) {
            kept << labels->places[a].place->name;
            for (size_t b = a + 1; b < labels->places.size(); ++b)
                EXPECT_FALSE(labels->places[a].box.intersects(labels->places[b].box)) << scale << " " << a << " " << b;
            for (const streetlabels::Label& street : labels->streets)
                for (const streetlabels::Glyph& glyph : street.glyphs)
                    EXPECT_FALSE(labels->places[a].box.contains(glyph.centre)) << scale << " " << a;
        }
        EXPECT_TRUE(kept.contains("Monaco")) << scale;
        EXPECT_GE(kept.size(), 6) << scale;
    }
}
