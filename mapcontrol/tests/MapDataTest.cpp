// Base maps as operators get them: coastlines, other coordinate systems, credits, damaged data.
#include "BaseMap.h"
#include "StreetLabels.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void write(const QString& path, const QByteArray& content) {
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(content);
}

QImage render(const BaseMap& map, double lon, double lat, double scale = 20000) {
    Viewport view;
    view.centre = mercator::project(lon, lat);
    view.scale = scale;
    view.size = QSize(200, 200);
    QImage image(view.size, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    map.render(painter, view);
    return image;
}

bool isWater(const QColor& c) { return c == QColor(170, 211, 223); }
bool isPrimaryRoad(const QColor& c) { return std::abs(c.red() - 252) + std::abs(c.green() - 214) + std::abs(c.blue() - 164) < 20; }

// A coast across the extract from west to east (the sea on its right, to the south), in two
// ways, and a road to the north that widens the extract.
QByteArray coastAndRoad(bool westwards) {
    const char* coast = westwards ? "[[7.44,43.70],[7.42,43.70]],[[7.42,43.70],[7.40,43.70]]"
                                  : "[[7.40,43.70],[7.42,43.70]],[[7.42,43.70],[7.44,43.70]]";
    return QByteArray(R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{"natural":"coastline"},"geometry":{"type":"MultiLineString","coordinates":[)") +
           coast + R"(]}},
{"type":"Feature","properties":{"highway":"primary","name":"Route"},"geometry":{"type":"LineString","coordinates":[[7.40,43.72],[7.44,43.68]]}}]})";
}

} // namespace

TEST(MapData, TheSeaLiesOnTheRightOfTheCoastlineOutToTheExtractsEdge) {
    QTemporaryDir dir;
    for (const bool westwards : {false, true}) {
        const QString path = dir.filePath(westwards ? "west.geojson" : "east.geojson");
        write(path, coastAndRoad(westwards));
        BaseMap map;
        ASSERT_EQ(map.load(path, {}), 0);
        EXPECT_TRUE(map.warnings().isEmpty()) << map.warnings().join(';').toStdString();
        const QImage south = render(map, 7.43, 43.69), north = render(map, 7.43, 43.71);
        EXPECT_EQ(isWater(south.pixelColor(20, 100)), !westwards);
        EXPECT_EQ(isWater(north.pixelColor(20, 100)), westwards);
    }
}

TEST(MapData, ProjectedDataSetsAreDrawnWhereTheyLie) {
    if (QProcess::execute("ogr2ogr", {"--version"}) != 0)
        FAIL() << "ogr2ogr (gdal-bin) is needed to make the projected data sets";
    QTemporaryDir dir;
    write(dir.filePath("road.geojson"), coastAndRoad(false));
    for (const QString& name : {QStringLiteral("road.gpkg"), QStringLiteral("road.shp")}) {
        ASSERT_EQ(QProcess::execute("ogr2ogr", {"-q", "-t_srs", "EPSG:32632", dir.filePath(name), dir.filePath("road.geojson")}), 0);
        BaseMap map;
        ASSERT_EQ(map.load(dir.filePath(name), {}), 0) << name.toStdString();
        EXPECT_EQ(map.featureCount(), 1u) << name.toStdString();
        const QImage image = render(map, 7.42, 43.70);
        EXPECT_TRUE(isPrimaryRoad(image.pixelColor(100, 100))) << name.toStdString(); // the road's middle
        EXPECT_TRUE(map.attribution().isEmpty());
    }
}

TEST(MapData, OpenStreetMapDataIsCreditedAndAChartMayNameItsOwnCredit) {
    QTemporaryDir dir;
    write(dir.filePath("osm.geojson"), R"({"type":"FeatureCollection","features":[{"type":"Feature",
"properties":{"osm_id":"42","highway":"primary"},"geometry":{"type":"LineString","coordinates":[[7.40,43.72],[7.44,43.68]]}}]})");
    write(dir.filePath("own.geojson"), coastAndRoad(false));
    write(dir.filePath("own.chart"), "dataset own.geojson\nattribution © Городская геослужба\n");
    BaseMap map;
    ASSERT_EQ(map.load(dir.filePath("osm.geojson"), {}), 0);
    EXPECT_EQ(map.attribution(), BaseMap::kOpenStreetMapCredit);
    ASSERT_EQ(map.load(dir.filePath("own.geojson"), {}), 0);
    EXPECT_EQ(map.attribution(), "");
    ASSERT_EQ(map.load(dir.filePath("own.chart"), {}), 0);
    EXPECT_EQ(map.attribution(), "© Городская геослужба");
}

