#include "DemoData.h"

#include "Computation.h"
#include "DateTimeValue.h"
#include "Store.h"
#include "VantrelError.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <cmath>
#include <queue>

namespace vserver {
namespace {

constexpr double kCentreLon = 37.62, kCentreLat = 55.75;
constexpr double kStepLon = 0.0062, kStepLat = 0.0036; // about 390 m and 400 m

// A small deterministic generator, the same on every machine.
class Random {
public:
    explicit Random(quint64 seed) : state_(seed * 6364136223846793005ull + 1442695040888963407ull) {}
    double uniform() { // [0, 1)
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return double((state_ * 2685821657736338717ull) >> 11) / double(1ull << 53);
    }
    double between(double a, double b) { return a + (b - a) * uniform(); }
    int below(int n) { return std::min(n - 1, int(uniform() * n)); }

private:
    quint64 state_;
};

const char* kAvenues[] = {"проспект Мира", "Ленинский проспект", "Садовая улица", "проспект Победы",
                          "Московский проспект", "Невский проспект"};
const char* kStreets[] = {"улица Лесная", "улица Гагарина", "улица Пушкина", "Школьная улица",
                          "улица Чехова", "Заводская улица", "Полевая улица", "Речная улица",
                          "улица Кирова", "Советская улица", "Молодёжная улица", "Набережная улица",
                          "улица Строителей", "Центральная улица", "Садовый переулок", "Луговая улица",
                          "Парковая улица", "Почтовая улица", "улица Свободы", "Озёрная улица"};

} // namespace

void RoadNetwork::addRoad(int a, int b, const QString& highway, const QString& name, double speed) {
    Road road;
    road.a = a;
    road.b = b;
    road.shape = {nodes_[size_t(a)], nodes_[size_t(b)]};
    road.highway = highway;
    road.name = name;
    road.speedKmh = speed;
    road.length = distanceMetres(road.shape[0].x(), road.shape[0].y(), road.shape[1].x(), road.shape[1].y());
    adjacent_[size_t(a)].push_back(int(roads_.size()));
    adjacent_[size_t(b)].push_back(int(roads_.size()));
    roads_.push_back(std::move(road));
}

RoadNetwork RoadNetwork::demo() {
    RoadNetwork net;
    Random random(20090302);
    net.columns_ = 20;
    net.rows_ = 16;
    const double left = kCentreLon - kStepLon * (net.columns_ - 1) / 2;
    const double bottom = kCentreLat - kStepLat * (net.rows_ - 1) / 2;
    for (int r = 0; r < net.rows_; ++r)
        for (int c = 0; c < net.columns_; ++c)
            net.nodes_.emplace_back(left + c * kStepLon + random.between(-0.12, 0.12) * kStepLon,
                                    bottom + r * kStepLat + random.between(-0.12, 0.12) * kStepLat);
    // The ring road around the town.
    const int ringNodes = 36;
    const int ringStart = int(net.nodes_.size());
    for (int i = 0; i < ringNodes; ++i) {
        const double a = 2 * M_PI * i / ringNodes;
        net.nodes_.emplace_back(kCentreLon + std::cos(a) * kStepLon * (net.columns_ / 2.0 + 2.2),
                                kCentreLat + std::sin(a) * kStepLat * (net.rows_ / 2.0 + 2.2));
    }
    net.adjacent_.resize(net.nodes_.size());

    const auto avenue = [](int i) { return i % 5 == 2; };
    for (int r = 0; r < net.rows_; ++r) {
        for (int c = 0; c + 1 < net.columns_; ++c) {
            const bool big = avenue(r);
            net.addRoad(net.gridNode(c, r), net.gridNode(c + 1, r), big ? "primary" : "residential",
                        QString::fromUtf8(big ? kAvenues[(r / 5) % 6] : kStreets[r % 20]), big ? 60 : 40);
        }
    }
    for (int c = 0; c < net.columns_; ++c) {
        for (int r = 0; r + 1 < net.rows_; ++r) {
            const bool big = avenue(c);
            net.addRoad(net.gridNode(c, r), net.gridNode(c, r + 1), big ? "secondary" : "residential",
                        QString::fromUtf8(big ? kAvenues[(c / 5 + 3) % 6] : kStreets[(c + 7) % 20]),
                        big ? 60 : 40);
        }
    }
    net.closeSomeStreets(random);
    for (int i = 0; i < ringNodes; ++i)
        net.addRoad(ringStart + i, ringStart + (i + 1) % ringNodes, "trunk",
                    QStringLiteral("Кольцевая дорога"), 90);
    // Avenues leave the town and meet the ring.
    const auto nearestRing = [&](int node) {
        int best = ringStart;
        double bestDistance = 1e300;
        for (int i = ringStart; i < ringStart + ringNodes; ++i) {
            const QPointF d = net.nodes_[size_t(i)] - net.nodes_[size_t(node)];
            const double distance = std::hypot(d.x() / kStepLon, d.y() / kStepLat);
            if (distance < bestDistance) {
                bestDistance = distance;
                best = i;
            }
        }
        return best;
    };
    for (int r = 0; r < net.rows_; ++r) {
        if (!avenue(r))
            continue;
        for (const int c : {0, net.columns_ - 1}) {
            const int n = net.gridNode(c, r);
            net.addRoad(n, nearestRing(n), "primary", QString::fromUtf8(kAvenues[(r / 5) % 6]), 70);
        }
    }
    for (int c = 0; c < net.columns_; ++c) {
        if (!avenue(c))
            continue;
        for (const int r : {0, net.rows_ - 1}) {
            const int n = net.gridNode(c, r);
            net.addRoad(n, nearestRing(n), "secondary", QString::fromUtf8(kAvenues[(c / 5 + 3) % 6]), 70);
        }
    }
    return net;
}

void RoadNetwork::route(int from, int to, std::vector<QPointF>& points, std::vector<double>& speeds) const {
    const size_t n = nodes_.size();
    std::vector<double> cost(n, 1e300);
    std::vector<int> via(n, -1);
    using Item = std::pair<double, int>;
    std::priority_queue<Item, std::vector<Item>, std::greater<>> queue;
    cost[size_t(from)] = 0;
    queue.push({0, from});
    while (!queue.empty()) {
        const auto [c, node] = queue.top();
        queue.pop();
        if (c > cost[size_t(node)])
            continue;
        if (node == to)
            break;
        for (const int r : adjacent_[size_t(node)]) {
            const Road& road = roads_[size_t(r)];
            const int next = road.a == node ? road.b : road.a;
            const double seconds = road.length / (road.speedKmh / 3.6);
            if (c + seconds < cost[size_t(next)]) {
                cost[size_t(next)] = c + seconds;
                via[size_t(next)] = r;
                queue.push({c + seconds, next});
            }
        }
    }
    std::vector<int> path;
    for (int node = to; node != from && via[size_t(node)] >= 0;) {
        path.push_back(via[size_t(node)]);
        const Road& road = roads_[size_t(via[size_t(node)])];
        node = road.a == node ? road.b : road.a;
    }
    std::reverse(path.begin(), path.end());
    points = {nodes_[size_t(from)]};
    speeds.clear();
    int at = from;
    for (const int r : path) {
        const Road& road = roads_[size_t(r)];
        const int next = road.a == at ? road.b : road.a;
        points.push_back(nodes_[size_t(next)]);
        speeds.push_back(road.speedKmh);
        at = next;
    }
}

bool RoadNetwork::connected(const std::vector<bool>& open) const {
    std::vector<bool> seen(nodes_.size(), false);
    std::vector<int> stack{0};
    seen[0] = true;
    size_t reached = 1;
    while (!stack.empty()) {
        const int node = stack.back();
        stack.pop_back();
        for (const int r : adjacent_[size_t(node)]) {
            if (!open[size_t(r)])
                continue;
            const int next = roads_[size_t(r)].a == node ? roads_[size_t(r)].b : roads_[size_t(r)].a;
            if (!seen[size_t(next)]) {
                seen[size_t(next)] = true;
                ++reached;
                stack.push_back(next);
            }
        }
    }
    return reached == size_t(columns_ * rows_);
}

template <typename Random> void RoadNetwork::closeSomeStreets(Random& random) {
    // A few blocks have no through street, but every crossing stays reachable.
    std::vector<bool> open(roads_.size(), true);
    for (size_t r = 0; r < roads_.size(); ++r) {
        if (roads_[r].highway != QLatin1String("residential") || random.uniform() >= 0.06)
            continue;
        open[r] = false;
        if (!connected(open))
            open[r] = true;
    }
    std::vector<Road> kept;
    for (size_t r = 0; r < roads_.size(); ++r)
        if (open[r])
            kept.push_back(roads_[r]);
    roads_.clear();
    for (auto& list : adjacent_)
        list.clear();
    for (const Road& road : kept) {
        adjacent_[size_t(road.a)].push_back(int(roads_.size()));
        adjacent_[size_t(road.b)].push_back(int(roads_.size()));
        roads_.push_back(road);
    }
}

QByteArray RoadNetwork::geoJson() const {
    QJsonArray features;
    const auto feature = [&](const QString& type, const QJsonArray& coordinates, const QJsonObject& properties) {
        features.append(QJsonObject{{"type", "Feature"},
                                    {"properties", properties},
                                    {"geometry", QJsonObject{{"type", type}, {"coordinates", coordinates}}}});
    };
    const auto ring = [](double lon, double lat, double rx, double ry, int n) {
        QJsonArray points;
        for (int i = 0; i <= n; ++i) {
            const double a = 2 * M_PI * (i % n) / n;
            points.append(QJsonArray{lon + rx * std::cos(a), lat + ry * std::sin(a)});
        }
        return QJsonArray{points};
    };
    feature("Polygon", ring(kCentreLon + 4.2 * kStepLon, kCentreLat + 4.6 * kStepLat, 1.3 * kStepLon,
                            0.9 * kStepLat, 40),
            {{"natural", "water"}, {"name", "Озеро"}});
    feature("Polygon", ring(kCentreLon - 5.5 * kStepLon, kCentreLat - 3.4 * kStepLat, 1.6 * kStepLon,
                            1.1 * kStepLat, 30),
            {{"leisure", "park"}, {"name", "Парк Победы"}});
    for (const Road& road : roads_) {
        QJsonArray line;
        for (const QPointF& p : road.shape)
            line.append(QJsonArray{p.x(), p.y()});
        feature("LineString", line, {{"highway", road.highway}, {"name", road.name}});
    }
    const struct {
        const char* name;
        double dx, dy;
    } districts[] = {{"Центр", 0, 0.5}, {"Северный", 0, 6}, {"Заречье", 7, -5}, {"Южный", -2, -6},
                     {"Заводской", -7, 3}};
    for (const auto& d : districts)
        features.append(QJsonObject{
            {"type", "Feature"},
            {"properties", QJsonObject{{"place", "suburb"}, {"name", QString::fromUtf8(d.name)}}},
            {"geometry", QJsonObject{{"type", "Point"},
                                     {"coordinates", QJsonArray{kCentreLon + d.dx * kStepLon,
                                                                kCentreLat + d.dy * kStepLat}}}}});
    return QJsonDocument(QJsonObject{{"type", "FeatureCollection"}, {"features", features}}).toJson(QJsonDocument::Compact);
}

namespace {

// Drives one vehicle through its working days and records what its device sends.
class Simulation {
public:
    Simulation(const RoadNetwork& net, Random& random) : net_(net), random_(random) {}

