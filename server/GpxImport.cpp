#include "GpxImport.h"

#include "DateTimeValue.h"
#include "Store.h"
#include "VantrelError.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <QXmlStreamReader>
#include <cmath>
#include <optional>

namespace vserver {
namespace {

constexpr double kFastestMetresPerSecond = 200; // 720 km/h: anything faster is a broken fix

// Wall-clock values of UTC moments. The zone's offset is looked up once per quarter hour of UTC
// (zones change their offset on whole quarters), not once per point: a million points would
// otherwise read the zone rules a million times.
class LocalClock {
public:
    double fromUtc(qint64 ms) {
        constexpr qint64 kQuarterMs = 15 * 60 * 1000;
        constexpr double kUnixEpochDay = 25569; // 1 January 1970 as a date-time value
        const qint64 quarter = ms >= 0 ? ms / kQuarterMs : -((-ms + kQuarterMs - 1) / kQuarterMs);
        auto offset = offsets_.find(quarter);
        if (offset == offsets_.end())
            offset = offsets_.insert(
                quarter, QDateTime::fromMSecsSinceEpoch(quarter * kQuarterMs, Qt::UTC).toLocalTime().offsetFromUtc());
        return kUnixEpochDay + double(ms + qint64(*offset) * 1000) / 86400000.0;
    }

private:
    QHash<qint64, int> offsets_;
};

// The usual GPX time, "YYYY-MM-DDTHH:MM:SS[.fff]Z", as milliseconds since 1970 in UTC, read
// without QDateTime's general parser; any other form (an offset, a missing Z) gives nothing and
// is left to it.
std::optional<qint64> fastUtcMilliseconds(QStringView text) {
    const auto digits = [&](qsizetype from, qsizetype count, int& value) {
        value = 0;
        for (qsizetype i = from; i < from + count; ++i) {
            const char16_t c = text[i].unicode();
            if (c < u'0' || c > u'9')
                return false;
            value = value * 10 + (c - u'0');
        }
        return true;
    };
    if (text.size() < 20 || text[4] != u'-' || text[7] != u'-' || text[10] != u'T' || text[13] != u':' ||
        text[16] != u':' || text.back() != u'Z')
        return std::nullopt;
    int year, month, day, hour, minute, second, fraction = 0;
    if (!digits(0, 4, year) || !digits(5, 2, month) || !digits(8, 2, day) || !digits(11, 2, hour) ||
        !digits(14, 2, minute) || !digits(17, 2, second))
        return std::nullopt;
    if (text.size() > 20) { // ".f" to ".fff": milliseconds
        const qsizetype count = text.size() - 21;
        if (text[19] != u'.' || count < 1 || count > 3 || !digits(20, count, fraction))
            return std::nullopt;
        for (qsizetype i = count; i < 3; ++i)
            fraction *= 10;
    } else if (text.size() != 20) {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > QDate(year, month, 1).daysInMonth() || hour > 23 ||
        minute > 59 || second > 59)
        return std::nullopt;
    const qint64 days = QDate(1970, 1, 1).daysTo(QDate(year, month, day));
    return ((days * 24 + hour) * 60 + minute) * 60000 + qint64(second) * 1000 + fraction;
}

bool isGpxNamespace(QStringView uri) {
    // Files without a namespace are common and read as GPX too.
    return uri.isEmpty() || uri == u"http://www.topografix.com/GPX/1/1" ||
           uri == u"http://www.topografix.com/GPX/1/0";
}

} // namespace

std::vector<Message> readGpx(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw VantrelError(QStringLiteral("%1: не удалось открыть: %2").arg(path, file.errorString()));
    QXmlStreamReader xml(&file);
    LocalClock clock;
    std::vector<Message> messages;
    const auto fail = [&](const QString& reason) {
        // One pass of arg(): a "%1" in the file's name stays as it is.
        throw VantrelError(QStringLiteral("%1:%2: %3").arg(path, QString::number(xml.lineNumber()), reason));
    };
    bool sawGpx = false;
    Message point;
    bool inPoint = false, hasTime = false;
    int extensionsDepth = 0; // inside <extensions>, where other namespaces belong
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const QStringView name = xml.name();
            if (extensionsDepth > 0) {
                ++extensionsDepth;
                continue;
            }
            if (!isGpxNamespace(xml.namespaceUri()))
                fail(QStringLiteral("элемент «") + xml.qualifiedName().toString() +
                     QStringLiteral("» чужого пространства имён вне <extensions>"));
            if (name == u"extensions") {
                extensionsDepth = 1;
            } else if (name == u"gpx") {
                sawGpx = true;
            } else if (name == u"trkpt") {
                if (inPoint)
                    fail(QStringLiteral("точка trkpt внутри другой точки"));
                bool okLat = false, okLon = false;
                point = Message{};
                point.lat = xml.attributes().value(QLatin1String("lat")).toDouble(&okLat);
                point.lon = xml.attributes().value(QLatin1String("lon")).toDouble(&okLon);
                if (!okLat || !okLon || !std::isfinite(point.lat) || !std::isfinite(point.lon) ||
                    std::abs(point.lat) > 90 || std::abs(point.lon) > 180)
                    fail(QStringLiteral("точка без правильных координат lat/lon"));
                inPoint = true;
                hasTime = false;
            } else if (inPoint && name == u"time") {
                const QString text = xml.readElementText();
                std::optional<qint64> utc = fastUtcMilliseconds(text);
                if (!utc) {
                    const QDateTime moment = QDateTime::fromString(text, Qt::ISODateWithMs);
                    if (!moment.isValid())
                        fail(QStringLiteral("неверное время «") + text + QStringLiteral("»"));
                    utc = moment.toMSecsSinceEpoch();
                }
                point.time = clock.fromUtc(*utc);
                hasTime = true;
            } else if (inPoint && name == u"speed") {
                bool ok = false;
                const double metresPerSecond = xml.readElementText().toDouble(&ok);
                if (!ok || !std::isfinite(metresPerSecond) || metresPerSecond < 0 ||
                    metresPerSecond > kFastestMetresPerSecond)
                    fail(QStringLiteral("неверная скорость (нужно от 0 до %1 м/с)").arg(kFastestMetresPerSecond));
                point.speed = metresPerSecond * 3.6;
            }
        } else if (xml.isEndElement()) {
            if (extensionsDepth > 0) {
                --extensionsDepth;
            } else if (xml.name() == u"trkpt") {
                if (!hasTime)
                    fail(QStringLiteral("точка без времени"));
                messages.push_back(point);
                inPoint = false;
            }
        }
    }
    if (xml.hasError())
        fail(xml.errorString());
    if (!sawGpx)
        fail(QStringLiteral("это не файл GPX"));
    if (messages.empty())
        fail(QStringLiteral("в файле нет точек трека (trkpt)"));
    std::stable_sort(messages.begin(), messages.end(),
                     [](const Message& a, const Message& b) { return a.time < b.time; });
    return messages;
}

