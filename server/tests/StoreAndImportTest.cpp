#include "AutomationService.h"
#include "Computation.h"
#include "DateTimeValue.h"
#include "DemoData.h"
#include "GpxImport.h"
#include "Store.h"
#include "VantrelError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include "QtPrinters.h"
#include "ScopedTimeZone.h"

#include <gtest/gtest.h>

using namespace vserver;

namespace {

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& content) {
    const QString path = dir.filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(content);
    return path;
}

const QByteArray kGoodGpx = R"(<?xml version="1.0"?>
<gpx version="1.1" xmlns="http://www.topografix.com/GPX/1/1"><trk><trkseg>
<trkpt lat="48.1" lon="11.5"><time>2014-09-10T04:54:07Z</time><speed>10</speed></trkpt>
<trkpt lat="48.1001" lon="11.5002"><time>2014-09-10T04:54:17Z</time></trkpt>
</trkseg></trk></gpx>)";

} // namespace

TEST(Store, KeepsGroupsCarsMessagesAndCheckpoints) {
    QTemporaryDir dir;
    Store store(dir.filePath("s.sqlite"));
    store.begin();
    store.addGroup({"g1", "Север"});
    store.addGroup({"g0", "Юг"});
    const int id = store.addCar({0, "g1", "ГАЗель", "А001АА77", 555, "cp"});
    store.addMessages(555, {{100.5, 37, 55, 12, true, false, 40, kNoValue, 0b101},
                            {100.1, 37.1, 55.1, kNoValue, false, true, kNoValue, 7, 0}});
    store.addCheckpointList("cp", {{"База", "гараж", 55, 37, 150}});
    store.commit();

    const auto groups = store.groups();
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].name, "Север"); // in the order they were added
    const auto cars = store.cars("g1");
    ASSERT_EQ(cars.size(), 1u);
    EXPECT_EQ(cars[0].id, id);
    EXPECT_EQ(cars[0].device, 555);
    const auto messages = store.messages(555, 100, 101);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_DOUBLE_EQ(messages[0].time, 100.1); // ascending time
    EXPECT_TRUE(std::isnan(messages[0].speed));
    EXPECT_FALSE(messages[0].signal);
    EXPECT_EQ(messages[1].sensors, 0b101);
    EXPECT_FALSE(messages[1].power);
    EXPECT_TRUE(store.messages(555, 100.2, 100.4).empty());
    EXPECT_EQ(store.checkpoints("cp").at(0).radius, 150);
}

TEST(Store, AReplacedRequestStopsInsideTheQueryAndTheStoreReadsOn) {
    QTemporaryDir dir;
    Store store(dir.filePath("s.sqlite"));
    store.begin();
    store.addGroup({"g1", "Север"});
    store.addCar({0, "g1", "ГАЗель", "", 555, ""});
    std::vector<Message> many(20000, Message{100, 37, 55, 12, true, true, kNoValue, kNoValue, 0});
    for (size_t i = 0; i < many.size(); ++i)
        many[i].time += i / 86400.0;
    store.addMessages(555, many);
    store.commit();
    const auto latest = std::make_shared<std::atomic<quint64>>(2);
    EXPECT_THROW(store.messages(555, 0, 1e9, CancelToken(latest, 1)), Cancelled);
    EXPECT_EQ(store.messages(555, 0, 1e9, CancelToken(latest, 2)).size(), many.size());
}

