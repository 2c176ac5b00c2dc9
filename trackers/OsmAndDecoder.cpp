#include "OsmAndDecoder.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <charconv>
#include <cmath>
#include <map>

namespace trackers {
namespace {

constexpr double kKmhPerKnot = 1.852;

using Parameters = std::map<QByteArray, QByteArray>;

std::optional<double> number(QByteArrayView text) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    if (text.isEmpty() || error != std::errc() || at != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

QByteArray decoded(QByteArrayView text) {
    QByteArray bytes = text.toByteArray();
    bytes.replace('+', ' ');
    return QByteArray::fromPercentEncoding(bytes);
}

// Adds name=value pairs of an urlencoded text; false (with the reason) on a repeated name.
bool addPairs(QByteArrayView text, Parameters& into, QString& refusal) {
    qsizetype from = 0;
    while (from <= text.size()) {
        qsizetype to = text.indexOf('&', from);
        if (to < 0)
            to = text.size();
        const QByteArrayView pair = text.sliced(from, to - from);
        from = to + 1;
        if (pair.isEmpty())
            continue;
        const qsizetype equals = pair.indexOf('=');
        const QByteArray name = decoded(equals < 0 ? pair : pair.first(equals)).toLower();
        const QByteArray value = equals < 0 ? QByteArray() : decoded(pair.sliced(equals + 1));
        if (!into.emplace(name, value).second) {
            refusal = QStringLiteral("параметр «%1» повторён").arg(QString::fromUtf8(name).left(40));
            return false;
        }
    }
    return true;
}

OsmAndResult refuse(const QString& why) { return {std::nullopt, why}; }

const QByteArray* find(const Parameters& p, const char* name, const char* other = nullptr) {
    auto it = p.find(name);
    if (it == p.end() && other)
        it = p.find(other);
    return it == p.end() ? nullptr : &it->second;
}

OsmAndResult fromParameters(const Parameters& p) {
    if (p.count("id") && p.count("deviceid"))
        return refuse(QStringLiteral("заданы и id, и deviceid"));
    const QByteArray* id = find(p, "id", "deviceid");
    if (!id || id->trimmed().isEmpty())
        return refuse(QStringLiteral("нет идентификатора id"));
    if (id->size() > 64)
        return refuse(QStringLiteral("идентификатор длиннее 64 символов"));
    IdentifiedPosition result;
    result.ident = QString::fromUtf8(id->trimmed());
    TrackerPosition& pos = result.position;
    const QByteArray* lat = find(p, "lat");
    const QByteArray* lon = find(p, "lon");
    if (!lat || !lon)
        return refuse(QStringLiteral("нет координат lat и lon"));
    const auto latValue = number(*lat), lonValue = number(*lon);
    if (!latValue || !lonValue)
        return refuse(QStringLiteral("координаты lat и lon не числа"));
    pos.lat = *latValue;
    pos.lon = *lonValue;
    const QByteArray* timestamp = find(p, "timestamp");
    if (!timestamp)
        return refuse(QStringLiteral("нет времени timestamp"));
    const auto time = OsmAndDecoder::parseTimestamp(*timestamp);
    if (!time)
        return refuse(QStringLiteral("время timestamp не распознано"));
    pos.timeMs = *time;
    const auto optional = [&](const char* name, const char* other, double& into, double factor) {
        const QByteArray* text = find(p, name, other);
        if (!text || text->isEmpty())
            return true;
        const auto value = number(*text);
        if (!value)
            return false;
        into = *value * factor;
        return true;
    };
    if (p.count("bearing") && p.count("heading"))
        return refuse(QStringLiteral("заданы и bearing, и heading"));
    double battery = vserver::kNoValue, accuracy = vserver::kNoValue;
    if (!optional("speed", nullptr, pos.speedKmh, kKmhPerKnot) || !optional("bearing", "heading", pos.heading, 1) ||
        !optional("altitude", nullptr, pos.altitude, 1) || !optional("accuracy", nullptr, accuracy, 1) ||
        !optional("batt", nullptr, battery, 1))
        return refuse(QStringLiteral("скорость, курс, высота, точность или заряд не числа"));
    if (const QByteArray* valid = find(p, "valid"))
        pos.fix = *valid != "false" && *valid != "0";
    return {std::move(result), {}};
}

std::optional<double> jsonNumber(const QJsonValue& value) {
    if (value.isDouble() && std::isfinite(value.toDouble()))
        return value.toDouble();
    if (value.isString())
        return number(value.toString().toUtf8());
    return std::nullopt;
}

OsmAndResult fromJson(QByteArrayView body) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return refuse(QStringLiteral("тело JSON не разобрано"));
    const QJsonObject root = document.object();
    const QJsonValue id = root.value(QLatin1String("device_id"));
    const QString ident = id.isString() ? id.toString().trimmed() : id.isDouble() ? QString::number(id.toInteger()) : QString();
    if (ident.isEmpty() || ident.size() > 64)
        return refuse(QStringLiteral("нет идентификатора device_id"));
    const QJsonObject location = root.value(QLatin1String("location")).toObject();
    const QJsonObject coords = location.value(QLatin1String("coords")).toObject();
    const auto lat = jsonNumber(coords.value(QLatin1String("latitude")));
    const auto lon = jsonNumber(coords.value(QLatin1String("longitude")));
    if (!lat || !lon)
        return refuse(QStringLiteral("нет координат latitude и longitude"));
    const QJsonValue stamp = location.value(QLatin1String("timestamp"));
    std::optional<qint64> time;
    if (stamp.isString())
        time = OsmAndDecoder::parseTimestamp(stamp.toString().toUtf8());
    else if (stamp.isDouble())
        time = OsmAndDecoder::parseTimestamp(QByteArray::number(stamp.toDouble(), 'f', 0));
    if (!time)
        return refuse(QStringLiteral("время timestamp не распознано"));
    IdentifiedPosition result{ident, {}};
    result.position.timeMs = *time;
    result.position.lat = *lat;
    result.position.lon = *lon;
    if (const auto speed = jsonNumber(coords.value(QLatin1String("speed"))); speed && *speed >= 0)
        result.position.speedKmh = *speed * 3.6; // m/s; a negative speed means "unknown"
    if (const auto heading = jsonNumber(coords.value(QLatin1String("heading"))); heading && *heading >= 0)
        result.position.heading = *heading;
    if (const auto altitude = jsonNumber(coords.value(QLatin1String("altitude"))))
        result.position.altitude = *altitude;
    return {std::move(result), {}};
}

} // namespace

std::optional<qint64> OsmAndDecoder::parseTimestamp(QByteArrayView text) {
    text = text.trimmed();
    if (text.isEmpty() || text.size() > 40)
        return std::nullopt;
    if (const auto value = number(text)) {
        if (*value < 0 || *value > 1e15)
            return std::nullopt;
        return *value >= 1e11 ? qint64(std::llround(*value)) : qint64(std::llround(*value * 1000));
    }
    QDateTime time = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs);
    if (!time.isValid())
        return std::nullopt;
    if (time.timeSpec() == Qt::LocalTime) // no offset given: UTC, as the apps send it
        time.setTimeSpec(Qt::UTC);
    return time.toMSecsSinceEpoch();
}

OsmAndResult OsmAndDecoder::decode(QByteArrayView query, QByteArrayView contentType, QByteArrayView body) {
    if (query.size() + body.size() > kMaxRequestBytes)
        return refuse(QStringLiteral("запрос больше 64 КБ"));
    const QByteArrayView trimmedBody = body.trimmed();
    if (contentType.startsWith("application/json") || trimmedBody.startsWith('{')) {
        if (!query.isEmpty())
            return refuse(QStringLiteral("тело JSON вместе с параметрами в адресе"));
        return fromJson(trimmedBody);
    }
    Parameters parameters;
    QString refusal;
    if (!addPairs(query, parameters, refusal) || !addPairs(trimmedBody, parameters, refusal))
        return refuse(refusal);
    return fromParameters(parameters);
}

} // namespace trackers
