#include "DemoFleet.h"

#include "DateTimeValue.h"
#include "DemoData.h"
#include "Store.h"
#include "VantrelError.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace vserver {
namespace {

constexpr int kDaySeconds = 86400;

// One vehicle's day, a position a second: parked at its base until its shift begins, then
// trips between random crossings with short stops, then parked again.
class FleetDriver {
public:
    FleetDriver(const RoadNetwork& net, unsigned seed) : net_(net), random_(seed) {}

    std::vector<Message> day(double midnight, bool lunchSilence) {
        std::vector<Message> out;
        out.reserve(kDaySeconds);
        node_ = pick(0, net_.nodeCount() - 1);
        at_ = net_.node(node_);
        const int shiftStart = pick(5 * 3600, 9 * 3600), shiftEnd = pick(17 * 3600, 22 * 3600);
        int second = 0;
        const auto record = [&](QPointF where, double speed) {
            if (second < kDaySeconds &&
                !(lunchSilence && second >= 12 * 3600 && second < 13 * 3600)) {
                Message m;
                m.time = midnight + second / double(kDaySeconds);
                m.lon = where.x();
                m.lat = where.y();
                m.speed = speed;
                out.push_back(m);
            }
            ++second;
        };
        while (second < shiftStart)
            record(at_, 0);
        while (second < shiftEnd) {
            int target = pick(0, net_.nodeCount() - 1);
            if (target == node_)
                continue;
            std::vector<QPointF> points;
            std::vector<double> speeds;
            net_.route(node_, target, points, speeds);
            const double pace = std::uniform_real_distribution<double>(0.55, 0.95)(random_);
            double along = 0; // metres driven into the current leg
            for (size_t leg = 0; leg + 1 < points.size() && second < kDaySeconds; ++leg) {
                const QPointF a = points[leg], b = points[leg + 1];
                const double length = metres(a, b);
                const double speed = speeds[leg] * pace; // km/h
                while (along < length && second < kDaySeconds) {
                    const double f = along / length;
                    record(a + (b - a) * f,
                           speed + std::uniform_real_distribution<double>(-2, 2)(random_));
                    along += speed / 3.6;
                }
                along -= length;
            }
            node_ = target;
            at_ = net_.node(target);
            const int stop = pick(60, 20 * 60);
            for (int s = 0; s < stop; ++s)
                record(at_, 0);
        }
        while (second < kDaySeconds)
            record(at_, 0);
        return out;
    }

private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    static double metres(QPointF a, QPointF b) {
        const double dx = (b.x() - a.x()) * 111320 * std::cos(a.y() * M_PI / 180),
                     dy = (b.y() - a.y()) * 110540;
        return std::max(0.01, std::hypot(dx, dy));
    }

    const RoadNetwork& net_;
    std::mt19937 random_;
    int node_ = 0;
    QPointF at_;
};

} // namespace

QString demoFleetGroupName(const DemoFleetRequest& request) {
    return QStringLiteral("Парк %1 (%2 машин)")
        .arg(request.day.toString(QStringLiteral("dd.MM.yyyy")))
        .arg(request.vehicles);
}

QString createDemoFleet(Store& store, const DemoFleetRequest& request,
                        const std::function<void(int)>& progress) {
    if (request.vehicles < 1)
        throw VantrelError(QStringLiteral("число машин --vehicles должно быть от 1 до %1")
                               .arg(kMaxDemoFleetVehicles));
    if (request.vehicles > kMaxDemoFleetVehicles)
        throw VantrelError(
            QStringLiteral(
                "%1 машин — это %2 млн позиций в сутки: больше %3 машин демонстрационный парк "
                "не пишет")
                .arg(request.vehicles)
                .arg(QString::number(request.vehicles * 0.0864, 'f', 1))
                .arg(kMaxDemoFleetVehicles));
    if (!request.day.isValid() || request.day.year() < 1900 || request.day.year() > 9999)
        throw VantrelError(QStringLiteral("день --day нужен в виде дд.мм.гггг"));
    const QString name = demoFleetGroupName(request);
    for (const Group& group : store.groups())
        if (group.name == name)
            throw VantrelError(QStringLiteral("группа «%1» уже есть в хранилище").arg(name));
    const RoadNetwork net = RoadNetwork::demo();
    const double midnight = datetime::fromDateAndTime(request.day, QTime(0, 0));
    store.begin();
    try {
        store.lockForWriters();
        int device = 0;
        for (const Car& car : store.allCars())
            device = std::max(device, car.device);
        device = std::max(device, 100000) + 1;
        const QString groupId = store.ensureGroup(name);
        for (int i = 1; i <= request.vehicles; ++i, ++device) {
            Car car;
            car.groupId = groupId;
            car.name = QStringLiteral("Машина %1").arg(i, 3, 10, QLatin1Char('0'));
            car.number = QStringLiteral("П%1ТК77").arg(i, 3, 10, QLatin1Char('0'));
            car.device = device;
            store.addCar(car);
            FleetDriver driver(net, unsigned(i) * 7919u + unsigned(request.day.toJulianDay()));
            store.addMessages(device, driver.day(midnight, i % 10 == 0));
            if (progress)
                progress(i);
        }
        store.commit();
        return groupId;
    } catch (...) {
        store.rollback();
        throw;
    }
}

} // namespace vserver