TEST(GpxImport, StoresAGoodFileAsOneVehiclesMessages) {
    QTemporaryDir dir;
    Store store(dir.filePath("s.sqlite"));
    const QString file = writeFile(dir, "a.gpx", kGoodGpx);
    EXPECT_EQ(importGpx(store, {"Мои поездки", "Велосипед", "—", 42}, {file}).added, 2);
    ASSERT_EQ(store.groups().size(), 1u);
    EXPECT_EQ(store.groups()[0].name, "Мои поездки");
    const auto messages = store.messages(42, 0, 1e6);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_DOUBLE_EQ(messages[0].speed, 36); // 10 m/s
    EXPECT_TRUE(std::isnan(messages[1].speed));
    // A second import of the same file adds nothing: every point is already there.
    const GpxImportSummary again = importGpx(store, {"Мои поездки", "Велосипед", "", 42}, {file, file});
    EXPECT_EQ(again.added, 0);
    EXPECT_EQ(again.skipped, 4);
    EXPECT_EQ(store.allCars().size(), 1u);
    EXPECT_EQ(store.messages(42, 0, 1e6).size(), 2u);
    // The same moments at other places are other messages: kept.
    const QString moved = writeFile(dir, "b.gpx", QByteArray(kGoodGpx).replace("48.1", "48.2"));
    EXPECT_EQ(importGpx(store, {"Мои поездки", "Велосипед", "", 42}, {moved}).added, 2);
}

TEST(GpxImport, ADeviceOfAnotherVehicleIsRefusedUnlessAppended) {
    QTemporaryDir dir;
    Store store(dir.filePath("s.sqlite"));
    const QString file = writeFile(dir, "a.gpx", kGoodGpx);
    importGpx(store, {"Экспедиция", "МАЗ 5440", "Р359ТА77", 1080}, {file});
    const QString later = writeFile(dir, "b.gpx", QByteArray(kGoodGpx).replace("2014-09-10", "2014-09-11"));
    for (const GpxImportTarget& other : {GpxImportTarget{"Экспедиция", "Чужая машина", "", 1080},
                                         GpxImportTarget{"Экспедиция", "МАЗ 5440", "А000АА00", 1080}}) {
        try {
            importGpx(store, other, {later});
            FAIL();
        } catch (const VantrelError& error) {
            EXPECT_TRUE(error.text().contains("«МАЗ 5440» (номер «Р359ТА77»)")) << error.what();
            EXPECT_TRUE(error.text().contains("--append"));
        }
    }
    EXPECT_EQ(store.messages(1080, 0, 1e6).size(), 2u);
    GpxImportTarget appended{"Экспедиция", "Чужая машина", "", 1080, true};
    EXPECT_EQ(importGpx(store, appended, {later}).added, 2);
    EXPECT_EQ(store.carOfDevice(1080)->name, "МАЗ 5440");
    EXPECT_THROW(importGpx(store, {"Другая группа", "МАЗ 5440", "", 1080, true}, {later}), VantrelError);
}

