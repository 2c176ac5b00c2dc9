// The store at an installation's size on both engines: 10,000,000 messages across 1,000
// vehicles (999 with a day at one message every 10 s, one with 1,000,000 messages a second
// apart), then one vehicle's day and the big vehicle's million computed as the server does.
// PostgreSQL runs on a private socket started here; without it the benchmark fails.
#include "Computation.h"
#include "Goal.h"
#include "PostgresServer.h"
#include "Store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>

using namespace vserver;

namespace {

constexpr int kVehicles = 1000, kBig = 1000 + kVehicles - 1;
constexpr double kDay0 = 39873.0;

void fill(Store& store) {
    store.begin();
    store.addGroup({"grp-1", "Автопарк"});
    std::vector<Message> batch;
    for (int v = 0; v < kVehicles; ++v) {
        const int device = 1000 + v;
        store.addCar({0, "grp-1", QStringLiteral("Машина %1").arg(v), QString(), device, QString()});
        const bool big = device == kBig;
        const int count = big ? 1000000 : 9000;
        batch.clear();
        for (int i = 0; i < count; ++i) {
            const double t = kDay0 + (big ? i : i * 10) / 86400.0;
            batch.push_back({t, 37.6 + 0.01 * std::sin(i / 500.0), 55.75 + 0.0001 * (i % 3000), 40.0 * ((i / 600) % 2)});
        }
        store.addMessages(device, batch);
    }
    store.commit();
}

double computeMs(const Store& store, int device, double from, double to) {
    QElapsedTimer timer;
    timer.start();
    const auto trips = computeTrips(store.messages(device, from, to), {});
    return timer.nsecsElapsed() / 1e6;
}

void measure(const QString& engine, Store& store) {
    QElapsedTimer filling;
    filling.start();
    fill(store);
    std::printf("%s: 10,000,000 messages of 1,000 vehicles stored in %.1f s\n", qPrintable(engine),
                filling.nsecsElapsed() / 1e9);
    std::vector<double> day, million;
    for (int run = 0; run < 5; ++run)
        day.push_back(computeMs(store, 1000 + (run * 197) % (kVehicles - 1), kDay0, kDay0 + 1));
    for (int run = 0; run < 3; ++run)
        million.push_back(computeMs(store, kBig, kDay0 - 1, kDay0 + 30));
    reportGoal(qPrintable(QStringLiteral("%1, one vehicle's day in a 10,000,000-message store").arg(engine)), median(day), "ms", 100);
    reportGoal(qPrintable(QStringLiteral("%1, 1,000,000 messages of one vehicle").arg(engine)), median(million), "ms", 1000);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QTemporaryDir folder;
    {
        Store file(folder.filePath("store.sqlite"));
        measure(QStringLiteral("SQLite"), file);
    }
    PostgresServer postgres;
    if (!postgres.ready()) {
        std::printf("FAILED: no PostgreSQL to measure: %s\n", qPrintable(postgres.problem));
        return 1;
    }
    Store base(postgres.newDatabase(QStringLiteral("bench")));
    measure(QStringLiteral("PostgreSQL"), base);
    return 0;
}