GpxImportSummary importGpx(Store& store, const GpxImportTarget& target, const QStringList& files) {
    if (target.group.isEmpty() || target.car.isEmpty() || target.device <= 0)
        throw VantrelError(QStringLiteral("Нужны группа, название машины и номер прибора больше нуля"));
    std::vector<Message> points;
    for (const QString& file : files) { // every file is read before anything is stored
        std::vector<Message> track = readGpx(file);
        points.insert(points.end(), track.begin(), track.end());
    }
    std::stable_sort(points.begin(), points.end(),
                     [](const Message& a, const Message& b) { return a.time < b.time; });

    const std::optional<Car> existing = store.carOfDevice(target.device);
    if (existing) {
        const bool sameCar = existing->name == target.car &&
                             (target.number.isEmpty() || existing->number == target.number);
        if (!sameCar && !target.append)
            throw VantrelError(QStringLiteral("Прибор %1 уже принадлежит машине «%2» (номер «%3»); чтобы "
                                              "добавить точки к ней, укажите --append")
                                   .arg(QString::number(target.device), existing->name, existing->number));
    }

    GpxImportSummary summary;
    store.begin();
    try {
        const QString groupId = store.ensureGroup(target.group);
        if (existing && existing->groupId != groupId)
            throw VantrelError(QStringLiteral("Прибор %1 уже принадлежит машине «%2» другой группы")
                                   .arg(QString::number(target.device), existing->name));
        if (!existing)
            store.addCar({0, groupId, target.car, target.number, target.device, QString()});
        // A point already stored for the device at the same time, or given twice, is skipped.
        QSet<qint64> known;
        if (existing)
            for (const Message& m : store.messages(target.device, points.front().time, points.back().time))
                known.insert(datetime::milliseconds(m.time));
        std::vector<Message> fresh;
        fresh.reserve(points.size());
        for (const Message& m : points)
            if (!known.contains(datetime::milliseconds(m.time))) {
                known.insert(datetime::milliseconds(m.time));
                fresh.push_back(m);
            }
        store.addMessages(target.device, fresh);
        summary.added = qint64(fresh.size());
        summary.skipped = qint64(points.size() - fresh.size());
        store.commit();
    } catch (...) {
        store.rollback();
        throw;
    }
    return summary;
}

} // namespace vserver