TEST(GpxImport, RefusesWhatCannotBeAPointWithFileLineAndReasonStoringNothing) {
    QTemporaryDir dir;
    Store store(dir.filePath("s.sqlite"));
    const QString good = writeFile(dir, "good.gpx", kGoodGpx);
    const auto point = [](const QString& attributes, const QString& inside = "<time>2014-09-10T04:54:07Z</time>") {
        return QString("<gpx xmlns=\"http://www.topografix.com/GPX/1/1\"><trk><trkseg>\n<trkpt %1>%2</trkpt>"
                       "</trkseg></trk></gpx>").arg(attributes, inside).toUtf8();
    };
    const std::vector<std::pair<QByteArray, QString>> cases = {
        {point("lat=\"NaN\" lon=\"11\""), "координат"},
        {point("lat=\"48\" lon=\"inf\""), "координат"},
        {point("lat=\"48\" lon=\"181\""), "координат"},
        {point("lat=\"48\" lon=\"11\"", "<time>2014-09-10T04:54:07Z</time><speed>1e300</speed>"), "скорость"},
        {point("lat=\"48\" lon=\"11\"", "<time>2014-09-10T04:54:07Z</time><speed>nan</speed>"), "скорость"},
        {point("lat=\"48\" lon=\"11\"", "<trkpt lat=\"48\" lon=\"11\"><time>2014-09-10T04:54:07Z</time></trkpt>"),
         "внутри другой"},
        {point("lat=\"48\" lon=\"11\"", "<time>2014-09-10T04:54:07Z</time><x:speed xmlns:x=\"urn:x\">5</x:speed>"),
         "чужого пространства"},
        {"<gpx xmlns=\"http://www.topografix.com/GPX/1/1\"><trk><trkseg></trkseg></trk></gpx>", "нет точек"},
        {QByteArray(kGoodGpx).left(150), "обрывается"},
        {QByteArray(kGoodGpx).left(60), "ожидалось «>»"},
        {"<?xml version=\"1.0\" encoding=\"x-unheard-of\"?><gpx/>", "кодировка файла не поддерживается"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const QString bad = writeFile(dir, QString("%1_%2_bad%3.gpx").arg("%1", "%2").arg(i), cases[i].first);
        try {
            importGpx(store, {"G", "C", "N", 7}, {good, bad});
            ADD_FAILURE() << "accepted case " << i;
        } catch (const VantrelError& error) {
            EXPECT_TRUE(error.text().startsWith(bad + ":")) << error.what(); // "%1" in the name stays
            EXPECT_TRUE(error.text().contains(cases[i].second)) << error.what();
        }
    }
    EXPECT_TRUE(store.groups().empty());
    EXPECT_TRUE(store.messages(7, 0, 1e9).empty());
    // Other namespaces are at home inside <extensions>.
    const QString extended = writeFile(dir, "ext.gpx", point("lat=\"48\" lon=\"11\"",
        "<time>2014-09-10T04:54:07Z</time><extensions><x:hr xmlns:x=\"urn:x\"><x:v>80</x:v></x:hr></extensions>"));
    EXPECT_EQ(readGpx(extended).size(), 1u);
    // A file declared in windows-1251 is read; a folder is named as one.
    const QString cyrillic = writeFile(dir, "1251.gpx", "<?xml version=\"1.0\" encoding=\"windows-1251\"?>" +
                                                            point("lat=\"48\" lon=\"11\"", "<time>2014-09-10T04:54:07Z</time>"
                                                                  "<name>\xcf\xf3\xf2\xfc</name>"));
    EXPECT_EQ(readGpx(cyrillic).size(), 1u);
    try {
        readGpx(dir.path());
        ADD_FAILURE() << "read a folder";
    } catch (const VantrelError& error) {
        EXPECT_TRUE(error.text().contains("это папка")) << error.what();
    }
}

TEST(GpxImport, UtcBecomesMoscowWallClockAcrossBothDaylightSavingNights) {
    const ScopedTimeZone moscow("Europe/Moscow");
    QTemporaryDir dir;
    const QString file = writeFile(dir, "dst.gpx", R"(<gpx xmlns="http://www.topografix.com/GPX/1/1"><trk><trkseg>
<trkpt lat="55.7" lon="37.6"><time>2009-03-28T22:59:59Z</time></trkpt>
<trkpt lat="55.7" lon="37.6"><time>2009-03-28T23:00:00Z</time></trkpt>
<trkpt lat="55.7" lon="37.6"><time>2009-10-24T22:30:00Z</time></trkpt>
<trkpt lat="55.7" lon="37.6"><time>2009-10-24T23:30:00Z</time></trkpt>
<trkpt lat="55.7" lon="37.6"><time>2009-10-24T23:45:00.5Z</time></trkpt>
<trkpt lat="55.7" lon="37.6"><time>2009-10-25T03:00:00+03:00</time></trkpt>
</trkseg></trk></gpx>)");
    QStringList local;
    for (const Message& m : readGpx(file))
        local << datetime::formatText(m.time);
    EXPECT_EQ(local, QStringList({"29.03.2009 01:59:59", "29.03.2009 03:00:00", "25.10.2009 02:30:00",
                                  "25.10.2009 02:30:00", "25.10.2009 02:45:00", "25.10.2009 03:00:00"}));

    // Leap days and the ends of months and years, read without a calendar class; a day a month
    // does not have is refused.
    const auto times = [&](const QStringList& utc) {
        QByteArray gpx = "<gpx><trk><trkseg>";
        for (const QString& time : utc)
            gpx += "<trkpt lat=\"55\" lon=\"37\"><time>" + time.toLatin1() + "</time></trkpt>";
        QStringList result;
        for (const Message& m : readGpx(writeFile(dir, "days.gpx", gpx + "</trkseg></trk></gpx>")))
            result << datetime::formatText(m.time);
        return result;
    };
    EXPECT_EQ(times({"1999-12-31T20:59:59Z", "2000-02-29T12:00:00Z", "2012-02-29T21:00:00Z",
                     "2100-02-28T21:00:00Z"}),
              QStringList({"31.12.1999 23:59:59", "29.02.2000 15:00:00", "01.03.2012 01:00:00",
                           "01.03.2100 00:00:00"}));
    for (const QString& missing :
         {"2013-02-29T00:00:00Z", "1900-02-29T00:00:00Z", "2009-04-31T00:00:00Z"})
        EXPECT_THROW(times({missing}), VantrelError) << missing.toStdString();
}

TEST(GpxImport, AMalformedFileIsRefusedWithItsLineAndNothingIsStored) {
    QTemporaryDir dir;
    Store store(dir.filePath("s.sqlite"));
    const QString good = writeFile(dir, "good.gpx", kGoodGpx);
    const QString noTime = writeFile(dir, "notime.gpx", R"(<gpx>
<trk><trkseg>
<trkpt lat="48.1" lon="11.5"></trkpt>
</trkseg></trk></gpx>)");
    const QString broken = writeFile(dir, "broken.gpx", "<gpx>\n<trk>\n<trkpt lat=\"1\" lon=\"2\">\n</gpx>");
    const QString badLat = writeFile(dir, "lat.gpx", "<gpx><trk><trkpt lat=\"91\" lon=\"2\"/></trk></gpx>");
    for (const QString& bad : {noTime, broken, badLat}) {
        try {
            importGpx(store, {"G", "C", "N", 7}, {good, bad});
            FAIL() << bad.toStdString();
        } catch (const VantrelError& error) {
            EXPECT_TRUE(error.text().startsWith(bad + ":")) << error.what();
        }
    }
    try {
        importGpx(store, {"G", "C", "N", 7}, {noTime});
    } catch (const VantrelError& error) {
        EXPECT_TRUE(error.text().contains("notime.gpx:3: точка без времени")) << error.what();
    }
    EXPECT_TRUE(store.groups().empty());
    EXPECT_TRUE(store.messages(7, 0, 1e9).empty());
}

TEST(GpxImport, RealRecordingsBecomeTrips) {
    const QString data = qEnvironmentVariable("VANTREL_SHARED_DATA");
    const QString munich = data + "/tracks/munich_barefoot/x0001-001.gpx";
    if (!QFile::exists(munich))
        GTEST_SKIP() << "no shared recordings at " << munich.toStdString();
    QTemporaryDir dir;
    Store store(dir.filePath("s.sqlite"));
    const qint64 stored = importGpx(store, {"Мюнхен", "BMW", "M-X 1", 9001}, {munich}).added;
    EXPECT_GT(stored, 100);
    const auto trips = computeTrips(store.messages(9001, 0, 1e9), {});
    ASSERT_FALSE(trips.empty());
    for (const Trip& trip : trips) {
        for (size_t i = 1; i < trip.points.size(); ++i)
            ASSERT_GE(trip.points[i].time, trip.points[i - 1].time);
        EXPECT_GT(trip.points.back().mileage, trip.points.front().mileage);
    }
}

TEST(GpxImport, ManyRidesInOneFileBecomeSeparateTrips) {
    const QString hof = qEnvironmentVariable("VANTREL_SHARED_DATA") + "/tracks/hof_fcd/hof_fcd_263_trips.gpx";
    if (!QFile::exists(hof))
        GTEST_SKIP() << "no shared recordings at " << hof.toStdString();
    QTemporaryDir dir;
    Store store(dir.filePath("s.sqlite"));
    // Rides of several cars under one device: a message given twice is kept once, and counted;
    // two cars' points of one moment at their own places are both kept.
    const GpxImportSummary summary = importGpx(store, {"Хоф", "FCD", "HO", 9100}, {hof});
    EXPECT_EQ(summary.added + summary.skipped, 14651);
    EXPECT_EQ(summary.added, 14487);
    const auto trips = computeTrips(store.messages(9100, 0, 1e9), {});
    EXPECT_GT(trips.size(), 150u); // 263 recorded rides, some too short or standing to count
    for (const Trip& trip : trips)
        for (size_t i = 1; i < trip.points.size(); ++i)
            ASSERT_LT((trip.points[i].time - trip.points[i - 1].time) * 86400, 3600);
}

TEST(DemoData, TheEighthGroupsFirstVehicleShowsEveryKindOfEntry) {
    QTemporaryDir dir;
    Store store(dir.filePath("demo.sqlite"));
    createDemoData(store);
    const auto groups = store.groups();
    ASSERT_GE(groups.size(), 8u);
    const auto cars = store.cars(groups[7].id);
    ASSERT_FALSE(cars.empty());
    const auto trips = computeTrips(store.messages(cars[0].device, 39119, 40000),
                                    store.checkpoints(cars[0].checkpointList));
    ASSERT_GE(trips.size(), 3u);
    for (const char* kind : {"parks", "blinds", "power_off", "over_speed", "tank-num1", "tank-num2",
                             "sensor_on-num1", "sensor_on-num2", "sensor_on-num3", "sensor_on-num4",
                             "sensor_on-num5", "sensor_on-num6", "checkpoints-stages"})
        EXPECT_FALSE(trips[0].entries.at(kind).empty()) << kind;

    // Every vehicle reaches every stop of its day: three trips a day, the first with two stops.
    for (const Group& group : groups)
        for (const Car& car : store.cars(group.id)) {
            const auto own = computeTrips(store.messages(car.device, 0, 1e9), {});
            EXPECT_EQ(own.size(), 9u) << car.device;
            ASSERT_FALSE(own.empty());
            EXPECT_EQ(own[0].entries.at("parks").size(), 2u) << car.device;
        }

    // The same seed gives the same data.
    Store again(dir.filePath("again.sqlite"));
    createDemoData(again);
    EXPECT_EQ(again.messageCount(), store.messageCount());
    const auto a = store.messages(cars[0].device, 0, 1e9), b = again.messages(cars[0].device, 0, 1e9);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_DOUBLE_EQ(a[a.size() / 2].lon, b[b.size() / 2].lon);
}

TEST(DemoData, TheBaseMapIsWrittenBesideItsChart) {
    QTemporaryDir dir;
    writeDemoMap(dir.filePath("maps"));
    QFile chart(dir.filePath("maps/ecatsub.chart"));
    ASSERT_TRUE(chart.open(QIODevice::ReadOnly));
    EXPECT_TRUE(chart.readAll().contains("dataset demo_roads.geojson"));
    QFile roads(dir.filePath("maps/demo_roads.geojson"));
    ASSERT_TRUE(roads.open(QIODevice::ReadOnly));
    EXPECT_TRUE(roads.readAll().contains("\"highway\":\"trunk\""));
}

// Long recordings are stored while they are read, a chunk at a time: repeats across a chunk's
// edge and points stored before are found there too, and a recording out of time order ends up
// as if it had been sorted first.
TEST(GpxImport, ALongRecordingSkipsTheSameRepeatsInOrderOrNot) {
    QTemporaryDir dir;
    Store store(dir.filePath("s.sqlite"));
    constexpr int kPoints = 70000; // more than one chunk
    const QDateTime start(QDate(2014, 9, 10), QTime(4, 0), Qt::UTC);
    const auto recording = [&](bool backwards) {
        QByteArray gpx = "<gpx xmlns=\"http://www.topografix.com/GPX/1/1\"><trk><trkseg>\n";
        for (int n = 0; n < kPoints; ++n) {
            const int i = backwards ? kPoints - 1 - n : n;
            const int second = i == 65536 ? i - 1 : i; // the same time as the point before
            gpx += "<trkpt lat=\"48\" lon=\"11\"><time>" + start.addSecs(second).toString(Qt::ISODate).toLatin1() +
                   "</time></trkpt>\n";
        }
        return gpx + "</trkseg></trk></gpx>";
    };
    // Two of the recording's own points, stored before it.
    const QString earlier = writeFile(dir, "one.gpx", QByteArray(kGoodGpx)
                                                          .replace("04:54:07", "04:20:00")
                                                          .replace("<speed>10</speed>", "")
                                                          .replace("lat=\"48.1\" lon=\"11.5\"", "lat=\"48\" lon=\"11\"")
                                                          .replace("lat=\"48.1001\" lon=\"11.5002\"", "lat=\"48\" lon=\"11\""));
    const QString forwards = writeFile(dir, "forwards.gpx", recording(false));
    const QString backwards = writeFile(dir, "backwards.gpx", recording(true));
    for (const auto& [device, file] : {std::pair{1, forwards}, std::pair{2, backwards}}) {
        importGpx(store, {"G", QString("C%1").arg(device), "", device}, {earlier}); // 04:20:00, 04:54:17
        const GpxImportSummary summary = importGpx(store, {"G", QString("C%1").arg(device), "", device}, {file});
        EXPECT_EQ(summary.added, kPoints - 3) << file.toStdString(); // two stored, one repeated
        EXPECT_EQ(summary.skipped, 3);
        const std::vector<Message> stored = store.messages(device, 0, 1e6);
        ASSERT_EQ(stored.size(), size_t(kPoints - 1));
        EXPECT_TRUE(std::is_sorted(stored.begin(), stored.end(),
                                   [](const Message& a, const Message& b) { return a.time < b.time; }));
    }
}

// What the service says to a caller: the same period rule as export and the trip sheet, a long
// argument quoted short, and a store removed under it said, never answered as empty.
TEST(Service, PeriodsLongArgumentsAndARemovedStoreAreSaid) {
    QTemporaryDir dir;
    const QString path = dir.filePath("s.sqlite");
    {
        Store store(path);
        importGpx(store, {"Мои поездки", "Велосипед", "", 42}, {writeFile(dir, "a.gpx", kGoodGpx)});
    }
    AutomationService service(path);
    ASSERT_EQ(service.GroupCount(), 1);
    const QString group = Store(path).groups().front().id;
    const auto said = [](const std::function<void()>& call) {
        try {
            call();
        } catch (const VantrelError& error) {
            return error.text();
        }
        return QString();
    };
    EXPECT_EQ(said([&] { service.ComputeTrack(group, 42, "10.09.2014 06:00:00", "10.09.2014 05:00:00", "GSM", 1); }),
              "Конец периода должен быть позже его начала");
    const QString huge(1000000, QLatin1Char('x'));
    EXPECT_LT(said([&] { service.SelectGroup(huge); }).size(), 300);
    EXPECT_LT(said([&] { service.ComputeTrack(group, 42, huge, huge, "GSM", 1); }).size(), 300);

    ASSERT_TRUE(QFile::remove(path));
    EXPECT_TRUE(said([&] { service.GroupCount(); }).contains("удалён")) << said([&] { service.GroupCount(); }).toStdString();
    EXPECT_FALSE(QFile::exists(path));
}
