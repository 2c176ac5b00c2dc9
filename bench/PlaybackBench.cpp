// Ten seconds of playback at 600x on a 1,000,000-point trip over the Monaco OpenStreetMap
// extract, three times: the window shown at 1280 x 800 on a real X server (an Xvfb of the
// bench's own; frames really painted, sent to it and counted by the control's paint events),
// the real map control, an in-process server. Prints the whole process's CPU, the X server's
// beside it, and the frames painted. Without the extract or Xvfb it fails.
#include "DateTimeValue.h"
#include "FormFixture.h"
#include "GlyphButton.h"
#include "Goal.h"
#include "MonacoWindow.h"
#include "PlaybackController.h"
#include "PlaybackTimer.h"
#include "ProcessCpu.h"
#include "SpeedChart.h"
#include "TMapvexControl.h"
#include "XvfbDisplay.h"

#include <QApplication>
#include <QComboBox>
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
    XvfbDisplay display;
    if (!display.started())
        return 1;
    qputenv("DISPLAY", display.name());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication application(argc, argv);
    ScriptedAutomation server;
    server.groups = {{"g", "Группа", {{1, "Машина", "А001АА", 1}}}};
    server.computeStatus = 0;
    std::vector<TrackPoint> points;
    // One point a second at about 40 km/h, back and forth along the coast through Monaco and
    // beyond (6.4 km each way): at 600x the vehicle crosses a 1:20000 view every second or so,
    // and the view follows it.
    constexpr int kPoints = 1000000;
    for (int i = 0; i < kPoints; ++i) {
        const double phase = i / 580.0, there = 2 * std::abs(phase - std::floor(phase + 0.5));
        points.push_back({39873.0 + i / 86400.0, 7.38 + 0.08 * there, 43.735 + 0.008 * std::sin(i / 150.0),
                          i * 11.0, 40.0});
    }
    server.trips = {FormFixture::trip(points)};

    MonacoWindow window(server);
    if (!window.started())
        return 1;
    TForm1& form = *window.form;
    TMapvexControl* map = window.map;
    // The trail of a long trip is read on a worker: playback starts once it is painted.
    QElapsedTimer loading;
    loading.start();
    while ((form.session().track.PointCount != kPoints || !map->upToDate()) &&
           loading.elapsed() < 120000)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    if (form.session().track.PointCount != kPoints) {
        std::printf("FAILED: the trip did not load: %s\n", qPrintable(window.sink.texts().join("; ")));
        return 1;
    }
    std::vector<double> cpuShares, xShares, frameRates;
    int ticks = 0;
    QObject::connect(form.ui().Timer1, &PlaybackTimer::timeout, [&] { ++ticks; });
    for (int run = 0; run < 3; ++run) {
        form.playback().btnStopClick();
        form.ui().cmbSpeed->setEditText(QStringLiteral("600x"));
        form.session().clock.PlaySpeed = 600;
        emit form.ui().btnPlay->clicked();
        ticks = 0;
        const quint64 framesBefore = map->paintedFrames();
        const double cpuBefore = cpuSeconds(), xBefore = processCpuSeconds(display.pid());
        QElapsedTimer wall;
        wall.start();
        QEventLoop loop;
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        const double seconds = wall.nsecsElapsed() / 1e9;
        cpuShares.push_back(100 * (cpuSeconds() - cpuBefore) / seconds);
        xShares.push_back(100 * (processCpuSeconds(display.pid()) - xBefore) / seconds);
        frameRates.push_back((map->paintedFrames() - framesBefore) / seconds);
        std::printf("run %d: %.1f s at 600x (%s), %d ticks, CPU %.1f %% of one core (the X server "
                    "%.1f %%), "
                    "%.1f painted frames a second\n",
                    run + 1, seconds,
                    form.ui().btnPlay->glyph() == ";" ? "still playing" : "stopped", ticks,
                    cpuShares.back(), xShares.back(), frameRates.back());
    }
    std::printf("errors shown: %zu\n", window.sink.messages.size());

    // The speed chart under the map with a 1,000,000-point trip: reduced to pixel columns once
    // per trip or size, then every repaint draws the columns and the play-head.
    TrackStore million;
    std::vector<double> data;
    data.reserve(5000000);
    for (int i = 0; i < 1000000; ++i)
        data.insert(data.end(), {39873.0 + i / 86400.0, 7.42, 43.73, i * 10.0, 40 + 30 * std::sin(i / 900.0)});
    million.load(std::move(data), 1000000);
    SpeedChart chart;
    chart.resize(1010, 130);
    QElapsedTimer reducing;
    reducing.start();
    chart.setTrack(million);
    const double reduceMs = reducing.nsecsElapsed() / 1e6;
    QImage canvas(chart.size(), QImage::Format_ARGB32_Premultiplied);
    std::vector<double> repaints;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer painting;
        painting.start();
        for (int i = 0; i < 50; ++i) {
            chart.setPlayTime(million.time(1 + i * 20000));
            chart.render(&canvas);
        }
        repaints.push_back(painting.nsecsElapsed() / 1e6 / 50);
    }
    std::printf("speed chart, 1,000,000 points: reduced to columns in %.1f ms, repainted in %.2f ms\n", reduceMs,
                median(repaints));
    form.FormDestroy();
    reportGoal("600x playback on Monaco, CPU of the whole process", median(cpuShares), "% of one core", 25);
    reportGoal(
        "600x playback of a 1,000,000-point trip on Monaco under X, CPU of the whole process",
        median(cpuShares), "% of one core", 10);
    reportFigure("600x playback of a 1,000,000-point trip on Monaco, CPU of the X server beside it",
                 median(xShares), "% of one core");
    reportGoal("600x playback on Monaco, painted frames", median(frameRates), "frames/s", 30, Better::Higher);
    reportGoal("speed chart repaint, 1,000,000-point trip", median(repaints), "ms", 16);
    return 0;
}