TEST(MapData, WhatCannotBeDrawnIsSkippedWithOneWarningPerDataSet) {
    if (QProcess::execute("ogr2ogr", {"--version"}) != 0)
        FAIL() << "ogr2ogr (gdal-bin) is needed to make the projected data sets";
    QTemporaryDir dir;
    const QString longName = QString("Улица «Очень \"длинная\"» ").repeated(40);
    write(dir.filePath("bad.geojson"), QString(R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{"highway":"primary","name":"%1"},"geometry":{"type":"LineString","coordinates":[[7.40,43.70],[7.44,43.70]]}},
{"type":"Feature","properties":{"highway":"primary"},"geometry":{"type":"LineString","coordinates":[[500,43.70],[7.44,95]]}},
{"type":"Feature","properties":{"place":"town","name":"%1"},"geometry":{"type":"Point","coordinates":[7.42,43.70]}}]})")
                                           .arg(QString(longName).replace("\"", "\\\""))
                                           .toUtf8());
    write(dir.filePath("good.geojson"), coastAndRoad(false));
    ASSERT_EQ(QProcess::execute("ogr2ogr", {"-q", "-t_srs", "EPSG:32632", dir.filePath("nowhere.shp"), dir.filePath("good.geojson")}), 0);
    write(dir.filePath("nowhere.prj"), "LOCAL_CS[\"somewhere\",UNIT[\"metre\",1]]");
    write(dir.filePath("both.chart"), "dataset bad.geojson\ndataset nowhere.shp\n");
    BaseMap map;
    ASSERT_EQ(map.load(dir.filePath("both.chart"), {}), 0);
    EXPECT_EQ(map.featureCount(), 2u); // the road and the town from the first data set
    ASSERT_EQ(map.warnings().size(), 2) << map.warnings().join('\n').toStdString();
    EXPECT_TRUE(map.warnings()[0].startsWith("bad.geojson")) << map.warnings()[0].toStdString();
    EXPECT_TRUE(map.warnings()[1].contains("nowhere")) << map.warnings()[1].toStdString();
    render(map, 7.42, 43.70, 3000); // the long name on its road and as a place: drawn or left out
}

TEST(StreetLabels, NamesReadUprightStayOnTheirRoadAndNeverOverlap) {
    const std::vector<QPointF> westwards = {mercator::project(7.44, 43.70), mercator::project(7.40, 43.70)};
    const std::vector<QPointF> crossing = {mercator::project(7.42, 43.69), mercator::project(7.42, 43.71)};
    const QString big = "Boulevard Albert Ier", small = "Rue Grimaldi";
    const double mpp = 2;
    LabelGrid grid;
    const auto labels = streetlabels::place({{&crossing, &small, 5}, {&westwards, &big, 1}, {&westwards, &big, 1}}, mpp, grid);
    ASSERT_GE(labels.size(), 3u);
    const QRectF road = QRectF(QPointF(westwards[1].x() / mpp, -westwards[0].y() / mpp), QPointF(westwards[0].x() / mpp, -westwards[0].y() / mpp))
                            .adjusted(0, -12, 0, 12);
    int onTheBigRoad = 0;
    for (size_t a = 0; a < labels.size(); ++a) {
        for (size_t b = a + 1; b < labels.size(); ++b)
            EXPECT_FALSE(labels[a].bounds.intersects(labels[b].bounds)) << a << " and " << b;
        if (!road.contains(labels[a].bounds))
            continue;
        ++onTheBigRoad;
        const auto& glyphs = labels[a].glyphs; // the first letter at the left: upright
        EXPECT_LT(glyphs.front().centre.x(), glyphs.back().centre.x());
        EXPECT_FALSE(labels[a].drawn().image.isNull());
    }
    EXPECT_GE(onTheBigRoad, 2); // repeated along a long road, though the same road came twice
}
