// Loading a trip as the operator sees it: the real vantrel-server on this bench's bus, the
// window shown at 1280 x 800 with the real map control over the Monaco OpenStreetMap extract.
//   - a 100,000-point trip: from the end of its computation (OnEndComputing) to the trail painted;
//   - a 1,000,000-point trip: from choosing the vehicle to the trail painted;
//   - the longest the window's event loop was kept from its events (a 5 ms timer's largest
//     gap) while the Monaco extract opens, while the 1,000,000-point trip arrives, and while
//     the trip sheet of that trip is written from the window;
//   - the largest trip the bus allows (1,677,721 points) chosen, and while it arrives the
//     100,000-point vehicle chosen instead: the longest stall until that one is painted.
// Run inside a session bus of its own: dbus-run-session -- bench_load
#include "DateTimeValue.h"
#include "ExportController.h"
#include "FormFixture.h"
#include "Goal.h"
#include "LocalAutomation.h"
#include "MonacoWindow.h"
#include "StallProbe.h"
#include "Store.h"
#include "TMapvexControl.h"
#include "TVantrelAutomation.h"

#include <QApplication>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <cmath>
#include <functional>

namespace {

// A drive without stops through Monaco, a message a second.
std::vector<vserver::Message> drive(int count) {
    std::vector<vserver::Message> messages(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        messages[i].time = 39873.25 + i / 86400.0;
        messages[i].lon = 7.42 + 0.008 * std::sin(i * 1e-4);
        messages[i].lat = 43.735 + 0.006 * std::cos(i * 1.3e-4);
        messages[i].speed = 40;
    }
    return messages;
}

// The most points whose five numbers fit one D-Bus array (64 MiB of doubles).
constexpr int kLargestTrip = 1677721;

} // namespace

