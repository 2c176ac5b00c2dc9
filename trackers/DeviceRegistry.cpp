#include "DeviceRegistry.h"

#include "Store.h"
#include "VantrelError.h"

#include <map>

namespace trackers::devices {

bool validIdent(const QString& ident) {
    if (ident.isEmpty() || ident.size() > 64)
        return false;
    for (const QChar c : ident)
        if (!c.isPrint() || c.isSpace())
            return false;
    return true;
}

void add(vserver::Store& store, const QString& groupId, int device, const QString& ident, const QString& carName,
         const QString& number) {
    if (!validIdent(ident))
        throw VantrelError(QStringLiteral("идентификатор --id: от 1 до 64 печатных знаков без пробелов"));
    if (device <= 0)
        throw VantrelError(QStringLiteral("номер прибора --device должен быть целым числом больше нуля"));
    bool groupFound = false;
    for (const vserver::Group& g : store.groups())
        groupFound = groupFound || g.id == groupId;
    if (!groupFound)
        throw VantrelError(QStringLiteral("нет группы «%1»").arg(groupId));
    for (const vserver::Tracker& t : store.trackers())
        if (t.ident == ident)
            throw VantrelError(QStringLiteral("идентификатор %1 уже записан за прибором %2").arg(ident).arg(t.device));
    const std::optional<vserver::Car> car = store.carOfDevice(device);
    if (car && car->groupId != groupId)
        throw VantrelError(QStringLiteral("прибор %1 стоит на машине «%2» группы «%3»").arg(device).arg(car->name, car->groupId));
    store.begin();
    try {
        if (!car)
            store.addCar({0, groupId, carName.isEmpty() ? QStringLiteral("Прибор %1").arg(device) : carName, number, device, {}});
        store.addTracker({ident, device});
        store.commit();
    } catch (...) {
        store.rollback();
        throw;
    }
}

QStringList list(const vserver::Store& store) {
    std::map<int, vserver::Car> cars;
    for (const vserver::Car& car : store.allCars())
        cars[car.device] = car;
    QStringList lines;
    for (const vserver::Tracker& t : store.trackers()) {
        const auto car = cars.find(t.device);
        lines << QStringLiteral("%1\t%2\t%3\t%4")
                     .arg(t.ident)
                     .arg(t.device)
                     .arg(car == cars.end() ? QString() : car->second.groupId,
                          car == cars.end() ? QStringLiteral("(нет машины)") : car->second.name);
    }
    return lines;
}

void remove(vserver::Store& store, const QString& ident) {
    store.begin();
    bool removed = false;
    try {
        removed = store.removeTracker(ident);
        store.commit();
    } catch (...) {
        store.rollback();
        throw;
    }
    if (!removed)
        throw VantrelError(QStringLiteral("идентификатор %1 не записан ни за одним прибором").arg(ident));
}

} // namespace trackers::devices
