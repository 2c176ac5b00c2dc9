#include "GpxImport.h"

#include "DateTimeValue.h"
#include "Store.h"
#include "VantrelError.h"

#include <QFile>
#include <QXmlStreamReader>
#include <cmath>

namespace vserver {

std::vector<Message> readGpx(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw VantrelError(QStringLiteral("%1: не удалось открыть: %2").arg(path, file.errorString()));
    QXmlStreamReader xml(&file);
    std::vector<Message> messages;
    const auto fail = [&](const QString& reason) {
        throw VantrelError(QStringLiteral("%1:%2: %3").arg(path).arg(xml.lineNumber()).arg(reason));
    };
    bool sawGpx = false;
    Message point;
    bool inPoint = false, hasTime = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const QStringView name = xml.name();
            if (name == u"gpx") {
                sawGpx = true;
            } else if (name == u"trkpt") {
                bool okLat = false, okLon = false;
                point = Message{};
                point.lat = xml.attributes().value(QLatin1String("lat")).toDouble(&okLat);
                point.lon = xml.attributes().value(QLatin1String("lon")).toDouble(&okLon);
                if (!okLat || !okLon || std::abs(point.lat) > 90 || std::abs(point.lon) > 180)
                    fail(QStringLiteral("точка без правильных координат lat/lon"));
                inPoint = true;
                hasTime = false;
            } else if (inPoint && name == u"time") {
                const QString text = xml.readElementText();
                QDateTime moment = QDateTime::fromString(text, Qt::ISODateWithMs);
                if (!moment.isValid())
                    fail(QStringLiteral("неверное время «%1»").arg(text));
                point.time = datetime::fromQDateTime(moment.toLocalTime());
                hasTime = true;
            } else if (inPoint && name == u"speed") {
                bool ok = false;
                const double metresPerSecond = xml.readElementText().toDouble(&ok);
                if (!ok || metresPerSecond < 0)
                    fail(QStringLiteral("неверная скорость"));
                point.speed = metresPerSecond * 3.6;
            }
        } else if (xml.isEndElement() && xml.name() == u"trkpt") {
            if (!hasTime)
                fail(QStringLiteral("точка без времени"));
            messages.push_back(point);
            inPoint = false;
        }
    }
    if (xml.hasError())
        fail(xml.errorString());
    if (!sawGpx)
        fail(QStringLiteral("это не файл GPX"));
    std::stable_sort(messages.begin(), messages.end(),
                     [](const Message& a, const Message& b) { return a.time < b.time; });
    return messages;
}

qint64 importGpx(Store& store, const GpxImportTarget& target, const QStringList& files) {
    if (target.group.isEmpty() || target.car.isEmpty() || target.device <= 0)
        throw VantrelError(QStringLiteral("Нужны группа, название машины и номер прибора больше нуля"));
    std::vector<std::vector<Message>> tracks;
    for (const QString& file : files)
        tracks.push_back(readGpx(file)); // every file is read before anything is stored
    qint64 stored = 0;
    store.begin();
    try {
        const QString groupId = store.ensureGroup(target.group);
        store.ensureCar(groupId, target.car, target.number, target.device);
        for (const auto& track : tracks) {
            store.addMessages(target.device, track);
            stored += qint64(track.size());
        }
        store.commit();
    } catch (...) {
        store.rollback();
        throw;
    }
    return stored;
}

} // namespace vserver
