#include "Computation.h"
#include "DemoData.h"
#include "DateTimeValue.h"
#include "GpxImport.h"
#include "Store.h"
#include "TripExport.h"
#include "SmallDisk.h"
#include "VantrelError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <sys/stat.h>
#include <gtest/gtest.h>

using namespace vserver;

namespace {

// Two drives of twenty minutes, a point every 5 s, with an hour's stop between them.
QByteArray twoDrives() {
    QByteArray gpx = R"(<?xml version="1.0"?><gpx version="1.1" xmlns="http://www.topografix.com/GPX/1/1"><trk><trkseg>)";
    const QDateTime start(QDate(2009, 3, 2), QTime(6, 0), Qt::UTC);
    for (int i = 0; i < 480; ++i) {
        const int second = i < 240 ? i * 5 : 3600 + i * 5;
        const double lat = 55.75 + 0.00004 * (i < 240 ? i : 480 - i), lon = 37.6 + 0.00002 * i + 0.001 * std::sin(i / 30.0);
        gpx += QStringLiteral("<trkpt lat=\"%1\" lon=\"%2\"><time>%3</time></trkpt>\n")
                   .arg(lat, 0, 'f', 7)
                   .arg(lon, 0, 'f', 7)
                   .arg(start.addSecs(second).toString(Qt::ISODate))
                   .toUtf8();
    }
    return gpx + "</trkseg></trk></gpx>";
}

ExportRequest request(const QString& path, int device = 501) {
    ExportRequest r;
    r.group = QStringLiteral("Экспорт");
    r.device = device;
    r.from = datetime::parseText(QStringLiteral("01.03.2009 00:00:00"));
    r.to = datetime::parseText(QStringLiteral("04.03.2009 00:00:00"));
    r.path = path;
    return r;
}

double mileage(const Trip& trip) { return trip.points.back().mileage; }

// A store in the folder holding the two drives, as device 501 of the group «Экспорт».
void storeTheDrives(const QTemporaryDir& dir, Store& store) {
    QFile source(dir.filePath("drives.gpx"));
    ASSERT_TRUE(source.open(QIODevice::WriteOnly));
    source.write(twoDrives());
    source.close();
    importGpx(store, {"Экспорт", "Фургон", "А001АА", 501}, {source.fileName()});
}

} // namespace

TEST(Export, AnExportedGpxImportedAgainGivesTheSameTrips) {
    QTemporaryDir dir;
    Store first(dir.filePath("first.sqlite"));
    storeTheDrives(dir, first);
    const std::vector<Trip> original = tripsFor(first, request(""));
    ASSERT_EQ(original.size(), 2u);

    const ExportSummary summary = exportTrips(first, request(dir.filePath("out.gpx")));
    EXPECT_EQ(summary.trips, 2);
    EXPECT_EQ(QDir(dir.path()).entryList({".*part*"}, QDir::Files | QDir::Hidden).size(), 0);

    Store second(dir.filePath("second.sqlite"));
    importGpx(second, {"Экспорт", "Фургон", "А001АА", 501}, {dir.filePath("out.gpx")});
    const std::vector<Trip> again = tripsFor(second, request(""));
    ASSERT_EQ(again.size(), original.size());
    for (size_t t = 0; t < again.size(); ++t) {
        EXPECT_EQ(again[t].points.size(), original[t].points.size());
        EXPECT_NEAR(again[t].begin, original[t].begin, 0.5 / 86400);
        EXPECT_NEAR(again[t].end, original[t].end, 0.5 / 86400);
        EXPECT_NEAR(mileage(again[t]), mileage(original[t]), mileage(original[t]) * 0.001);
    }
    for (const char* format : {"kml", "geojson"}) { // the other writers take the same trips
        ExportRequest r = request(dir.filePath(QStringLiteral("out.") + format));
        r.format = *exportFormat(format);
        r.trip = 2;
        EXPECT_EQ(exportTrips(first, r).trips, 1);
        EXPECT_GT(QFileInfo(r.path).size(), 1000);
    }
}

