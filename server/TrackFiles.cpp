#include "TrackFiles.h"

#include "DateTimeValue.h"
#include "VantrelError.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>
#include <QXmlStreamReader>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

namespace vserver {
namespace {

[[noreturn]] void refuse(const QString& path, const QString& reason) {
    throw VantrelError(QStringLiteral("Файл %1 не открыт: %2").arg(path, reason));
}

// A moment as ISO 8601 writes it; a time without a zone is taken as UTC, as GPS times are.
std::optional<double> isoMoment(const QString& text) {
    QDateTime moment = QDateTime::fromString(text.trimmed(), Qt::ISODateWithMs);
    if (!moment.isValid())
        return std::nullopt;
    if (moment.timeSpec() == Qt::LocalTime)
        moment.setTimeSpec(Qt::UTC);
    return datetime::fromQDateTime(moment.toLocalTime());
}

bool validPlace(double lon, double lat) {
    return std::isfinite(lon) && std::isfinite(lat) && std::abs(lon) <= 180 && std::abs(lat) <= 90;
}

class KmlReader {
public:
    explicit KmlReader(const QString& path) : path_(path) {}

    std::vector<Message> read() {
        QFile file(path_);
        if (!file.open(QIODevice::ReadOnly))
            refuse(path_, file.errorString());
        xml_.setDevice(&file);
        if (!xml_.readNextStartElement() || xml_.name() != u"kml")
            refuse(path_, QStringLiteral("это не KML"));
        while (!xml_.atEnd()) {
            xml_.readNext();
            if (xml_.isStartElement())
                start();
            else if (xml_.isEndElement())
                end();
        }
        if (xml_.hasError())
            refuse(path_,
                   QStringLiteral("строка %1: %2").arg(xml_.lineNumber()).arg(xml_.errorString()));
        return std::move(points_);
    }

private:
    void start() {
        const QStringView name = xml_.name();
        if (name == u"Track") {
            whens_.clear();
            coords_.clear();
            inTrack_ = true;
        } else if (name == u"Placemark") {
            stamp_.clear();
            pointAt_.clear();
        } else if (name == u"TimeStamp") {
            inStamp_ = true;
        } else if (name == u"Point") {
            inPoint_ = true;
        } else if (name == u"when" && inTrack_) {
            whens_.push_back(xml_.readElementText());
        } else if (name == u"when" && inStamp_) {
            stamp_ = xml_.readElementText();
        } else if (name == u"coord" && inTrack_) {
            coords_.push_back(xml_.readElementText());
        } else if (name == u"coordinates" && inPoint_) {
            pointAt_ = xml_.readElementText();
        }
    }

    void end() {
        const QStringView name = xml_.name();
        if (name == u"Track") {
            inTrack_ = false;
            if (whens_.size() != coords_.size())
                refuse(path_, QStringLiteral("строка %1: в треке %2 моментов и %3 точек")
                                  .arg(xml_.lineNumber())
                                  .arg(whens_.size())
                                  .arg(coords_.size()));
            for (size_t i = 0; i < whens_.size(); ++i)
                add(whens_[i], coords_[i].simplified().split(u' '));
        } else if (name == u"TimeStamp") {
            inStamp_ = false;
        } else if (name == u"Point") {
            inPoint_ = false;
        } else if (name == u"Placemark" && !stamp_.isEmpty() && !pointAt_.isEmpty()) {
            add(stamp_, pointAt_.simplified().split(u','));
        }
    }

    void add(const QString& when, const QStringList& place) {
        const std::optional<double> time = isoMoment(when);
        bool lonRead = false, latRead = false;
        const double lon = place.value(0).toDouble(&lonRead),
                     lat = place.value(1).toDouble(&latRead);
        if (!time || !lonRead || !latRead || !validPlace(lon, lat))
            refuse(path_, QStringLiteral("строка %1: точка «%2 %3» не прочитана")
                              .arg(xml_.lineNumber())
                              .arg(when.trimmed(), place.join(u' ')));
        Message message;
        message.time = *time;
        message.lon = lon;
        message.lat = lat;
        points_.push_back(message);
    }

