// Raster base maps as operators hold them: sheets in any coordinate system, tile packages,
// tile folders, and the damaged and oversized ones.
#include "BaseMap.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cmath>
#include <gdal_priv.h>
#include <gdal_utils.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {

const QColor kRed(200, 40, 40), kBlue(40, 40, 200), kGreen(40, 160, 40), kLand(242, 239, 233);

bool near(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) < 30;
}

QColor centreOf(const BaseMap& map, double lon, double lat, double scale = 20000) {
    Viewport view;
    view.centre = mercator::project(lon, lat);
    view.scale = scale;
    view.size = QSize(200, 200);
    QImage image(view.size, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    map.render(painter, view);
    return image.pixelColor(100, 100);
}

// A sheet over 7.40…7.44 E, 43.72…43.74 N in longitude and latitude: red in the west, blue in the
// north-east, green in the south-east.
QString makeSheet(const QString& path, int width = 200, int height = 100, const char* options = nullptr) {
    GDALAllRegister();
    char** creation = options ? CSLTokenizeString2(options, " ", 0) : nullptr;
    GDALDatasetUniquePtr sheet(GetGDALDriverManager()->GetDriverByName("GTiff")->Create(
        path.toUtf8().constData(), width, height, 3, GDT_Byte, creation));
    CSLDestroy(creation);
    double geo[6] = {7.40, 0.04 / width, 0, 43.74, 0, -0.02 / height};
    sheet->SetGeoTransform(geo);
    OGRSpatialReference lonLat;
    lonLat.importFromEPSG(4326);
    sheet->SetSpatialRef(&lonLat);
    sheet->SetMetadataItem("TIFFTAG_COPYRIGHT", "© Картфабрика");
    if (width > 1000) { // its north-west corner red
        std::vector<GByte> corner(512 * 512);
        for (int b = 0; b < 3; ++b) {
            std::fill(corner.begin(), corner.end(), GByte(kRed.rgb() >> (16 - 8 * b)));
            EXPECT_EQ(sheet->GetRasterBand(b + 1)->RasterIO(GF_Write, 0, 0, 512, 512, corner.data(), 512, 512,
                                                            GDT_Byte, 0, 0, nullptr), CE_None);
        }
    } else {
        std::vector<GByte> band(size_t(width) * height);
        for (int b = 0; b < 3; ++b) {
            for (int i = 0; i < width * height; ++i)
                band[i] = (i % width < width / 2 ? kRed : i / width < height / 2 ? kBlue : kGreen).rgb() >> (16 - 8 * b) & 0xff;
            EXPECT_EQ(sheet->GetRasterBand(b + 1)->RasterIO(GF_Write, 0, 0, width, height, band.data(), width,
                                                            height, GDT_Byte, 0, 0, nullptr), CE_None);
        }
    }
    return path;
}

void convert(const QString& from, const QString& to, QStringList arguments, bool vector = false) {
    std::vector<QByteArray> kept;
    std::vector<char*> argv;
    for (const QString& a : arguments)
        argv.push_back(kept.emplace_back(a.toUtf8()).data());
    argv.push_back(nullptr);
    int failed = 0;
    GDALDatasetH source = GDALOpenEx(from.toUtf8().constData(), vector ? GDAL_OF_VECTOR : GDAL_OF_RASTER, nullptr, nullptr, nullptr);
    ASSERT_TRUE(source);
    GDALDatasetH made = nullptr;
    if (vector) {
        auto* options = GDALVectorTranslateOptionsNew(argv.data(), nullptr);
        made = GDALVectorTranslate(to.toUtf8().constData(), nullptr, 1, &source, options, &failed);
        GDALVectorTranslateOptionsFree(options);
    } else if (arguments.contains("-t_srs")) {
        auto* options = GDALWarpAppOptionsNew(argv.data(), nullptr);
        made = GDALWarp(to.toUtf8().constData(), nullptr, 1, &source, options, &failed);
        GDALWarpAppOptionsFree(options);
    } else {
        auto* options = GDALTranslateOptionsNew(argv.data(), nullptr);
        made = GDALTranslate(to.toUtf8().constData(), source, options, &failed);
        GDALTranslateOptionsFree(options);
    }
    ASSERT_TRUE(made && !failed);
    GDALClose(made);
    GDALClose(source);
}

// A statement run on a tile package as the SQLite database it is.
void sql(const QString& package, const char* statement) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(package.toUtf8().constData(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, statement, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

} // namespace

TEST(RasterMap, SheetsInAnyCoordinateSystemLieWhereTheyBelongUnderTheVectorData) {
    QTemporaryDir dir;
    const QString sheet = makeSheet(dir.filePath("sheet.tif"));
    convert(sheet, dir.filePath("utm.tif"), {"-t_srs", "EPSG:32632", "-dstalpha"});
    for (const QString name : {"sheet.tif", "utm.tif"}) {
        BaseMap map;
        ASSERT_EQ(map.load(dir.filePath(name), {}), 0) << map.failure().toStdString();
        EXPECT_TRUE(near(centreOf(map, 7.405, 43.73), kRed)) << name.toStdString();
        EXPECT_TRUE(near(centreOf(map, 7.435, 43.735), kBlue)) << name.toStdString();
        EXPECT_TRUE(near(centreOf(map, 7.435, 43.725), kGreen)) << name.toStdString();
        EXPECT_EQ(centreOf(map, 7.47, 43.73), kLand); // beside the sheet
        EXPECT_EQ(map.attribution(), "© Картфабрика");
        EXPECT_TRUE(map.bounds().contains(mercator::project(7.42, 43.73)));
    }
    QFile roads(dir.filePath("roads.geojson"));
    ASSERT_TRUE(roads.open(QIODevice::WriteOnly));
    roads.write(R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{"natural":"water"},"geometry":{"type":"Polygon","coordinates":[[[7.40,43.72],[7.44,43.72],[7.44,43.74],[7.40,43.72]]]}},
{"type":"Feature","properties":{"highway":"primary"},"geometry":{"type":"LineString","coordinates":[[7.40,43.73],[7.44,43.73]]}}]})");
    roads.close();
    QFile chart(dir.filePath("both.chart"));
    ASSERT_TRUE(chart.open(QIODevice::WriteOnly));
    chart.write("dataset roads.geojson\ndataset sheet.tif\n");
    chart.close();
    BaseMap both;
    ASSERT_EQ(both.load(chart.fileName(), {}), 0);
    EXPECT_TRUE(near(centreOf(both, 7.41, 43.73), QColor(252, 214, 164))); // the road over the sheet
    EXPECT_TRUE(near(centreOf(both, 7.435, 43.7225), kGreen)); // the water does not hide it
}