TEST(Export, WhatIsWrongIsNamedAndNoFileIsLeft) {
    QTemporaryDir dir;
    Store store(dir.filePath("s.sqlite"));
    storeTheDrives(dir, store);
    const auto refused = [&](ExportRequest r, const char* said) {
        try {
            exportTrips(store, r);
            ADD_FAILURE() << "exported " << r.path.toStdString();
        } catch (const VantrelError& error) {
            EXPECT_TRUE(error.text().contains(QString::fromUtf8(said))) << error.text().toStdString();
        }
        EXPECT_FALSE(QFileInfo::exists(r.path));
    };
    ExportRequest r = request(dir.filePath("a.gpx"));
    r.group = "Нет такой";
    refused(r, "Нет группы «Нет такой»");
    refused(request(dir.filePath("b.gpx"), 999), "Нет машины с прибором 999");
    r = request(dir.filePath("c.gpx"));
    r.from = r.to - 1.0 / 24 / 60;
    refused(r, "нет рейсов");
    r = request(dir.filePath("d.gpx"));
    r.trip = 3;
    refused(r, "Нет рейса 3");
    refused(request(dir.filePath("no/such/folder/e.gpx")), "Не удалось");
    EXPECT_EQ(QDir(dir.path()).entryList({"*.gpx", ".*part*"}, QDir::Files | QDir::Hidden), QStringList{"drives.gpx"});
}

TEST(Export, AFullDiskOrASpecialFileLeavesTheTargetAsItWasAndSaysWhy) {
    QTemporaryDir dir;
    Store store(dir.filePath("s.sqlite"));
    storeTheDrives(dir, store);
    const QString path = dir.filePath("рейсы «1» 100%.gpx");
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write("old trips") == 9);
    old.close();
    for (const ExportFormat format : {ExportFormat::Gpx, ExportFormat::Kml, ExportFormat::GeoJson}) {
        ExportRequest r = request(path);
        r.format = format;
        const QString said = onSmallDisk(16 * 1024, [&] { exportTrips(store, r); });
        EXPECT_TRUE(said.contains(path) && said.contains("нет места на диске")) << said.toStdString();
        QFile kept(path);
        EXPECT_TRUE(kept.open(QIODevice::ReadOnly) && kept.readAll() == "old trips");
    }
    const QString fifo = dir.filePath("канал");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_THROW(exportTrips(store, request(fifo)), VantrelError);
    struct stat status {};
    ASSERT_EQ(::lstat(QFile::encodeName(fifo).constData(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    EXPECT_EQ(QDir(dir.path()).entryList({".*part*"}, QDir::Files | QDir::Hidden), QStringList());
}

// The demo data has moments with two messages: a vehicle's arrival and the first sample of the
// stop that follows it, each with its own jitter of position. Every one of them comes back.
TEST(Export, ATripOfTheDemoDataComesBackWithEveryPoint) {
    QTemporaryDir dir;
    Store demo(dir.filePath("demo.sqlite"));
    createDemoData(demo);
    const Group ninth = demo.groups().at(8);
    ExportRequest r = request(dir.filePath("trip.gpx"), demo.cars(ninth.id).front().device);
    r.group = ninth.id;
    r.to = datetime::parseText(QStringLiteral("05.03.2009 00:00:00"));
    r.trip = 1;
    const qint64 exported = exportTrips(demo, r).points;
    Store fresh(dir.filePath("fresh.sqlite"));
    const GpxImportSummary summary = importGpx(fresh, {"Обратно", "Та же", "", r.device}, {r.path});
    EXPECT_EQ(summary.added, exported);
    EXPECT_EQ(summary.skipped, 0);
    const auto trips = computeTrips(fresh.messages(r.device, r.from, r.to), {});
    ASSERT_EQ(trips.size(), 1u);
    EXPECT_EQ(qint64(trips[0].points.size()), exported);
}
