// The fleet view at the size the demo command writes: 100 vehicles through one day at a
// position a second (8.64 million positions) in a SQLite store, over the demo town's map.
// Measures reading them all, the area question over the whole day, and ten seconds of 600x
// replay in the window shown at 1280 x 800 (offscreen platform, frames really painted and
// counted by the overlay's paint events), each three times.
#include "AreaVisits.h"
#include "DateTimeValue.h"
#include "DemoData.h"
#include "DemoFleet.h"
#include "ErrorReporter.h"
#include "FleetLoader.h"
#include "FleetWindow.h"
#include "Goal.h"
#include "MessageSink.h"
#include "MonacoWindow.h"
#include "Store.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <sys/resource.h>

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

double loadAverage() {
    double one = 0;
    std::ifstream("/proc/loadavg") >> one;
    return one;
}

struct CountingSink : IMessageSink {
    QStringList texts;
    void showMessage(const QString& text, const QString&) override { texts << text; }
};

void wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv) {
    MonacoWindow::useOffscreenPlatform();
    QApplication application(argc, argv);
    QTemporaryDir folder;
    // The 8.6 million positions are written once (about a minute on a busy machine) and kept
    // beside the benchmark for the runs after it.
    const QString storePath =
        QCoreApplication::applicationDirPath() + QStringLiteral("/fleet-100x1day.sqlite");
    const QDate day(2009, 3, 10);
    const vserver::DemoFleetRequest request{100, day};
    QString groupId;
    {
        vserver::Store store(storePath);
        for (const vserver::Group& group : store.groups())
            if (group.name == vserver::demoFleetGroupName(request))
                groupId = group.id;
        if (groupId.isEmpty()) {
            QElapsedTimer writing;
            writing.start();
            groupId = vserver::createDemoFleet(store, request);
            std::printf(
                "demo-fleet: 100 vehicles x one day written in %.1f s (load average %.2f)\n",
                writing.nsecsElapsed() / 1e9, loadAverage());
        }
    }
    vserver::writeDemoMap(folder.path());
    const double from = datetime::fromDateAndTime(day, QTime(0, 0)), to = from + 1;

    std::vector<double> loads;
    Fleet fleet;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer reading;
        reading.start();
        fleet = FleetLoader::load(storePath, {groupId, from, to, {}});
        loads.push_back(reading.nsecsElapsed() / 1e9);
        std::printf("run %d: %zu positions of %zu vehicles read in %.2f s (load average %.2f)\n",
                    run + 1, fleet.positionCount(), fleet.vehicles.size(), loads.back(),
                    loadAverage());
    }

    // A circle of 400 m about a crossing in the middle of the town, and a rectangle of the
    // town's middle, over the whole day.
    const VehicleTrack& some = fleet.vehicles[fleet.vehicles.size() / 2];
    const double lon = some.lon(some.size() / 2), lat = some.lat(some.size() / 2);
    std::vector<double> circles, rectangles;
    size_t found = 0;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer asking;
        asking.start();
        found = areaVisits(fleet, Area::circle(lon, lat, 400), from, to).size();
        circles.push_back(asking.nsecsElapsed() / 1e6);
        asking.restart();
        found +=
            areaVisits(fleet, Area::rectangle(lon - 0.01, lat - 0.005, lon + 0.01, lat + 0.005),
                       from, to)
                .size();
        rectangles.push_back(asking.nsecsElapsed() / 1e6);
    }
    std::printf("area question over the day: circle %.0f ms, rectangle %.0f ms, %zu visits\n",
                median(circles), median(rectangles), found);

    CountingSink sink;
    ErrorReporter errors(sink);
    FleetWindow::Setup setup;
    setup.storePath = storePath;
    setup.mapPath = QDir(folder.path()).filePath(QStringLiteral("ecatsub.chart"));
    setup.now = [] { return datetime::fromQDateTime(QDateTime::currentDateTimeUtc()); };
    FleetWindow window(setup, errors);
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.resize(1280, 800);
    window.show();
    window.load({groupId, from, to, {}});
    while (window.loading())
        wait(50);
    if (!window.replay().fleet()) {
        std::printf("FAILED: the fleet did not load: %s\n", qPrintable(window.statusText()));
        return 1;
    }
    wait(1500); // the base map's tiles drawn
    // What one frame costs the window's thread, drawn into an image: the map's cached picture
    // with the fleet over it, and the fleet alone.
    window.replay().seekMoment(from + 8.0 / 24);
    QImage frame(window.map().size(), QImage::Format_ARGB32_Premultiplied);
    std::vector<double> whole, fleetOnly;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer painting;
        painting.start();
        for (int i = 0; i < 20; ++i) {
            window.replay().seekSeconds(window.replay().seconds() + 60);
            window.map().render(&frame);
        }
        whole.push_back(painting.nsecsElapsed() / 1e6 / 20);
        painting.restart();
        for (int i = 0; i < 20; ++i) {
            window.replay().seekSeconds(window.replay().seconds() + 60);
            window.canvas().render(&frame);
        }
        fleetOnly.push_back(painting.nsecsElapsed() / 1e6 / 20);
    }
    std::printf("one frame: %.1f ms with the map, %.1f ms the fleet alone\n", median(whole),
                median(fleetOnly));
    std::vector<double> cpuShares, frameRates;
    for (int run = 0; run < 3; ++run) {
        window.replay().stop();
        window.replay().seekMoment(from + 8.0 / 24); // the morning's traffic
        window.replay().setSpeed(600);
        const quint64 framesBefore = window.canvas().paintedFrames();
        const double cpuBefore = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        // Played through the window's own button, so that its frame timer runs.
        for (auto* button : window.findChildren<QPushButton*>())
            if (button->toolTip() == QStringLiteral("Воспроизвести"))
                button->click();
        wait(10000);
        const double seconds = wall.nsecsElapsed() / 1e9;
        cpuShares.push_back(100 * (cpuSeconds() - cpuBefore) / seconds);
        frameRates.push_back((window.canvas().paintedFrames() - framesBefore) / seconds);
        std::printf("run %d: 10 s at 600x, CPU %.1f %% of one core, %.1f painted frames a second "
                    "(load average %.2f)\n",
                    run + 1, cpuShares.back(), frameRates.back(), loadAverage());
    }
    std::printf("errors shown: %lld\n", qlonglong(sink.texts.size()));
    reportGoal("fleet: 100 vehicles x one day read from the store", median(loads), "s", 5);
    reportGoal("fleet: area question over the day (circle)", median(circles), "ms", 1000);
    reportGoal("fleet: 600x replay of 100 vehicles, painted frames", median(frameRates), "frames/s",
               30, Better::Higher);
    reportGoal("fleet: 600x replay of 100 vehicles, CPU of the whole process", median(cpuShares),
               "% of one core", 25);
    return 0;
}
