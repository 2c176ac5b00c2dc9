// A track file opened in the window: stored once in «Файлы», its span told, a wrong file refused.
#include "OpenedFile.h"

#include "QtPrinters.h"
#include "Store.h"
#include "VantrelError.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void write(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

const QByteArray kGpx = R"(<?xml version="1.0" encoding="UTF-8"?>
<gpx version="1.1" creator="test" xmlns="http://www.topografix.com/GPX/1/1"><trk><trkseg>
<trkpt lat="50.30" lon="11.90"><time>2020-05-01T08:00:00Z</time></trkpt>
<trkpt lat="50.31" lon="11.91"><time>2020-05-01T08:01:00Z</time></trkpt>
<trkpt lat="50.32" lon="11.92"><time>2020-05-01T08:02:00Z</time></trkpt>
</trkseg></trk></gpx>)";

const QByteArray kKml = R"(<?xml version="1.0" encoding="UTF-8"?>
<kml xmlns="http://www.opengis.net/kml/2.2" xmlns:gx="http://www.google.com/kml/ext/2.2"><Document>
<Placemark><name>Рейс</name><gx:Track>
<when>2020-05-01T08:00:00Z</when><when>2020-05-01T08:01:00Z</when><when>2020-05-01T08:02:00Z</when>
<gx:coord>11.90 50.30 500</gx:coord><gx:coord>11.91 50.31 500</gx:coord><gx:coord>11.92 50.32 500</gx:coord>
</gx:Track></Placemark>
<Placemark><name>Остановка</name><TimeSpan><begin>2020-05-01T08:01:00Z</begin></TimeSpan>
<Point><coordinates>11.91,50.31</coordinates></Point></Placemark>
<Placemark><TimeStamp><when>2020-05-01T08:03:00Z</when></TimeStamp>
<Point><coordinates>11.93,50.33</coordinates></Point></Placemark>
</Document></kml>)";

const QByteArray kGeoJson = R"({"type": "FeatureCollection", "features": [
{"type": "Feature", "geometry": {"type": "LineString", "coordinates": [[11.90, 50.30], [11.91, 50.31]]},
 "properties": {"times": ["2020-05-01T08:00:00Z", "2020-05-01T08:01:00Z"], "speeds_kmh": [0, 42.5]}},
{"type": "Feature", "geometry": {"type": "Point", "coordinates": [11.92, 50.32]},
 "properties": {"time": "2020-05-01T08:02:00Z"}},
{"type": "Feature", "geometry": {"type": "Point", "coordinates": [11.91, 50.31]},
 "properties": {"kind": "Остановка", "begin": "2020-05-01T08:01:00Z"}}]})";

} // namespace

TEST(OpenedFile, OpenedTwiceItIsStoredOnceWithItsSpan) {
    QTemporaryDir dir;
    const QString store = dir.filePath("store.sqlite");
    { vserver::Store create(store); }
    const QString path = dir.filePath("Поездка в Хоф.gpx");
    write(path, kGpx);
    const OpenedFile first = OpenedFile::import(store, path);
    EXPECT_EQ(first.car, "Поездка в Хоф");
    EXPECT_EQ(first.added, 3);
    EXPECT_NEAR((first.end - first.begin) * 86400, 120, 1e-3);
    const OpenedFile again = OpenedFile::import(store, path);
    EXPECT_EQ(again.device, first.device);
    EXPECT_EQ(again.added, 0);
    const vserver::Store stored(store);
    ASSERT_EQ(stored.groups().size(), 1u);
    EXPECT_EQ(stored.groups()[0].name, OpenedFile::kGroupName);
    EXPECT_EQ(stored.cars(stored.groups()[0].id).size(), 1u);
    EXPECT_NE(OpenedFile::deviceFor(dir.filePath("другой.gpx")), first.device);
}

TEST(OpenedFile, KmlTracksAndGeoJsonTimedPointsAreTheVehiclesPositions) {
    QTemporaryDir dir;
    const QString store = dir.filePath("store.sqlite");
    { vserver::Store create(store); }
    write(dir.filePath("trip.kml"), kKml);
    write(dir.filePath("trip.geojson"), kGeoJson);
    const OpenedFile kml = OpenedFile::import(store, dir.filePath("trip.kml"));
    EXPECT_EQ(kml.added, 4); // the track's three points and the stamped one, not the stop
    EXPECT_NEAR((kml.end - kml.begin) * 86400, 180, 1e-3);
    const OpenedFile json = OpenedFile::import(store, dir.filePath("trip.geojson"));
    EXPECT_EQ(json.added, 3);
    EXPECT_NEAR((json.end - json.begin) * 86400, 120, 1e-3);
    const std::vector<vserver::Message> stored =
        vserver::Store(store).messages(json.device, json.begin, json.end);
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_DOUBLE_EQ(stored[1].speed, 42.5);
    EXPECT_DOUBLE_EQ(stored[2].lon, 11.92);
    EXPECT_EQ(OpenedFile::import(store, dir.filePath("trip.kml")).added, 0);
}

TEST(OpenedFile, WhatIsNoTrackIsRefusedInRussianAndNothingIsStored) {
    QTemporaryDir dir;
    const QString store = dir.filePath("store.sqlite");
    { vserver::Store create(store); }
    write(dir.filePath("notes.txt"), "текст");
    write(dir.filePath("fake.gpx"), "<html>не трек</html>");
    write(dir.filePath("lines.kml"),
          R"(<kml xmlns="http://www.opengis.net/kml/2.2"><Placemark><LineString>
<coordinates>11.9,50.3 11.91,50.31</coordinates></LineString></Placemark></kml>)");
    write(dir.filePath("uneven.kml"),
          QByteArray(kKml).replace("<when>2020-05-01T08:02:00Z</when>", ""));
    write(dir.filePath("fake.geojson"), kGpx);
    write(dir.filePath("events.json"),
          QByteArray(kGeoJson).replace("times", "stamps").replace("\"time\"", "\"at\""));
    for (const char* name : {"notes.txt", "fake.gpx", "missing.gpx", "lines.kml", "uneven.kml",
                             "fake.geojson", "events.json"}) {
        try {
            OpenedFile::import(store, dir.filePath(name));
            ADD_FAILURE() << name << " was opened";
        } catch (const VantrelError& error) {
            EXPECT_TRUE(error.text().contains(name)) << error.what();
        }
    }
    EXPECT_TRUE(vserver::Store(store).groups().empty());
}
