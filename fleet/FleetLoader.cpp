#include "FleetLoader.h"

#include "Store.h"
#include "VantrelError.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace {

vserver::Group findGroup(const vserver::Store& store, const QString& wanted) {
    const std::vector<vserver::Group> groups = store.groups();
    for (const vserver::Group& group : groups)
        if (group.id == wanted)
            return group;
    for (const vserver::Group& group : groups)
        if (group.name == wanted)
            return group;
    throw VantrelError(
        QStringLiteral("В хранилище нет группы «%1» (ни такого идентификатора, ни такого названия)")
            .arg(wanted));
}

// By name as a person reads it, whatever the locale: «Машина 2» before «Машина 10», letters
// without regard to case.
bool namedBefore(const QString& a, const QString& b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            const QString x = a.mid(i, ei - i).remove(QRegularExpression(QStringLiteral("^0+")));
            const QString y = b.mid(j, ej - j).remove(QRegularExpression(QStringLiteral("^0+")));
            if (x.size() != y.size())
                return x.size() < y.size();
            if (x != y)
                return x < y;
            i = ei, j = ej;
            continue;
        }
        const QChar x = a[i].toLower(), y = b[j].toLower();
        if (x != y)
            return x < y;
        ++i, ++j;
    }
    return a.size() - i < b.size() - j;
}

QString millions(double count) {
    return QString::number(count / 1e6, 'f', 1);
}

} // namespace

void FleetLoader::checkPeriod(double from, double to) {
    if (!std::isfinite(from) || !std::isfinite(to) || to <= from)
        throw VantrelError(QStringLiteral("Конец периода должен быть позже его начала"));
    if (to - from > kMaxDays)
        throw VantrelError(
            QStringLiteral(
                "Период в %1 дн. слишком длинный: весь парк показывается не больше чем за %2 дн. "
                "Сократите период.")
                .arg(qint64(std::ceil(to - from)))
                .arg(kMaxDays));
}

Fleet FleetLoader::load(const QString& storePath, const FleetRequest& request,
                        const Progress& progress, const vserver::CancelToken& cancel) {
    checkPeriod(request.from, request.to);
    if (!vserver::Store::isDatabaseUri(storePath) && !QFileInfo(storePath).isFile())
        throw VantrelError(QStringLiteral("Нет хранилища Vantrel %1").arg(storePath));
    const vserver::Store store(storePath, vserver::Store::Opening::Existing);
    return load(store, request, progress, cancel);
}

Fleet FleetLoader::load(const vserver::Store& store, const FleetRequest& request,
                        const Progress& progress, const vserver::CancelToken& cancel) {
    checkPeriod(request.from, request.to);
    const vserver::Group group = findGroup(store, request.group);
    std::vector<vserver::Car> cars = store.cars(group.id);
    if (!request.devices.empty())
        std::erase_if(cars, [&request](const vserver::Car& car) {
            return std::find(request.devices.begin(), request.devices.end(), car.device) ==
                   request.devices.end();
        });
    if (cars.empty())
        throw VantrelError(QStringLiteral("В группе «%1» нет машин для показа").arg(group.name));
    if (cars.size() > size_t(kMaxVehicles))
        throw VantrelError(
            QStringLiteral("В группе «%1» %2 машин: весь парк показывает не больше %3. "
                           "Отметьте в списке меньше машин.")
                .arg(group.name)
                .arg(cars.size())
                .arg(kMaxVehicles));
    Fleet fleet;
    fleet.groupId = group.id;
    fleet.groupName = group.name;
    fleet.begin = request.from;
    fleet.end = request.to;
    fleet.vehicles.reserve(cars.size());
    const int total = int(cars.size());
    qint64 positions = 0;
    for (const vserver::Car& car : cars) {
        cancel.check();
        const std::vector<vserver::Message> messages =
            store.messages(car.device, request.from, request.to, cancel);
        VehicleTrack& track = fleet.vehicles.emplace_back();
        track.name = car.name;
        track.number = car.number;
        track.device = car.device;
        for (const vserver::Message& m : messages)
            if (m.signal && std::isfinite(m.lon) && std::isfinite(m.lat))
                track.append(float(fleet.secondsAt(m.time)), m.lon, m.lat, m.speed);
        track.finish();
        positions += qint64(track.size());
        // The whole group's size judged from the vehicles read so far, so that a request far too
        // large is refused after its first few vehicles, not after filling the memory.
        const int done = int(fleet.vehicles.size());
        const double expected = done >= 3 ? double(positions) / done * total : double(positions);
        if (positions > kMaxPositions || expected > 1.2 * kMaxPositions)
            throw VantrelError(
                QStringLiteral(
                    "Слишком много позиций для показа: около %1 млн у %2 машин за период "
                    "(можно не больше %3 млн). Сократите период или отметьте меньше машин.")
                    .arg(millions(std::max<double>(expected, positions)))
                    .arg(total)
                    .arg(millions(kMaxPositions)));
        if (progress)
            progress(done, total);
    }
    std::stable_sort(
        fleet.vehicles.begin(), fleet.vehicles.end(),
        [](const VehicleTrack& a, const VehicleTrack& b) { return namedBefore(a.name, b.name); });
    return fleet;
}