int main(int argc, char** argv) {
    MonacoWindow::useOffscreenPlatform();
    QApplication application(argc, argv);
    if (!QDBusConnection::sessionBus().isConnected()) {
        std::printf("FAILED: no session bus (run under dbus-run-session)\n");
        return 1;
    }
    QTemporaryDir folder;
    const QString storePath = folder.filePath("load.sqlite");
    {
        vserver::Store store(storePath);
        store.begin();
        store.addGroup({"bench", "Замер"});
        store.addCar({1, "bench", "Рейс 100 000 точек", "A100AA", 7101, ""});
        store.addCar({2, "bench", "Рейс 1 000 000 точек", "M100MM", 7102, ""});
        store.addCar({3, "bench", "Рейс 1 677 721 точка", "L167LL", 7103, ""});
        store.addMessages(7101, drive(100000));
        store.addMessages(7102, drive(1000000));
        store.addMessages(7103, drive(kLargestTrip));
        store.commit();
    }
    QProcess server;
    server.start(QCoreApplication::applicationDirPath() + "/../bin/vantrel-server", {"--db", storePath});
    while (!QDBusConnection::sessionBus().interface()->isServiceRegistered(TVantrelAutomation::kService))
        QThread::msleep(20);

    TVantrelAutomation client;
    QElapsedTimer sinceComputed;
    QObject target;
    // Registered before the window's own handler, so it runs first: the clock starts when the
    // computation has ended.
    client.RegisterHandler(AutomationEvent::OnEndComputing, &target, [&] { sinceComputed.start(); });
    StallProbe probe;
    // The group restored, no vehicle: nothing is asked before the first choice.
    MonacoWindow window(client, {{"<GroupID>7</GroupID>", "<GroupID>0</GroupID>"}, {"<CarID>0</CarID>", "<CarID>-1</CarID>"}},
                        [storePath](const QString&) -> std::unique_ptr<IVantrelAutomation> {
                            return std::make_unique<LocalAutomation>(storePath);
                        });
    probe.start();
    if (!window.started())
        return 1;
    const double openingStall = probe.stop();
    TForm1& form = *window.form;
    TMapvexControl* map = window.map;
    RecordingSink& sink = window.sink;
    if (form.ui().cmbCarDevice->count() != 3) {
        std::printf("FAILED: the vehicles did not load: %s\n", qPrintable(sink.texts().join("; ")));
        return 1;
    }
    // Chooses a vehicle and waits until its trail is on the screen: the trip loaded and a frame
    // painted from a cache that shows it.
    const auto choose = [&](int car) {
        form.ui().cmbCarDevice->setCurrentIndex(car);
        emit form.ui().cmbCarDevice->activated(car);
    };
    // `before`, when given, runs first, the probe and the clock already running.
    const auto load = [&](int car, int points, const std::function<void()>& before = {}) {
        QElapsedTimer sinceChosen;
        probe.start();
        sinceChosen.start();
        sinceComputed.invalidate();
        if (before)
            before();
        choose(car);
        quint64 frames = 0;
        bool loaded = false;
        while (true) {
            QApplication::processEvents(QEventLoop::AllEvents, 1);
            if (!loaded && form.session().track.PointCount == points && !form.session().selection.RequestPending) {
                loaded = true;
                frames = map->paintedFrames();
            }
            if (loaded && map->upToDate() && map->paintedFrames() > frames)
                break;
            if (sinceChosen.elapsed() > 120000) {
                std::printf("FAILED: the trip of %d points did not appear: %s\n", points,
                            qPrintable(sink.texts().join("; ")));
                std::exit(1);
            }
        }
        return std::tuple{sinceComputed.nsecsElapsed() / 1e6, sinceChosen.nsecsElapsed() / 1e6, probe.stop()};
    };
    // The sheet of the trip on screen, written as the window's menu writes it.
    const auto sheet = [&](int run) {
        probe.start();
        QElapsedTimer elapsed;
        elapsed.start();
        form.exporter().saveSheet(folder.filePath(QStringLiteral("sheet%1.pdf").arg(run)));
        return std::pair{elapsed.nsecsElapsed() / 1e6, probe.stop()};
    };
    // The three transfers a trip's load makes (its numbers, its line for the outline and for
    // the trail), sent together as a load sends them and timed alone on the same bus: what the
    // load spends in D-Bus before any work.
    const auto transfers = [&] {
        QElapsedTimer elapsed;
        elapsed.start();
        client.SetTripIndex(1);
        client.SendTrackCallsAhead(1);
        const auto numbers = client.TrackCrdsArray();
        client.SetTripIndex(1);
        const QString outline = client.TrackLine(), line = client.TrackLine();
        return std::pair{elapsed.nsecsElapsed() / 1e6, numbers.size() / 5};
    };
    std::vector<double> small, large, loadStalls, sheetStalls;
    for (int run = 0; run < 3; ++run) {
        const auto [computedToScreen, chosenToScreenSmall, smallStall] = load(0, 100000);
        small.push_back(computedToScreen);
        const auto [smallTransfers, smallPoints] = transfers();
        const auto [computedToScreenLarge, chosenToScreen, largeStall] = load(1, 1000000);
        large.push_back(chosenToScreen);
        loadStalls.push_back(largeStall);
        const auto [sheetTime, sheetStall] = sheet(run);
        sheetStalls.push_back(sheetStall);
        const auto [largeTransfers, largePoints] = transfers();
        std::printf("run %d: 100,000 points %.0f ms after their computation (%.0f ms after the choice); "
                    "1,000,000 points %.0f ms after the choice (%.0f ms after their computation)\n"
                    "       the three transfers alone: %.0f ms for %zu points, %.0f ms for %zu points\n",
                    run + 1, computedToScreen, chosenToScreenSmall, chosenToScreen, computedToScreenLarge,
                    smallTransfers, smallPoints, largeTransfers, largePoints);
        std::printf("       longest stall: %.0f ms loading 100,000 points, %.0f ms loading 1,000,000; "
                    "sheet of 1,000,000 points written in %.0f ms, longest stall %.0f ms\n",
                    smallStall, largeStall, sheetTime, sheetStall);
    }
    std::printf("longest stall while the Monaco extract opened: %.0f ms\n", openingStall);
    // The largest trip replaced while it arrives: a newer choice drops its load.
    std::vector<double> replacedStalls;
    for (int run = 0; run < 3; ++run) {
        const auto [computed, chosen, stall] = load(0, 100000, [&] {
            choose(2);
            while (form.session().loadingPoints() != kLargestTrip) {
                QApplication::processEvents(QEventLoop::AllEvents, 1);
                if (!form.session().selection.RequestPending &&
                    form.session().track.PointCount == kLargestTrip) {
                    std::printf("FAILED: the largest trip loaded before it could be replaced\n");
                    std::exit(1);
                }
            }
            // The operator's next choice is an event of its own, after the one that started
            // the load.
            QApplication::processEvents();
        });
        replacedStalls.push_back(stall);
        std::printf("largest trip replaced while loading, run %d: 100,000 points on screen %.0f ms "
                    "after the first choice, longest stall %.0f ms\n",
                    run + 1, chosen, stall);
    }
    form.FormDestroy();
    server.terminate();
    server.waitForFinished();
    reportGoal("load of a 100,000-point trip, computed to painted", median(small), "ms", 200);
    reportGoal("a 1,000,000-point trip on screen, chosen to painted", median(large) / 1000, "s", 2);
    reportGoal("longest stall of the window while a 1,000,000-point trip loads", median(loadStalls), "ms", 100);
    reportGoal("longest stall of the window while the Monaco extract opens", openingStall, "ms", 100);
    reportGoal("longest stall of the window while a sheet is written", median(sheetStalls), "ms", 100);
    reportGoal("longest stall of the window while the largest trip loads and a newer choice "
               "replaces it",
               median(replacedStalls), "ms", 100);
    return 0;
}