    std::vector<Message> messages;
    double fuel1 = 180, fuel2 = 90;
    int sensors = 0;

    // One trip through the stops, ending at the last; the first trip of a day shows every event.
    void drive(double& time, const std::vector<int>& stops, bool allEvents) {
        for (size_t leg = 0; leg + 1 < stops.size(); ++leg) {
            std::vector<QPointF> points;
            std::vector<double> speeds;
            net_.route(stops[leg], stops[leg + 1], points, speeds);
            const bool lastLeg = leg + 2 == stops.size();
            driveRoute(time, points, speeds, allEvents);
            if (!lastLeg)
                stopFor(time, random_.between(150, 300), allEvents && leg == 0, allEvents && leg == 1);
        }
        eventClock_ = -1;
    }

    // Standing with the engine off: a message every five minutes.
    void park(double& time, double seconds) {
        const QPointF at = position_;
        for (double t = 0; t < seconds; t += 300)
            emitAt(time + t / 86400, at, 0);
        time += seconds / 86400;
        emitAt(time, at, 0);
    }

    void placeAt(int node) { position_ = net_.node(node); }

private:
    void emitAt(double time, QPointF at, double speed, bool signal = true) {
        Message m;
        m.time = time;
        m.lon = at.x() + random_.between(-2e-6, 2e-6);
        m.lat = at.y() + random_.between(-2e-6, 2e-6);
        m.speed = speed;
        m.signal = signal;
        m.power = !powerOff_;
        m.fuel1 = fuel1 + random_.between(-0.05, 0.05);
        m.fuel2 = fuel2 + random_.between(-0.05, 0.05);
        m.sensors = sensors;
        messages.push_back(m);
    }

