#include "FleetLoader.h"

#include "Store.h"
#include "VantrelError.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <mutex>
#include <thread>

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

std::vector<vserver::Car> carsToRead(const vserver::Store& store, const vserver::Group& group,
                                     const FleetRequest& request) {
    std::vector<vserver::Car> cars = store.cars(group.id);
    if (!request.devices.empty())
        std::erase_if(cars, [&request](const vserver::Car& car) {
            return std::find(request.devices.begin(), request.devices.end(), car.device) ==
                   request.devices.end();
        });
    if (cars.empty())
        throw VantrelError(QStringLiteral("В группе «%1» нет машин для показа").arg(group.name));
    if (cars.size() > size_t(FleetLoader::kMaxVehicles))
        throw VantrelError(
            QStringLiteral("В группе «%1» %2 машин: весь парк показывает не больше %3. "
                           "Отметьте в списке меньше машин.")
                .arg(group.name)
                .arg(cars.size())
                .arg(FleetLoader::kMaxVehicles));
    return cars;
}

// The positions read so far by every reader: the whole group's size is judged from the vehicles
// read, so that a request far too large is refused after its first few vehicles, not after
// filling the memory.
class Tally {
public:
    Tally(int total, qint64 limit, const FleetLoader::Progress& progress)
        : total_(total), limit_(limit), progress_(progress) {}
    void add(size_t positions) {
        const std::lock_guard lock(mutex_);
        positions_ += qint64(positions);
        ++done_;
        const double expected =
            done_ >= 3 ? double(positions_) / done_ * total_ : double(positions_);
        if (positions_ > limit_ || expected > 1.2 * double(limit_))
            throw VantrelError(
                QStringLiteral(
                    "Слишком много позиций для показа: около %1 млн у %2 машин за период "
                    "(можно не больше %3 млн). Сократите период или отметьте меньше машин.")
                    .arg(millions(std::max<double>(expected, double(positions_))))
                    .arg(total_)
                    .arg(millions(double(limit_))));
        if (progress_)
            progress_(done_, total_);
    }

private:
    std::mutex mutex_;
    const int total_;
    const qint64 limit_;
    const FleetLoader::Progress& progress_;
    qint64 positions_ = 0;
    int done_ = 0;
};

void readVehicle(const vserver::Store& store, const vserver::Car& car, const Fleet& fleet,
                 VehicleTrack& track, const vserver::CancelToken& cancel) {
    const std::vector<vserver::StoredPosition> positions =
        store.positions(car.device, fleet.begin, fleet.end, cancel);
    track.name = car.name;
    track.number = car.number;
    track.device = car.device;
    for (const vserver::StoredPosition& m : positions)
        if (std::isfinite(m.lon) && std::isfinite(m.lat))
            track.append(float(fleet.secondsAt(m.time)), m.lon, m.lat, m.speed);
    track.finish();
}

// Reads the vehicles with `readers` connections to the store at once (the first is `store`,
// the others are opened by `open` on their own threads); each takes every readers-th vehicle.
Fleet readFleet(const vserver::Store& store,
                const std::function<std::unique_ptr<vserver::Store>()>& open, int readers,
                const FleetRequest& request, const FleetLoader::Progress& progress,
                const vserver::CancelToken& cancel) {
    FleetLoader::checkPeriod(request.from, request.to);
    const vserver::Group group = findGroup(store, request.group);
    const std::vector<vserver::Car> cars = carsToRead(store, group, request);
    Fleet fleet;
    fleet.groupId = group.id;
    fleet.groupName = group.name;
    fleet.begin = request.from;
    fleet.end = request.to;
    fleet.vehicles.resize(cars.size());
    readers = std::clamp(readers, 1, int(cars.size()));
    Tally tally(int(cars.size()), request.maxPositions, progress);
    std::mutex failure;
    std::exception_ptr error;
    std::atomic<bool> failed = false;
    const auto read = [&](const vserver::Store& own, int reader) {
        try {
            for (size_t i = size_t(reader); i < cars.size() && !failed; i += size_t(readers)) {
                cancel.check();
                readVehicle(own, cars[i], fleet, fleet.vehicles[i], cancel);
                tally.add(fleet.vehicles[i].size());
            }
        } catch (...) {
            const std::lock_guard lock(failure);
            if (!error)
                error = std::current_exception();
            failed = true;
        }
    };
    std::vector<std::thread> others;
    for (int reader = 1; reader < readers; ++reader)
        others.emplace_back([&, reader] {
            try {
                const std::unique_ptr<vserver::Store> own = open();
                read(*own, reader);
            } catch (...) {
                const std::lock_guard lock(failure);
                if (!error)
                    error = std::current_exception();
                failed = true;
            }
        });
    read(store, 0);
    for (std::thread& thread : others)
        thread.join();
    if (error)
        std::rethrow_exception(error);
    std::stable_sort(
        fleet.vehicles.begin(), fleet.vehicles.end(),
        [](const VehicleTrack& a, const VehicleTrack& b) { return namedBefore(a.name, b.name); });
    return fleet;
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
    const auto open = [storePath] {
        return std::make_unique<vserver::Store>(storePath, vserver::Store::Opening::Existing);
    };
    return readFleet(store, open, std::min(kReaders, QThread::idealThreadCount()), request,
                     progress, cancel);
}

Fleet FleetLoader::load(const vserver::Store& store, const FleetRequest& request,
                        const Progress& progress, const vserver::CancelToken& cancel) {
    return readFleet(store, {}, 1, request, progress, cancel);
}
