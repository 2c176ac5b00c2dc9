#include "TripExport.h"

#include "AtomicFile.h"
#include "Computation.h"
#include "DateTimeValue.h"
#include "AtomicFileDevice.h"
#include "GeoJsonTripWriter.h"
#include "GpxTripWriter.h"
#include "KmlTripWriter.h"
#include "Store.h"
#include "VantrelError.h"

namespace vserver {
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
        throw VantrelError(QStringLiteral("Машина с прибором %1 не входит в группу «%2»")
                               .arg(request.device)
                               .arg(group->name));
    datetime::checkPeriod(request.from, request.to);
    std::vector<Trip> trips =
        computeTrips(store.messages(car->device, request.from, request.to, CancelToken()),
                     store.checkpoints(car->checkpointList), {}, CancelToken());
    if (trips.empty())
        throw VantrelError(QStringLiteral("За период с %1 по %2 у машины «%3» нет рейсов")
                               .arg(datetime::formatText(request.from),
                                    datetime::formatText(request.to), car->name));
    if (request.trip < 0 || request.trip > int(trips.size()))
        throw VantrelError(QStringLiteral("Нет рейса %1: за период рейсов %2")
                               .arg(request.trip)
                               .arg(trips.size()));
    if (request.trip > 0)
        trips = {trips[size_t(request.trip - 1)]};
    if (carOut)
        *carOut = *car;
    return trips;
}

ExportSummary exportTrips(const Store& store, const ExportRequest& request) {
    // A special file or a link out of the folder is refused before anything is computed.
    AtomicFile::checkTarget(request.path);
    ExportContent content;
    content.trips = tripsFor(store, request, &content.car);
    content.firstNumber = request.trip > 0 ? request.trip : 1;
    return writeTrips(std::move(content), request.format, request.path);
}

ExportSummary writeTrips(ExportContent content, ExportFormat format, const QString& path) {
    if (content.trips.empty())
        throw VantrelError(QStringLiteral("Не удалось записать файл %1: нет рейсов").arg(path));
    for (Trip& trip : content.trips) // a point without a place has no place in any of the formats
        std::erase_if(trip.points, [](const TrackPoint& p) { return !hasPosition(p.lon, p.lat); });
    AtomicFileDevice sink(path);
    ExportSummary summary;
    try {
        summary = format == ExportFormat::Gpx   ? writeGpx(content, sink)
                  : format == ExportFormat::Kml ? writeKml(content, sink)
                                                : writeGeoJson(content, sink);
    } catch (const VantrelError&) {
        sink.check(); // the write that failed names the file and the reason
        throw;
    }
    sink.commit();
    return summary;
}

} // namespace vserver
