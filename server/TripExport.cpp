#include "TripExport.h"

#include "AtomicFile.h"
#include "Computation.h"
#include "DateTimeValue.h"
#include "Store.h"
#include "VantrelError.h"

#include <QDateTime>
#include <cpl_vsi.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

namespace vserver {
namespace {

// A local wall-clock value as the UTC moment it names.
QDateTime utc(double value) {
    const QDateTime wall = datetime::toQDateTime(value);
    return QDateTime(wall.date(), wall.time(), Qt::LocalTime).toUTC();
}

// "2009-03-31T05:00:00Z".
QByteArray utcText(double value) { return utc(value).toString(Qt::ISODate).toUtf8(); }

void setUtc(OGRFeature& feature, const char* field, double value) {
    const QDateTime moment = utc(value);
    feature.SetField(field, moment.date().year(), moment.date().month(), moment.date().day(), moment.time().hour(),
                     moment.time().minute(), float(moment.time().second() + moment.time().msec() / 1000.0), 100);
}

OGRLayer* layer(GDALDataset& data, const char* name, OGRwkbGeometryType type, OGRSpatialReference& lonLat,
                std::initializer_list<std::pair<const char*, OGRFieldType>> fields) {
    OGRLayer* created = data.CreateLayer(name, &lonLat, type, nullptr);
    if (!created)
        throw VantrelError(QStringLiteral("GDAL не смог создать слой %1: %2").arg(QLatin1String(name), QString::fromUtf8(CPLGetLastErrorMsg())));
    for (const auto& [fieldName, type] : fields) {
        OGRFieldDefn field(fieldName, type);
        created->CreateField(&field);
    }
    return created;
}

void add(OGRLayer& into, OGRFeature& feature) {
    if (into.CreateFeature(&feature) != OGRERR_NONE)
        throw VantrelError(QStringLiteral("GDAL не смог записать объект: ") + QString::fromUtf8(CPLGetLastErrorMsg()));
}

QByteArray durationText(const Entry& entry) { return vserver::durationText(entry.end - entry.begin).toUtf8(); }

} // namespace

std::optional<ExportFormat> exportFormat(const QString& name) {
    const QString lower = name.toLower();
    if (lower == QLatin1String("gpx"))
        return ExportFormat::Gpx;
    if (lower == QLatin1String("kml"))
        return ExportFormat::Kml;
    if (lower == QLatin1String("geojson"))
        return ExportFormat::GeoJson;
    return std::nullopt;
}

QString entryKindName(const QString& key) {
    static const std::map<QString, QString> names = {
        {QStringLiteral("parks"), QStringLiteral("Остановка")},
        {QStringLiteral("blinds"), QStringLiteral("Нет сигнала")},
        {QStringLiteral("power_off"), QStringLiteral("Нет питания")},
        {QStringLiteral("over_speed"), QStringLiteral("Превышение скорости")},
        {QStringLiteral("tank-num1"), QStringLiteral("Заправка или слив бака №1")},
        {QStringLiteral("tank-num2"), QStringLiteral("Заправка или слив бака №2")},
        {QStringLiteral("checkpoints-stages"), QStringLiteral("Контрольная точка")},
    };
    if (const auto found = names.find(key); found != names.end())
        return found->second;
    if (key.startsWith(QLatin1String("sensor_on-num")))
        return QStringLiteral("Включение датчика №") + key.mid(13);
    return key;
}

std::vector<Trip> tripsFor(const Store& store, const ExportRequest& request, Car* carOut) {
    std::optional<Group> group;
    for (const Group& g : store.groups())
        if (g.id == request.group || g.name == request.group)
            group = g;
    if (!group)
        throw VantrelError(QStringLiteral("Нет группы «%1»").arg(request.group));
    const std::optional<Car> car = store.carOfDevice(request.device);
    if (!car)
        throw VantrelError(QStringLiteral("Нет машины с прибором %1").arg(request.device));
    if (car->groupId != group->id)
        throw VantrelError(QStringLiteral("Машина с прибором %1 не входит в группу «%2»").arg(request.device).arg(group->name));
    datetime::checkPeriod(request.from, request.to);
    std::vector<Trip> trips = computeTrips(store.messages(car->device, request.from, request.to, CancelToken()),
                                           store.checkpoints(car->checkpointList), {}, CancelToken());
    if (trips.empty())
        throw VantrelError(QStringLiteral("За период с %1 по %2 у машины «%3» нет рейсов")
                               .arg(datetime::formatText(request.from), datetime::formatText(request.to), car->name));
    if (request.trip < 0 || request.trip > int(trips.size()))
        throw VantrelError(QStringLiteral("Нет рейса %1: за период рейсов %2").arg(request.trip).arg(trips.size()));
    if (request.trip > 0)
        trips = {trips[size_t(request.trip - 1)]};
    if (carOut)
        *carOut = *car;
    return trips;
}

ExportSummary exportTrips(const Store& store, const ExportRequest& request) {
    Car car;
    const std::vector<Trip> trips = tripsFor(store, request, &car);
    GDALAllRegister();
    CPLPushErrorHandler(CPLQuietErrorHandler); // its failures are said in the error thrown
    struct PopHandler {
        ~PopHandler() { CPLPopErrorHandler(); }
    } popHandler;
    const char* driverName = request.format == ExportFormat::Gpx ? "GPX" : request.format == ExportFormat::Kml ? "KML" : "GeoJSON";
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(driverName);
    if (!driver)
        throw VantrelError(QStringLiteral("В GDAL нет модуля записи %1").arg(QLatin1String(driverName)));

    // GDAL writes into memory; the bytes then go to disk checked to the last, whole or not at all.
    // A special file or a link out of the folder is refused before anything is computed.
    AtomicFile::checkTarget(request.path);
    const QByteArray memory = QByteArrayLiteral("/vsimem/vantrel-export-") +
                              QByteArray::number(quintptr(&request), 16) + (request.format == ExportFormat::Gpx   ? ".gpx"
                                                                             : request.format == ExportFormat::Kml ? ".kml"
                                                                                                                   : ".geojson");
    struct Cleanup {
        QByteArray path;
        ~Cleanup() { VSIUnlink(path.constData()); }
    } cleanup{memory};

    ExportSummary summary;
    summary.trips = int(trips.size());
    {
        char** options = request.format == ExportFormat::Gpx ? CSLSetNameValue(nullptr, "GPX_USE_EXTENSIONS", "YES") : nullptr;
        GDALDatasetUniquePtr data(driver->Create(memory.constData(), 0, 0, 0, GDT_Unknown, options));
        CSLDestroy(options);
        if (!data)
            throw VantrelError(QStringLiteral("Не удалось создать файл %1: %2")
                                   .arg(request.path, QString::fromUtf8(CPLGetLastErrorMsg())));
        OGRSpatialReference lonLat;
        lonLat.SetWellKnownGeogCS("WGS84");
        lonLat.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        const bool gpx = request.format == ExportFormat::Gpx;
        const bool oneLayer = request.format == ExportFormat::GeoJson;
        // Events first: a GPX file lists its waypoints before its tracks.
        OGRLayer* events = layer(*data, gpx ? "waypoints" : "events", oneLayer ? wkbUnknown : wkbPoint, lonLat,
                                 {{"name", OFTString}, {"desc", OFTString}, {"time", OFTDateTime},
                                  {"kind", OFTString}, {"begin", OFTString}, {"end", OFTString},
                                  {"duration", OFTString}, {"trip", OFTInteger}});
        for (size_t t = 0; t < trips.size(); ++t)
            for (const auto& [key, list] : trips[t].entries)
                for (const Entry& entry : list) {
                    OGRFeature feature(events->GetLayerDefn());
                    const QByteArray kind = entryKindName(key).toUtf8();
                    feature.SetField("name", kind.constData());
                    feature.SetField("desc", (kind + " " + datetime::formatText(entry.begin).toUtf8() + " – " +
                                              datetime::formatText(entry.end).toUtf8() + ", " + durationText(entry))
                                                 .constData());
                    setUtc(feature, "time", entry.begin);
                    feature.SetField("kind", key.toUtf8().constData());
                    feature.SetField("begin", utcText(entry.begin).constData());
                    feature.SetField("end", utcText(entry.end).constData());
                    feature.SetField("duration", durationText(entry).constData());
                    feature.SetField("trip", int(t + 1));
                    feature.SetGeometryDirectly(new OGRPoint(entry.lon, entry.lat));
                    add(*events, feature);
                    ++summary.events;
                }
        if (gpx) {
            OGRLayer* points = layer(*data, "track_points", wkbPoint, lonLat,
                                     {{"track_fid", OFTInteger}, {"track_seg_id", OFTInteger}, {"time", OFTDateTime},
                                      {"speed", OFTReal}});
            for (size_t t = 0; t < trips.size(); ++t)
                for (const TrackPoint& p : trips[t].points) {
                    OGRFeature feature(points->GetLayerDefn());
                    feature.SetField("track_fid", int(t));
                    feature.SetField("track_seg_id", 0);
                    setUtc(feature, "time", p.time);
                    feature.SetField("speed", p.speed);
                    feature.SetGeometryDirectly(new OGRPoint(p.lon, p.lat));
                    add(*points, feature);
                    ++summary.points;
                }
        } else {
            OGRLayer* lines = oneLayer ? events
                                       : layer(*data, "trips", wkbLineString, lonLat,
                                               {{"name", OFTString}, {"trip", OFTInteger}, {"begin", OFTString},
                                                {"end", OFTString}, {"duration", OFTString}});
            for (const char* list : {"times", "speeds", "mileage_m"}) {
                OGRFieldDefn field(list, std::string_view(list) == "times" ? OFTStringList : OFTRealList);
                lines->CreateField(&field);
            }
            if (!oneLayer) {
                OGRFieldDefn distance("mileage_km", OFTReal);
                lines->CreateField(&distance);
            }
            for (size_t t = 0; t < trips.size(); ++t) {
                const Trip& trip = trips[t];
                OGRFeature feature(lines->GetLayerDefn());
                feature.SetField("name", QStringLiteral("Рейс %1").arg(t + 1).toUtf8().constData());
                feature.SetField("trip", int(t + 1));
                feature.SetField("begin", utcText(trip.begin).constData());
                feature.SetField("end", utcText(trip.end).constData());
                feature.SetField("duration", vserver::durationText(trip.end - trip.begin).toUtf8().constData());
                auto* line = new OGRLineString;
                std::vector<QByteArray> times;
                std::vector<double> speeds, mileage;
                for (const TrackPoint& p : trip.points) {
                    line->addPoint(p.lon, p.lat);
                    times.push_back(utcText(p.time));
                    speeds.push_back(p.speed);
                    mileage.push_back(p.mileage);
                }
                std::vector<const char*> timePointers;
                for (const QByteArray& time : times)
                    timePointers.push_back(time.constData());
                timePointers.push_back(nullptr);
                feature.SetField("times", const_cast<char**>(timePointers.data()));
                feature.SetField("speeds", int(speeds.size()), speeds.data());
                feature.SetField("mileage_m", int(mileage.size()), mileage.data());
                feature.SetGeometryDirectly(line);
                add(*lines, feature);
                summary.points += qint64(trip.points.size());
            }
        }
        CPLErrorReset();
        data.reset(); // closes the file: GPX and KML write their ends here
        if (CPLGetLastErrorType() == CE_Failure)
            throw VantrelError(QStringLiteral("Не удалось записать файл %1: %2")
                                   .arg(request.path, QString::fromUtf8(CPLGetLastErrorMsg())));
    }
    vsi_l_offset length = 0;
    const GByte* bytes = VSIGetMemFileBuffer(memory.constData(), &length, FALSE);
    if (!bytes)
        throw VantrelError(QStringLiteral("Не удалось записать файл %1: GDAL не дал его содержимого").arg(request.path));
    AtomicFile::save(request.path, QByteArray::fromRawData(reinterpret_cast<const char*>(bytes), qsizetype(length)));
    return summary;
}

} // namespace vserver
