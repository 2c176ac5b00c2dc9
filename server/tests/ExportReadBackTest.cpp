#include "DateTimeValue.h"
#include "GpxImport.h"
#include "ScopedTimeZone.h"
#include "Store.h"
#include "TripExport.h"
#include "UtcClock.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogrsf_frmts.h>

using namespace vserver;

namespace {

const QRegularExpression kUtc(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d{1,3})?Z$)"));

// What a GPX 1.1 element may hold, in the schema's order (the parts we write or could).
const std::map<QString, QStringList>& gpxOrder() {
    static const QStringList point = {"ele",  "time",          "magvar", "geoidheight", "name",
                                      "cmt",  "desc",          "src",    "link",        "sym",
                                      "type", "fix",           "sat",    "hdop",        "vdop",
                                      "pdop", "ageofdgpsdata", "dgpsid", "extensions"};
    static const std::map<QString, QStringList> order = {
        {"gpx", {"metadata", "wpt", "rte", "trk", "extensions"}},
        {"metadata",
         {"name", "desc", "author", "copyright", "link", "time", "keywords", "bounds",
          "extensions"}},
        {"wpt", point},
        {"trkpt", point},
        {"trk", {"name", "cmt", "desc", "src", "link", "number", "type", "extensions", "trkseg"}},
        {"trkseg", {"trkpt", "extensions"}},
    };
    return order;
}

// Checks a GPX file against GPX 1.1's element order and value ranges; returns what is wrong.
QString gpxFaults(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    QXmlStreamReader xml(&file);
    const QString gpx = "http://www.topografix.com/GPX/1/1",
                  tpx = "http://www.garmin.com/xmlschemas/TrackPointExtension/v2";
    const QStringList repeated = {"wpt", "rte", "trk", "link", "trkseg", "trkpt"};
    std::vector<std::pair<QString, int>> open; // element, index of its last child in the order
    QString faults;
    while (xml.readNext() != QXmlStreamReader::Invalid && !xml.atEnd()) {
        if (xml.isEndElement() && !open.empty() && xml.namespaceUri() == gpx)
            open.pop_back();
        if (!xml.isStartElement())
            continue;
        const QString name = xml.name().toString(),
                      where = QString::number(xml.lineNumber()) + ": ";
        if (xml.namespaceUri() != gpx) {
            if (open.empty() || open.back().first != "extensions")
                faults += where + name + " in a foreign namespace outside <extensions>\n";
            if (xml.namespaceUri() == tpx && (name == "speed" || name == "course")) {
                const double value = xml.readElementText().toDouble();
                if (value < 0 || (name == "course" && value >= 360))
                    faults += where + name + " out of range\n";
            }
            continue;
        }
        if (!open.empty()) {
            const auto model = gpxOrder().find(open.back().first);
            const int index = model == gpxOrder().end() ? -1 : int(model->second.indexOf(name));
            if (index < 0 || index < open.back().second ||
                (index == open.back().second && !repeated.contains(name)))
                faults += where + name + " not allowed here in " + open.back().first + "\n";
            open.back().second = index;
        }
        if (name == "wpt" || name == "trkpt") {
            const double lat = xml.attributes().value("lat").toDouble(),
                         lon = xml.attributes().value("lon").toDouble();
            if (xml.attributes().value("lat").isEmpty() || std::abs(lat) > 90 ||
                std::abs(lon) > 180)
                faults += where + "bad position\n";
        }
        if (name != "time")
            open.emplace_back(name, -1);
        else if (!kUtc.match(xml.readElementText()).hasMatch())
            faults += where + "time not in UTC ISO 8601\n";
    }
    if (xml.hasError())
        faults +=
            "malformed: " + xml.errorString() + " at line " + QString::number(xml.lineNumber());
    return faults;
}

struct Layer {
    qint64 features = 0, linePoints = 0;
    std::vector<QString> names;
};

