#include "GpxImport.h"

#include "DateTimeValue.h"
#include "Store.h"
#include "VantrelError.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <QXmlStreamReader>
#include <cmath>

namespace vserver {
namespace {

constexpr double kFastestMetresPerSecond = 200; // 720 km/h: anything faster is a broken fix

// Wall-clock values of UTC moments. The zone's offset is looked up once per quarter hour of UTC
// (zones change their offset on whole quarters), not once per point: a million points would
// otherwise read the zone rules a million times.
class LocalClock {
public:
    double fromUtc(const QDateTime& moment) {
        constexpr qint64 kQuarterMs = 15 * 60 * 1000;
        constexpr double kUnixEpochDay = 25569; // 1 January 1970 as a date-time value
        const qint64 ms = moment.toMSecsSinceEpoch();
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
                const QDateTime moment = QDateTime::fromString(text, Qt::ISODateWithMs);
                if (!moment.isValid())
                    fail(QStringLiteral("неверное время «") + text + QStringLiteral("»"));
                point.time = clock.fromUtc(moment);
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