    QString path_;
    QXmlStreamReader xml_;
    std::vector<Message> points_;
    std::vector<QString> whens_, coords_;
    QString stamp_, pointAt_;
    bool inTrack_ = false, inStamp_ = false, inPoint_ = false;
};

// A field's moment, whether GDAL recognised it as a date-time or left it a string.
std::optional<double> fieldMoment(OGRFeature& feature, int field) {
    if (feature.GetFieldDefnRef(field)->GetType() != OFTDateTime)
        return isoMoment(QString::fromUtf8(feature.GetFieldAsString(field)));
    int year, month, day, hour, minute, zone;
    float second;
    if (!feature.GetFieldAsDateTime(field, &year, &month, &day, &hour, &minute, &second, &zone))
        return std::nullopt;
    const QDateTime moment(QDate(year, month, day),
                           QTime(hour, minute).addMSecs(qRound(second * 1000)),
                           zone <= 1 ? QTimeZone::utc() : QTimeZone((zone - 100) * 15 * 60));
    return datetime::fromQDateTime(moment.toLocalTime());
}

int firstField(OGRFeature& feature, std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (const int field = feature.GetFieldIndex(name);
            field >= 0 && feature.IsFieldSetAndNotNull(field))
            return field;
    return -1;
}

void readTimedLine(const QString& path, OGRFeature& feature, const OGRGeometry& geometry,
                   std::vector<Message>& points) {
    const int times = firstField(feature, {"times", "coordTimes"});
    if (times < 0)
        return;
    const CPLStringList moments(feature.GetFieldAsStringList(times), false);
    int speedCount = 0;
    const int speedField = firstField(feature, {"speeds_kmh"});
    const double* speeds =
        speedField >= 0 ? feature.GetFieldAsDoubleList(speedField, &speedCount) : nullptr;
    std::vector<const OGRLineString*> lines;
    if (const auto* multi = dynamic_cast<const OGRMultiLineString*>(&geometry))
        for (const OGRLineString* line : *multi)
            lines.push_back(line);
    else
        lines.push_back(geometry.toLineString());
    int index = 0;
    for (const OGRLineString* line : lines)
        for (const OGRPoint& place : *line) {
            const std::optional<double> time = index < moments.size()
                                                   ? isoMoment(QString::fromUtf8(moments[index]))
                                                   : std::nullopt;
            if (!time || !validPlace(place.getX(), place.getY()))
                refuse(path, QStringLiteral("у точки %1 линии %2 нет времени или места")
                                 .arg(index + 1)
                                 .arg(feature.GetFID()));
            Message message;
            message.time = *time;
            message.lon = place.getX();
            message.lat = place.getY();
            if (index < speedCount && std::isfinite(speeds[index]) && speeds[index] >= 0)
                message.speed = speeds[index];
            points.push_back(message);
            ++index;
        }
}

// A car logger's measurements, {"GPS Speed": {"value": 10.5, "unit": "km/h"}, …}: the GPS
// speed, else the vehicle's own.
double measuredSpeed(const char* json) {
    const QJsonObject measured = QJsonDocument::fromJson(json).object();
    for (const char* name : {"GPS Speed", "Speed"}) {
        const QJsonObject speed = measured.value(QLatin1String(name)).toObject();
        if (speed.value(u"unit").toString() == u"km/h" && speed.value(u"value").toDouble(-1) >= 0)
            return speed.value(u"value").toDouble();
    }
    return kNoValue;
}

void readTimedPoint(OGRFeature& feature, const OGRPoint& place, std::vector<Message>& points) {
    const int time = firstField(feature, {"time", "timestamp", "when"});
    const std::optional<double> moment = time >= 0 ? fieldMoment(feature, time) : std::nullopt;
    if (!moment || !validPlace(place.getX(), place.getY()))
        return; // an event or a landmark, not a position
    Message message;
    message.time = *moment;
    message.lon = place.getX();
    message.lat = place.getY();
    if (const int speed = firstField(feature, {"speed_kmh"}); speed >= 0)
        message.speed = std::max(0.0, feature.GetFieldAsDouble(speed));
    else if (const int measured = firstField(feature, {"phenomenons"}); measured >= 0)
        message.speed = measuredSpeed(feature.GetFieldAsString(measured));
    points.push_back(message);
}

} // namespace

std::vector<Message> readKml(const QString& path) {
    return KmlReader(path).read();
}

std::vector<Message> readGeoJson(const QString& path) {
    GDALAllRegister();
    const char* const drivers[] = {"GeoJSON", nullptr};
    GDALDatasetUniquePtr data(
        GDALDataset::Open(path.toUtf8().constData(), GDAL_OF_VECTOR | GDAL_OF_READONLY, drivers));
    if (!data)
        refuse(path, QFileInfo::exists(path) ? QStringLiteral("это не GeoJSON")
                                             : QStringLiteral("его нет"));
    std::vector<Message> points;
    for (OGRLayer* layer : data->GetLayers())
        for (const auto& feature : *layer) {
            const OGRGeometry* geometry = feature->GetGeometryRef();
            if (!geometry)
                continue;
            switch (wkbFlatten(geometry->getGeometryType())) {
            case wkbLineString:
            case wkbMultiLineString:
                readTimedLine(path, *feature, *geometry, points);
                break;
            case wkbPoint:
                readTimedPoint(*feature, *geometry->toPoint(), points);
                break;
            default:
                break;
            }
        }
    return points;
}

bool isKmlOrGeoJson(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == u"kml" || suffix == u"geojson" || suffix == u"json";
}

std::vector<Message> readTrackFile(const QString& path) {
    std::vector<Message> points = QFileInfo(path).suffix().compare(u"kml", Qt::CaseInsensitive) == 0
                                      ? readKml(path)
                                      : readGeoJson(path);
    if (points.empty())
        refuse(path, QStringLiteral("в нём нет трека со временем точек"));
    return points;
}

} // namespace vserver