    void stopFor(double& time, double seconds, bool refuel, bool drain) {
        sensors |= 1; // the door opens at every stop
        const double step = 10;
        const int samples = int(seconds / step);
        for (int i = 0; i < samples; ++i) {
            if (refuel && i >= 3 && i < 13)
                fuel1 += 4.5;
            if (drain && i >= 4 && i < 12)
                fuel2 -= 2.5;
            emitAt(time, position_, 0);
            time += step / 86400;
        }
        sensors &= ~1;
    }

    // Moving seconds into a trip that shows every event, and when each event happens then.
    double eventClock_ = -1;
    bool eventsOn(double from, double seconds) const {
        return eventClock_ >= from && eventClock_ < from + seconds;
    }

    void driveRoute(double& time, const std::vector<QPointF>& points, const std::vector<double>& limits,
                    bool events) {
        if (events && eventClock_ < 0)
            eventClock_ = 0;
        double total = 0;
        std::vector<double> lengths;
        for (size_t i = 0; i + 1 < points.size(); ++i) {
            lengths.push_back(distanceMetres(points[i].x(), points[i].y(), points[i + 1].x(), points[i + 1].y()));
            total += lengths.back();
        }
        const double driver = random_.between(0.85, 1.0);
        size_t leg = 0;
        double along = 0, covered = 0; // metres into the current leg, and into the route
        const double step = 10;        // seconds between messages
        while (leg < lengths.size()) {
            bool blind = false, fast = false;
            powerOff_ = false;
            if (eventClock_ >= 0) {
                int on = 0;
                for (int s = 2; s <= 6; ++s)
                    if (eventsOn(20 + 50 * (s - 2), 35))
                        on |= 1 << (s - 1);
                sensors = (sensors & 1) | on;
                blind = eventsOn(260, 150);
                powerOff_ = eventsOn(430, 90);
                fast = eventsOn(540, 70);
            }
            double speed = fast ? random_.between(100, 115)
                                : limits[leg] * driver + random_.between(-3, 3);
            if (covered < 60 || total - covered < 60)
                speed = std::min(speed, 25.0); // starting off and arriving
            speed = std::max(speed, 5.0);
            const QPointF a = points[leg], b = points[leg + 1];
            const double t = lengths[leg] > 0 ? along / lengths[leg] : 0;
            position_ = a + (b - a) * t;
            emitAt(time, position_, speed, !blind);
            fuel1 -= speed / 3.6 * step / 1000 * 0.28; // litres per kilometre
            double move = speed / 3.6 * step;
            covered += move;
            time += step / 86400;
            if (eventClock_ >= 0)
                eventClock_ += step;
            while (leg < lengths.size() && along + move >= lengths[leg]) {
                move -= lengths[leg] - along;
                along = 0;
                ++leg;
            }
            along += move;
        }
        powerOff_ = false;
        sensors &= 1;
        position_ = points.back();
        emitAt(time, position_, 0);
    }

