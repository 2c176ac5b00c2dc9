// The tracking server's two heavy paths: a computation over 1,000,000 stored messages, and the
// transfer of a 100,000-point TrackCrdsArray to a client over the session bus.
// Run inside a session bus of its own: dbus-run-session -- bench_server
#include "Computation.h"
#include "Goal.h"
#include "Store.h"
#include "TVantrelAutomation.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace {

// A vehicle driving with a stop every so often: messages every second from 1 March 2009 on.
std::vector<vserver::Message> drive(int count, int parkEvery) {
    std::vector<vserver::Message> messages;
    messages.reserve(size_t(count));
    double lon = 37.6, lat = 55.75;
    for (int i = 0; i < count; ++i) {
        const bool parked = parkEvery > 0 && (i % parkEvery) > parkEvery - 900; // 15 minutes standing
        const double speed = parked ? 0 : 40 + 20 * std::sin(i * 0.001);
        lon += parked ? 0 : speed / 3.6 / 62700 * std::cos(i * 1e-4);
        lat += parked ? 0 : speed / 3.6 / 111200 * std::sin(i * 1e-4);
        vserver::Message m;
        m.time = 39873.0 + i / 86400.0;
        m.lon = lon;
        m.lat = lat;
        m.speed = speed;
        m.fuel1 = 200 - i * 1e-4;
        m.sensors = (i / 600) % 2;
        messages.push_back(m);
    }
    return messages;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QTemporaryDir folder;
    const QString path = folder.filePath("bench.sqlite");
    {
        vserver::Store store(path);
        store.begin();
        store.addGroup({"bench", "Замер"});
        store.addCar({1, "bench", "Много сообщений", "A000AA", 7001, ""});
        store.addCar({2, "bench", "Длинный рейс", "B000BB", 7002, ""});
        store.addMessages(7001, drive(1000000, 20000));
        store.addMessages(7002, drive(100000, 0));
        store.commit();
    }

    vserver::Store store(path);
    QElapsedTimer timer;
    timer.start();
    const auto messages = store.messages(7001, 0, 1e9);
    const double readMs = timer.nsecsElapsed() / 1e6;
    timer.restart();
    const auto trips = vserver::computeTrips(messages, {});
    const double computeMs = timer.nsecsElapsed() / 1e6;
    std::printf("computation over %zu stored messages: %.0f ms (reading %.0f ms, trips %.0f ms), %zu trips; goal <= 1000 ms\n",
                messages.size(), readMs + computeMs, readMs, computeMs, trips.size());

    if (!QDBusConnection::sessionBus().isConnected()) {
        std::printf("no session bus: the transfer is not measured (run under dbus-run-session)\n");
        return 0;
    }
    QProcess server;
    server.start(QCoreApplication::applicationDirPath() + "/../bin/vantrel-server", {"--db", path});
    while (!QDBusConnection::sessionBus().interface()->isServiceRegistered(TVantrelAutomation::kService))
        QThread::msleep(20);
    TVantrelAutomation client;
    client.StartServer();
    bool ended = false;
    QObject target;
    client.RegisterHandler(AutomationEvent::OnEndComputing, &target, [&] { ended = true; });
    client.ComputeTrack("bench", 7002, "01.03.2009 00:00:00", "31.03.2009 00:00:00", "GSM", 1);
    while (!ended)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    client.SetTripIndex(1);
    const int points = client.TrackPointCount();
    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        timer.restart();
        const std::vector<double> values = client.TrackCrdsArray();
        best = std::min(best, timer.nsecsElapsed() / 1e6);
        if (values.size() != size_t(points) * 5)
            std::printf("unexpected length %zu\n", values.size());
    }
    std::printf("transfer of a %d-point TrackCrdsArray: %.1f ms (best of 5); goal <= 100 ms\n", points, best);

    // From ComputeTrack to OnEndComputing over the bus: one request, and a burst of a hundred
    // (a user clicking through vehicles), of which only the newest may cost.
    // The server's CPU time in ms, from /proc: what a burst costs it beyond the newest request.
    const auto serverCpuMs = [&] {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(server.processId()));
        stat.open(QIODevice::ReadOnly);
        const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
        return (fields.value(12).toDouble() + fields.value(13).toDouble()) * 1000.0 /
               double(sysconf(_SC_CLK_TCK));
    };
    const auto compute = [&](int requests) {
        int endings = 0;
        const double cpuBefore = serverCpuMs();
        QObject watcher;
        client.RegisterHandler(AutomationEvent::OnEndComputing, &watcher, [&] { ++endings; });
        timer.restart();
        for (int i = 0; i < requests; ++i)
            client.ComputeTrack("bench", 7001, "01.03.2009 00:00:00", "31.03.2009 00:00:00", "GSM", 1);
        const double sent = timer.nsecsElapsed() / 1e6;
        while (endings == 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::printf("  %d requests: sent in %.0f ms, ended at %.0f ms, server CPU %.0f ms\n",
                    requests, sent, timer.nsecsElapsed() / 1e6, serverCpuMs() - cpuBefore);
        return timer.nsecsElapsed() / 1e6;
    };
    std::vector<double> single, burst;
    for (int round = 0; round < 3; ++round) {
        single.push_back(compute(1));
        burst.push_back(compute(100));
    }
    std::printf("computation of 1000000 messages through D-Bus: %.0f ms; a burst of 100 requests: %.0f ms\n",
                median(single), median(burst));
    server.terminate();
    server.waitForFinished();
    reportGoal("computation of 1,000,000 messages through D-Bus", median(single), "ms", 1000);
    reportGoal("burst of 100 requests against one", median(burst) / median(single), "x", 1.5);
    return 0;
}