TEST(RasterMap, TilePackagesAndTileFoldersShowTheirTilesAndAGapForAMissingOne) {
    QTemporaryDir dir;
    convert(makeSheet(dir.filePath("sheet.tif")), dir.filePath("sheet.mbtiles"), {"-of", "MBTILES"});
    sql(dir.filePath("sheet.mbtiles"),
        "INSERT INTO metadata VALUES ('attribution', '<a href=\"https://example.org\">&copy; Тайлы</a>')");
    BaseMap package;
    ASSERT_EQ(package.load(dir.filePath("sheet.mbtiles"), {}), 0) << package.failure().toStdString();
    EXPECT_TRUE(near(centreOf(package, 7.405, 43.73), kRed));
    EXPECT_TRUE(near(centreOf(package, 7.435, 43.736, 200000), kBlue)); // far out, above its levels
    EXPECT_TRUE(near(centreOf(package, 7.435, 43.725), kGreen));
    EXPECT_EQ(package.attribution(), "© Тайлы");

    // Zoom 14 tiles around 7.42 E 43.73 N, one of four missing.
    const int z = 14, n = 1 << z;
    const int x0 = int((7.42 + 180) / 360 * n);
    const double lat = 43.73 * M_PI / 180;
    const int y0 = int((1 - std::log(std::tan(lat) + 1 / std::cos(lat)) / M_PI) / 2 * n);
    for (int x = x0; x <= x0 + 1; ++x)
        for (int y = y0; y <= y0 + 1; ++y) {
            if (x == x0 + 1 && y == y0 + 1)
                continue;
            QDir().mkpath(dir.filePath(QString("xyz/%1/%2").arg(z).arg(x)));
            QImage tile(256, 256, QImage::Format_RGB32);
            tile.fill(kGreen);
            ASSERT_TRUE(tile.save(dir.filePath(QString("xyz/%1/%2/%3.png").arg(z).arg(x).arg(y))));
        }
    QFile metadata(dir.filePath("xyz/metadata.json"));
    ASSERT_TRUE(metadata.open(QIODevice::WriteOnly));
    metadata.write(R"({"attribution": "© Папка тайлов"})");
    metadata.close();
    const auto tileCentre = [&](int x, int y) {
        const double side = 2 * M_PI * 6378137.0 / n;
        return mercator::unproject(QPointF(-M_PI * 6378137.0 + (x + 0.5) * side, M_PI * 6378137.0 - (y + 0.5) * side));
    };
    BaseMap folder;
    ASSERT_EQ(folder.load(dir.filePath("xyz"), {}), 0) << folder.failure().toStdString();
    const QPointF present = tileCentre(x0, y0), missing = tileCentre(x0 + 1, y0 + 1);
    EXPECT_TRUE(near(centreOf(folder, present.x(), present.y(), 5000), kGreen));
    EXPECT_EQ(centreOf(folder, missing.x(), missing.y(), 5000), kLand);
    EXPECT_TRUE(folder.bounds().contains(mercator::project(missing.x(), missing.y())));
    EXPECT_EQ(folder.attribution(), "© Папка тайлов");
    EXPECT_NE(BaseMap().load(dir.filePath("xyz/14"), {}), 0); // a level alone is no tile folder
}