    const RoadNetwork& net_;
    Random& random_;
    QPointF position_;
    bool powerOff_ = false;
};

} // namespace

void createDemoData(Store& store) {
    const RoadNetwork net = RoadNetwork::demo();
    Random random(7);
    const char* groups[] = {"Доставка Север", "Доставка Юг", "Такси", "Скорая помощь",
                            "Коммунальные службы", "Строительство", "Аренда", "Экспедиция", "Охрана"};
    const char* models[] = {"ГАЗель Next", "Ford Transit", "КамАЗ 65115", "Volvo FH", "Лада Ларгус",
                            "Mercedes Sprinter", "Hyundai Porter", "МАЗ 5440", "Renault Master"};
    const char* letters[] = {"А", "В", "Е", "К", "М", "Н", "О", "Р", "С", "Т", "У", "Х"};
    const QDate firstDay(2009, 3, 2);
    store.begin();
    try {
        for (int g = 0; g < 9; ++g) {
            const QString groupId = QStringLiteral("grp-%1").arg(g + 1);
            store.addGroup({groupId, QString::fromUtf8(groups[g])});
            // Each group works from its own base and serves its own customers.
            const int depot = net.gridNode(2 + (g * 7) % 16, 2 + (g * 5) % 12);
            std::vector<int> customers;
            for (int k = 0; k < 8; ++k)
                customers.push_back(net.gridNode(random.below(net.columns()), random.below(net.rows())));
            const QString listId = QStringLiteral("cp-%1").arg(g + 1);
            std::vector<Checkpoint> checkpoints;
            const QPointF base = net.node(depot);
            checkpoints.push_back({QStringLiteral("База"), QStringLiteral("гараж"), base.y(), base.x(), 150});
            for (int k = 0; k < 3; ++k) {
                const QPointF at = net.node(customers[size_t(k)]);
                checkpoints.push_back({QStringLiteral("Клиент %1").arg(k + 1),
                                       QStringLiteral("приём груза"), at.y(), at.x(), 100});
            }
            store.addCheckpointList(listId, checkpoints);
            const auto farthest = [&](int from) {
                int best = customers.front();
                double bestDistance = -1;
                for (const int k : customers) {
                    const QPointF d = net.node(k) - net.node(from);
                    if (std::hypot(d.x(), d.y()) > bestDistance) {
                        bestDistance = std::hypot(d.x(), d.y());
                        best = k;
                    }
                }
                return best;
            };

            for (int c = 0; c < 3; ++c) {
                const int device = 1000 + (g + 1) * 10 + c;
                const QString number = QStringLiteral("%1%2%3%4%5")
                                           .arg(QString::fromUtf8(letters[(g + c) % 12]))
                                           .arg(100 + g * 37 + c * 211)
                                           .arg(QString::fromUtf8(letters[(g * 3 + c) % 12]))
                                           .arg(QString::fromUtf8(letters[(g + 2 * c + 5) % 12]))
                                           .arg(77);
                store.addCar({0, groupId, QString::fromUtf8(models[(g + c * 4) % 9]), number, device, listId});

                Simulation sim(net, random);
                for (int day = 0; day < 3; ++day) {
                    // Devices report whole seconds.
                    const int startSecond = int(c * 25 * 60 + random.between(0, 15 * 60));
                    double time = datetime::fromDateAndTime(firstDay.addDays(day), QTime(8, 0).addSecs(startSecond));
                    sim.placeAt(depot);
                    sim.park(time, 600);
                    // Each leg goes somewhere else than where the vehicle stands.
                    const auto other = [&](int from) {
                        int to = from;
                        while (to == from || net.node(to) == net.node(from))
                            to = customers[size_t(random.below(int(customers.size())))];
                        return to;
                    };
                    const int a = farthest(depot);
                    int second = customers[size_t((c + day + 1) % 3)];
                    if (second == a)
                        second = other(a);
                    const int b = other(second), d = other(b), e = other(d), last = other(e);
                    sim.drive(time, {depot, a, second, b}, true);
                    sim.park(time, random.between(1500, 3000));
                    sim.drive(time, {b, d, e}, false);
                    sim.park(time, random.between(1800, 3600));
                    sim.drive(time, {e, last, depot == last ? other(last) : depot}, false);
                    sim.park(time, 900);
                }
                store.addMessages(device, sim.messages);
            }
        }
        store.commit();
    } catch (...) {
        store.rollback();
        throw;
    }
}

void writeDemoMap(const QString& folder) {
    if (!QDir().mkpath(folder))
        throw VantrelError(QStringLiteral("Не удалось создать папку %1").arg(folder));
    const auto write = [&](const QString& name, const QByteArray& content) {
        QSaveFile file(QDir(folder).filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
            throw VantrelError(QStringLiteral("Не удалось записать %1: %2").arg(file.fileName(), file.errorString()));
    };
    write(QStringLiteral("demo_roads.geojson"), RoadNetwork::demo().geoJson());
    write(QStringLiteral("ecatsub.chart"),
          "# The demo town: roads, water, a park and district names.\ndataset demo_roads.geojson\n");
}

} // namespace vserver
