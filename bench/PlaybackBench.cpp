// Ten seconds of playback at 600x on a 100,000-point trip: the window offscreen, the real map
// control painting, an in-process server. Prints the CPU used and the frames the map painted.
#include "DateTimeValue.h"
#include "FormFixture.h"
#include "GlyphButton.h"
#include "PlaybackController.h"
#include "PlaybackTimer.h"
#include "TMapvexControl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QTreeWidget>
#include <cmath>
#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ScriptedAutomation server;
    server.groups = {{"g", "Группа", {{1, "Машина", "А001АА", 1}}}};
    server.computeStatus = 0;
    std::vector<TrackPoint> points;
    for (int i = 0; i < 100000; ++i) // one point a second, winding through the town
        points.push_back({39873.0 + i / 86400.0, 37.62 + 0.02 * std::sin(i * 1e-4) + i * 1e-7,
                          55.75 + 0.015 * std::cos(i * 1.3e-4), i * 12.0, 43.0});
    server.trips = {FormFixture::trip(points)};

    RecordingSink sink;
    QTemporaryDir settings;
    PlayerEnvironment environment;
    TMapvexControl* map = nullptr;
    environment.createServer = [&]() -> IVantrelAutomation* { return &server; };
    environment.createMap = [&](QWidget* parent) {
        map = new TMapvexControl(parent);
        return PlayerEnvironment::MapParts{map, map};
    };
    environment.messages = &sink;
    environment.now = [] { return datetime::fromQDateTime(QDateTime::currentDateTimeUtc()); };
    environment.settingsDirectory = settings.path();
    TForm1 form(environment);
    form.resize(1280, 800);
    form.show();
    form.FormShow();
    QApplication::processEvents();
    if (form.track.PointCount != 100000) {
        std::printf("the trip did not load: %s\n", qPrintable(sink.texts().join("; ")));
        return 1;
    }
    form.clock.PlaySpeed = 600;
    emit form.btnPlay->clicked();

    const quint64 framesBefore = map->paintedFrames();
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    int ticks = 0;
    QObject::connect(form.Timer1, &PlaybackTimer::timeout, [&] { ++ticks; });
    QEventLoop loop;
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    const double seconds = wall.nsecsElapsed() / 1e9;
    const double cpu = cpuSeconds() - cpuBefore;
    const quint64 frames = map->paintedFrames() - framesBefore;
    std::printf("playback at 600x for %.1f s of wall time on a %d-point trip (%s)\n", seconds,
                form.track.PointCount, form.btnPlay->glyph() == ";" ? "still playing" : "stopped");
    std::printf("ticks: %d (%.0f a second)\n", ticks, ticks / seconds);
    std::printf("CPU used: %.1f %% of one core (goal < 25 %%)\n", 100 * cpu / seconds);
    std::printf("frames the map painted: %llu, %.1f a second (goal >= 30)\n", (unsigned long long)frames,
                frames / seconds);
    std::printf("errors shown: %zu\n", sink.messages.size());
    form.FormDestroy();
    return 0;
}