TEST(RasterMap, VectorTilePackagesDrawAsVectorMaps) {
    QTemporaryDir dir;
    QFile roads(dir.filePath("roads.geojson"));
    ASSERT_TRUE(roads.open(QIODevice::WriteOnly));
    roads.write(R"({"type":"FeatureCollection","features":[{"type":"Feature","properties":{"highway":"primary","name":"Route"},
"geometry":{"type":"LineString","coordinates":[[7.40,43.73],[7.44,43.73]]}}]})");
    roads.close();
    convert(roads.fileName(), dir.filePath("roads.mbtiles"), {"-f", "MBTILES", "-dsco", "MAXZOOM=14"}, true);
    BaseMap map;
    ASSERT_EQ(map.load(dir.filePath("roads.mbtiles"), {}), 0) << map.failure().toStdString();
    EXPECT_TRUE(near(centreOf(map, 7.42, 43.73), QColor(252, 214, 164)));
}

TEST(RasterMap, DamagedAndOversizedRastersFailReadablyOrLeaveAGap) {
    QTemporaryDir dir;
    // 20,000 pixels a side without overviews: read by window and every n-th pixel, never whole.
    makeSheet(dir.filePath("huge.tif"), 20000, 20000, "TILED=YES COMPRESS=DEFLATE SPARSE_OK=TRUE");
    BaseMap huge;
    ASSERT_EQ(huge.load(dir.filePath("huge.tif"), {}), 0);
    EXPECT_TRUE(huge.warnings().join(' ').contains("gdaladdo"));
    EXPECT_EQ(centreOf(huge, 7.42, 43.73, 2e6), QColor(0, 0, 0)); // empty blocks read as black
    EXPECT_EQ(centreOf(huge, 7.42, 43.73, 5000), QColor(0, 0, 0));
    // Far out, one read of the whole into a small copy serves every view.
    makeSheet(dir.filePath("large.tif"), 6000, 6000, "TILED=YES COMPRESS=DEFLATE SPARSE_OK=TRUE");
    BaseMap large;
    ASSERT_EQ(large.load(dir.filePath("large.tif"), {}), 0);
    const double cornerLon = 7.40 + 256 * 0.04 / 6000, cornerLat = 43.74 - 256 * 0.02 / 6000;
    for (const double scale : {100000.0, 5000.0})
        EXPECT_TRUE(near(centreOf(large, cornerLon, cornerLat, scale), kRed)) << scale;
    EXPECT_EQ(centreOf(large, 7.42, 43.73, 100000), QColor(0, 0, 0));

    QFile corrupt(dir.filePath("corrupt.mbtiles"));
    ASSERT_TRUE(corrupt.open(QIODevice::WriteOnly));
    corrupt.write(QByteArray("SQLite format 3\0", 16) + QByteArray(4000, '\x5a'));
    corrupt.close();
    QImage plain(16, 16, QImage::Format_RGB32);
    plain.fill(Qt::gray);
    plain.save(dir.filePath("plain.png"));
    for (const QString name : {"corrupt.mbtiles", "plain.png"}) {
        BaseMap map;
        EXPECT_NE(map.load(dir.filePath(name), {}), 0);
        EXPECT_TRUE(map.failure().contains(name) && map.failure().contains(QRegularExpression("[а-я]")))
            << map.failure().toStdString();
    }

    convert(makeSheet(dir.filePath("sheet.tif")), dir.filePath("broken.mbtiles"), {"-of", "MBTILES"});
    sql(dir.filePath("broken.mbtiles"), "UPDATE tiles SET tile_data = x'89504e470d0a1a0a0000'");
    BaseMap broken;
    ASSERT_EQ(broken.load(dir.filePath("broken.mbtiles"), {}), 0);
    EXPECT_EQ(centreOf(broken, 7.42, 43.73), kLand);
}