// What GDAL/OGR reads from each layer of a file.
std::map<QString, Layer> readWithGdal(const QString& path) {
    GDALAllRegister();
    std::map<QString, Layer> layers;
    GDALDatasetUniquePtr data(
        GDALDataset::Open(path.toUtf8().constData(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    if (!data)
        return layers;
    for (OGRLayer* layer : data->GetLayers()) {
        Layer& read = layers[QString::fromUtf8(layer->GetName())];
        for (const auto& feature : *layer) {
            ++read.features;
            if (const OGRGeometry* geometry = feature->GetGeometryRef();
                geometry && wkbFlatten(geometry->getGeometryType()) == wkbLineString)
                read.linePoints += geometry->toLineString()->getNumPoints();
            if (const int field = feature->GetFieldIndex("name"); field >= 0)
                read.names.push_back(QString::fromUtf8(feature->GetFieldAsString(field)));
        }
    }
    return layers;
}

// The track points gpsbabel reads: "lat,lon,…,date,time" lines after the header.
QStringList readWithGpsbabel(const QString& format, const QString& path) {
    QProcess babel;
    babel.start("gpsbabel", {"-t", "-i", format, "-f", path, "-o", "unicsv,utc=0", "-F", "-"});
    babel.waitForFinished(60000);
    QStringList lines = QString::fromUtf8(babel.readAllStandardOutput())
                            .remove(u'\r')
                            .split(u'\n', Qt::SkipEmptyParts);
    return lines.mid(1);
}

QString munichDrive() {
    return qEnvironmentVariable("VANTREL_SHARED_DATA") + "/tracks/munich_barefoot/x0001-001.gpx";
}

// The Munich drive exported in `format` from a store of its own; the count of points.
qint64 exportMunich(const QTemporaryDir& dir, const QString& format) {
    Store store(dir.filePath(format + ".sqlite"));
    importGpx(store, {"Мюнхен", "BMW", "M-X 1", 9001}, {munichDrive()});
    ExportRequest r;
    r.group = "Мюнхен", r.device = 9001, r.format = *exportFormat(format),
    r.path = dir.filePath("drive." + format);
    r.from = datetime::parseText("01.09.2014"), r.to = datetime::parseText("20.09.2014");
    return exportTrips(store, r).points;
}

} // namespace

TEST(ExportReadBack, TheMunichDriveComesBackWholeInGdalAndJson) {
    if (!QFile::exists(munichDrive()))
        GTEST_SKIP() << "no shared recordings at " << munichDrive().toStdString();
    QTemporaryDir dir;
    for (const QString format : {"gpx", "kml", "geojson"}) {
        const qint64 points = exportMunich(dir, format);
        const QString path = dir.filePath("drive." + format);
        auto layers = readWithGdal(path);
        if (format == "gpx") {
            EXPECT_EQ(gpxFaults(path), "");
            EXPECT_EQ(layers["track_points"].features, points);
            ASSERT_FALSE(layers["tracks"].names.empty());
            EXPECT_EQ(layers["tracks"].names[0], "BMW M-X 1 — рейс 1");
        } else if (format == "kml") {
            EXPECT_EQ(layers["Рейсы"].linePoints, points);
            EXPECT_EQ(layers["Рейсы"].names.at(0), "BMW M-X 1 — рейс 1");
            EXPECT_GT(layers["События"].features, 0);
        } else {
            ASSERT_EQ(layers.size(), 1u); // named after the vehicle, not «events»
            EXPECT_EQ(layers.begin()->first, "BMW M-X 1 — рейсы");
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            QJsonParseError error;
            const QJsonObject trip = QJsonDocument::fromJson(file.readAll(), &error)
                                         .object()["features"][0]["properties"]
                                         .toObject(); // the drive is one trip
            ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
            EXPECT_EQ(trip["times"].toArray().size(), points);
            EXPECT_EQ(trip["speeds_kmh"].toArray().size(), points);
            EXPECT_EQ(trip["times"][0].toString(), "2014-09-10T04:54:07Z");
            EXPECT_GT(trip["mileage_km"].toDouble(), 1);
            EXPECT_EQ(layers.begin()->second.linePoints, points);
        }
    }
}

TEST(ExportReadBack, GpsbabelReadsEveryPointAndTimeOfGpxAndKml) {
    if (!QFile::exists(munichDrive()))
        GTEST_SKIP() << "no shared recordings at " << munichDrive().toStdString();
    if (QStandardPaths::findExecutable("gpsbabel").isEmpty())
        GTEST_SKIP() << "gpsbabel is not installed";
    QTemporaryDir dir;
    for (const QString format : {"gpx", "kml"}) {
        const qint64 points = exportMunich(dir, format);
        const QStringList read = readWithGpsbabel(format, dir.filePath("drive." + format));
        ASSERT_EQ(read.size(), points) << format.toStdString();
        EXPECT_TRUE(read.first().endsWith(",2014/09/10,04:54:07")) << read.first().toStdString();
    }
}

// The worst of what a store can hold: a trip of one point, a jump of 1,000 km, no speeds, an
// entry without a place, a vehicle named with quotes, «&», «<», a control character and 900
// letters; and a period of 10,000 trips.
TEST(ExportReadBack, AwkwardTripsStillGiveFilesEveryReaderTakes) {
    QTemporaryDir dir;
    const QString awkward = "Фура \"Север\" & <Юг> " + QString(900, QChar(u'Ж')) + QChar(1);
    const double start = datetime::parseText("02.03.2009 06:00:00"), second = datetime::kOneSecond;
    for (const int count : {3, 10000}) {
        ExportContent content;
        content.car = {1, "g", count == 3 ? awkward : "Фура", "", 77, ""};
        for (int t = 0; t < count; ++t) {
            const double begin = start + t / 24.0;
            Trip trip{begin, begin + 60 * second, {}, {}};
            for (int i = 0; i < (t == 0 ? 1 : 3); ++i)
                trip.points.push_back({begin + 30 * i * second, 37.6 + 0.001 * i, 55.7, 10.0 * i,
                                       i == 1 ? 72.0 : 0.0});
            if (t == 1) // 1,000 km in a second, and a device that sends no speed
                trip.points[1].lat += 9, trip.points[1].speed = kNoValue;
            trip.entries["parks"].push_back(
                {begin, begin + 60 * second, 0, 0, 0, 0, 0, 37.6, 55.7});
            trip.entries["over_speed"].push_back({begin, begin + second, 95, 0, 0, 0, 0, 0, 0});
            content.trips.push_back(std::move(trip));
        }
        for (const QString format : {"gpx", "kml", "geojson"}) {
            const QString path = dir.filePath(QString::number(count) + "." + format);
            const ExportSummary summary = writeTrips(content, *exportFormat(format), path);
            EXPECT_EQ(summary.points, 1 + 3 * (count - 1));
            // GDAL reads the small period; the large one its own schema check and JSON parser.
            const bool small = count == 3;
            auto layers = small ? readWithGdal(path) : std::map<QString, Layer>();
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            if (format == "gpx") {
                EXPECT_EQ(gpxFaults(path), "");
                EXPECT_EQ(summary.events, count); // the entries without a place have no waypoint
                if (small) {
                    EXPECT_EQ(layers["track_points"].features, summary.points);
                    EXPECT_EQ(layers["waypoints"].features, count);
                    ASSERT_EQ(layers["tracks"].features, count);
                    EXPECT_TRUE(layers["tracks"].names[0].startsWith(content.car.name.left(900)));
                }
            } else if (format == "kml") {
                QXmlStreamReader xml(&file);
                qint64 when = 0, coord = 0;
                while (!xml.atEnd())
                    if (xml.readNext() == QXmlStreamReader::StartElement)
                        when += xml.name() == u"when", coord += xml.name() == u"coord";
                EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
                EXPECT_EQ(when, summary.points);
                EXPECT_EQ(coord, summary.points);
                if (small) {
                    EXPECT_EQ(layers["События"].features, 2 * count);
                    ASSERT_EQ(layers["Рейсы"].features, count);
                    EXPECT_TRUE(layers["Рейсы"].names[0].startsWith(content.car.name.left(900)));
                }
            } else {
                QJsonParseError error;
                const QJsonArray features =
                    QJsonDocument::fromJson(file.readAll(), &error).object()["features"].toArray();
                ASSERT_EQ(error.error, QJsonParseError::NoError)
                    << error.errorString().toStdString();
                ASSERT_EQ(features.size(), 3 * count);
                EXPECT_EQ(features[0]["geometry"]["type"].toString(),
                          "Point"); // one point is no line
                EXPECT_EQ(features[1]["geometry"].type(),
                          QJsonValue::Null); // an entry without a place
                EXPECT_EQ(features[3]["properties"]["speeds_kmh"].toArray()[1].type(),
                          QJsonValue::Null);
                EXPECT_EQ(features[0]["properties"]["vehicle"].toString(), content.car.name);
                EXPECT_EQ(small ? layers.begin()->second.features : 3 * count, 3 * count);
            }
        }
    }
}

// The zone's offset is looked up once a day, but on the nights the clocks change each moment
// still gets its own: every ten minutes through both of Moscow's 2009 nights, one after another.
TEST(ExportReadBack, UtcTimesFollowTheClockChangesOfTheNight) {
    const ScopedTimeZone moscow("Europe/Moscow");
    UtcClock clock;
    for (const char* night : {"28.03.2009 20:00:00", "24.10.2009 20:00:00"})
        for (int step = 0; step < 60; ++step) {
            const double value = datetime::parseText(night) + step * 600 * datetime::kOneSecond;
            const QDateTime wall = datetime::toQDateTime(value);
            // The moment the zone's rules give (toUTC() of a time in the spring gap is 3 h off).
            const qint64 ms =
                QDateTime(wall.date(), wall.time(), Qt::LocalTime).toMSecsSinceEpoch();
            const QString utc = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODate);
            ASSERT_EQ(QString(clock.text(value)), utc) << datetime::formatText(value).toStdString();
        }
}
