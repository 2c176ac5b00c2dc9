// The map control with a 100,000-point trail over the Monaco OpenStreetMap extract, at
// 1280 x 800. Drawn synchronously, the whole view at once: a frame in which only the marker
// moved, and a full redraw after a pan. Through the window's own path (a shown control, tiles
// drawn on workers while the old image stands in): a pan that needs new tiles until every tile
// is on the screen, and the painted frames while the view follows a vehicle played at 600x.
// Without the extract it fails: a figure measured on another map would say nothing.
#include "Goal.h"
#include "TMapvexControl.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <cmath>
#include <cstdio>

namespace {

QString baseMap() { return QStringLiteral(VANTREL_SHARED_DATA) + "/osm/monaco-2016-03-05.osm.pbf"; }

IMapTable* table(TMapvexControl& map, const QStringList& fields) {
    IMapTable* t = map.CreateTable();
    for (const QString& f : fields)
        t->AddField("TEXT", f, f);
    t->AddRecord();
    return t;
}

// The trip's two trail layers, as the player publishes them.
void addTrail(TMapvexControl& map, const QString& line) {
    IMapTable* outline = table(map, {"metr"});
    IMapTable* trail = table(map, {"metr"});
    outline->SetValue(line, 0);
    trail->SetValue(line, 0);
    map.AddLayer("name=nametab1;metrics=[metr]", "l rgb(0,0,0) 4", outline);
    map.AddLayer("name=nametab2;metrics=[metr]", "l rgb(255,0,0) 2", trail);
}

// The vehicle's three marker layers at a place, as the player publishes them on every tick.
void publishMarker(TMapvexControl& map, IMapTable* marker, const QPointF& lonLat, int heading) {
    marker->SetValue(QString::number(lonLat.x(), 'f', 7), 0);
    marker->SetValue(QString::number(lonLat.y(), 'f', 7), 1);
    marker->SetValue(QString("m '51.otl' 22 rgb(0,0,0) 32 %1").arg(heading), 2);
    marker->SetValue(QString("m '51.otl' 22 rgb(255,255,255) 28 %1").arg(heading), 3);
    marker->SetValue(QString("m '51.otl' 22 rgb(0,0,255) 22 %1").arg(heading), 4);
    map.AddLayer("name=cartab1;coords=[YCOORD],[XCOORD];style=[style]", "", marker);
    map.AddLayer("name=cartab2;coords=[YCOORD],[XCOORD];style=[style2]", "", marker);
    map.AddLayer("name=cartab3;coords=[YCOORD],[XCOORD];style=[style3]", "", marker);
}

// Runs the event loop until the control paints a frame with every tile of its view in place.
void untilComplete(TMapvexControl& map) {
    const quint64 before = map.completeFrames();
    QElapsedTimer waited;
    waited.start();
    while (map.completeFrames() == before) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (waited.elapsed() > 30000) {
            std::printf("FAILED: the map was not painted completely within 30 s\n");
            std::exit(1);
        }
    }
}

// A drag of the map with the mouse, as the operator pans it.
void drag(TMapvexControl& map, QPoint from, QPoint to) {
    QMouseEvent press(QEvent::MouseButtonPress, from, map.mapToGlobal(from), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent move(QEvent::MouseMove, to, map.mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, to, map.mapToGlobal(to), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&map, &press);
    QApplication::sendEvent(&map, &move);
    QApplication::sendEvent(&map, &release);
}

// When each frame of a control was painted.
class FrameClock : public QObject {
public:
    explicit FrameClock(QWidget& widget) {
        widget.installEventFilter(this);
        clock_.start();
    }
    std::vector<qint64> paintedNs;
    qint64 nowNs() const { return clock_.nsecsElapsed(); }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            paintedNs.push_back(clock_.nsecsElapsed());
        return false;
    }

private:
    QElapsedTimer clock_;
};

double millisecondsPer(int rounds, const std::function<void(int)>& frame) {
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < rounds; ++i)
        frame(i);
    return timer.nsecsElapsed() / 1e6 / rounds;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    TMapvexControl map;
    map.setSynchronousRendering(true); // measures the drawing itself, not the hand-over
    map.resize(1280, 800);
    const QString path = baseMap();
    if (map.LoadMap(path, "") != 0) {
        std::printf("FAILED: cannot load the OpenStreetMap extract %s\n", qPrintable(path));
        return 1;
    }
    const QPointF centre = mercator::unproject(map.viewport().centre);
    // A winding trail of 100,000 points across the map.
    QString line = "L E ";
    for (int i = 0; i < 100000; ++i) {
        const double t = i / 100000.0;
        line += QString::number(centre.x() + 0.02 * std::sin(t * 40) * t, 'f', 7) + ' ' +
                QString::number(centre.y() + 0.012 * std::cos(t * 37) * t, 'f', 7) + ',';
    }
    line.chop(1);
    addTrail(map, line);
    IMapTable* marker = table(map, {"XCOORD", "YCOORD", "style", "style2", "style3"});
    map.SetCurScale(20000);
    map.CenterOn(centre.y(), centre.x());

    QImage frame(map.size(), QImage::Format_ARGB32_Premultiplied);
    const auto moveMarker = [&](int i) {
        publishMarker(map, marker, QPointF(centre.x() + i * 1e-5, centre.y()), i % 360);
    };
    moveMarker(0);
    map.render(&frame); // builds the cache
    std::vector<double> markerRuns, fullRuns;
    for (int run = 0; run < 3; ++run) {
        markerRuns.push_back(millisecondsPer(300, [&](int i) {
            moveMarker(i);
            map.render(&frame);
        }));
        fullRuns.push_back(millisecondsPer(30, [&](int i) {
            const double dx = (i % 2 ? 1 : -1) * 0.0005;
            map.CenterOn(centre.y(), centre.x() + dx); // a pan: the cache is drawn again
            map.render(&frame);
        }));
    }
    const double markerOnly = median(markerRuns), fullRedraw = median(fullRuns);
    // The same pan without the trail, to tell the base map's share.
    TMapvexControl bare;
    bare.setSynchronousRendering(true);
    bare.resize(1280, 800);
    bare.LoadMap(path, "");
    bare.SetCurScale(20000);
    const double baseOnly = millisecondsPer(30, [&](int i) {
        bare.CenterOn(centre.y(), centre.x() + (i % 2 ? 1 : -1) * 0.0005);
        bare.render(&frame);
    });
    // At 1:5,000 the street names are set along the roads: placed once per scale, then drawn.
    bare.SetCurScale(5000);
    bare.CenterOn(43.7384, 7.4246);
    QElapsedTimer placing;
    placing.start();
    bare.render(&frame);
    const double firstAtLargeScale = placing.nsecsElapsed() / 1e6;
    std::vector<double> largeRuns;
    for (int run = 0; run < 3; ++run)
        largeRuns.push_back(millisecondsPer(20, [&](int i) {
            bare.CenterOn(43.7384, 7.4246 + (i % 2 ? 1 : -1) * 0.0002);
            bare.render(&frame);
        }));

    // The window's own path: the control shown, tiles drawn on workers. Each pan drags the map
    // 300 pixels at a scale not seen before, so that a band of tiles is new.
    TMapvexControl tiled;
    tiled.resize(1280, 800);
    tiled.show();
    tiled.LoadMap(path, "");
    addTrail(tiled, line);
    tiled.SetCurScale(20000);
    tiled.CenterOn(centre.y(), centre.x());
    untilComplete(tiled);
    std::vector<double> panRuns;
    for (int run = 0; run < 3; ++run) {
        std::vector<double> pans;
        for (int i = 0; i < 10; ++i) {
            tiled.SetCurScale(20000 * (1 + 0.003 * (run * 10 + i + 1)));
            tiled.CenterOn(centre.y(), centre.x());
            untilComplete(tiled);
            QElapsedTimer panned;
            panned.start();
            drag(tiled, QPoint(800, 400), QPoint(i % 2 ? 1100 : 500, 400));
            untilComplete(tiled);
            pans.push_back(panned.nsecsElapsed() / 1e6);
        }
        panRuns.push_back(median(pans));
        std::printf("tiled run %d: a 300-pixel pan painted completely in %.1f ms (median of 10; "
                    "%.1f to %.1f)\n",
                    run + 1, panRuns.back(), *std::min_element(pans.begin(), pans.end()),
                    *std::max_element(pans.begin(), pans.end()));
    }

    // Playback at 600x along the coast (one point a second at about 40 km/h, 6.4 km each way):
    // the vehicle leaves the middle of the view every half second or so and the view is centred
    // on it again, its new tiles drawn while frames go on. The marker is published every
    // millisecond, as the playback clock does. Each run is at a scale not seen before: the tiles
    // of the ground driven over are drawn anew, not found kept from the run before.
    QString drive = "L E ";
    std::vector<QPointF> places;
    for (int i = 0; i < 100000; ++i) {
        const double phase = i / 580.0, there = 2 * std::abs(phase - std::floor(phase + 0.5));
        places.emplace_back(7.38 + 0.08 * there, 43.735 + 0.008 * std::sin(i / 150.0));
        drive += QString::number(places.back().x(), 'f', 7) + ' ' +
                 QString::number(places.back().y(), 'f', 7) + ',';
    }
    drive.chop(1);
    TMapvexControl follower;
    follower.resize(1280, 800);
    follower.show();
    follower.LoadMap(path, "");
    addTrail(follower, drive);
    IMapTable* vehicle = table(follower, {"XCOORD", "YCOORD", "style", "style2", "style3"});
    follower.CenterOn(places.front().y(), places.front().x());
    FrameClock frames(follower);
    std::vector<double> lowestRates;
    constexpr double kSeconds = 5, kSpeed = 600;
    for (int run = 0; run < 3; ++run) {
        follower.SetCurScale(20000 * (1 + 0.01 * run));
        untilComplete(follower);
        const qint64 startNs = frames.nowNs();
        const size_t firstFrame = frames.paintedNs.size();
        const quint64 incompleteBefore = follower.paintedFrames() - follower.completeFrames();
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const double trip = (frames.nowNs() - startNs) / 1e9 * kSpeed + run * kSeconds * kSpeed;
            const size_t at = std::min(size_t(trip), places.size() - 2);
            const QPointF a = places[at], b = places[at + 1];
            const double f = trip - at;
            const int heading =
                int(std::atan2(a.y() - b.y(), b.x() - a.x()) * 180 / M_PI + 360) % 360;
            publishMarker(follower, vehicle, a + (b - a) * f, heading);
        });
        tick.start(1);
        while (frames.nowNs() - startNs < kSeconds * 1e9)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        tick.stop();
        const std::vector<qint64> painted(frames.paintedNs.begin() + qsizetype(firstFrame),
                                          frames.paintedNs.end());
        // The fewest frames in any second of the run, and the longest wait for one.
        size_t fewest = painted.size();
        double longest = 0;
        for (size_t i = 0, j = 0; i < painted.size(); ++i) {
            if (i > 0)
                longest = std::max(longest, (painted[i] - painted[i - 1]) / 1e6);
            if (painted[i] - startNs > (kSeconds - 1) * 1e9)
                continue;
            while (j < painted.size() && painted[j] - painted[i] < 1000000000)
                ++j;
            fewest = std::min(fewest, j - i);
        }
        lowestRates.push_back(double(fewest));
        std::printf("tiled run %d at 600x: %zu frames in %.0f s (%llu while new tiles were drawn), "
                    "the fewest in "
                    "one second %zu, the longest between two %.1f ms (%.1f frames/s)\n",
                    run + 1, painted.size(), kSeconds,
                    (unsigned long long)(follower.paintedFrames() - follower.completeFrames() -
                                         incompleteBefore),
                    fewest, longest, 1000 / longest);
    }

    std::printf("first redraw at 1:5000 (street names placed for the scale): %.1f ms\n", firstAtLargeScale);
    std::printf("full redraw of the base map alone: %.2f ms\n", baseOnly);
    std::printf("base map: %s, view 1280 x 800 at 1:20000, trail 100000 points\n",
                qPrintable(QFileInfo(path).fileName()));
    std::printf("synchronous, the whole view drawn at once: marker-only frame %.2f ms, full redraw "
                "after a pan "
                "%.2f ms, at 1:5000 %.2f ms\n",
                markerOnly, fullRedraw, median(largeRuns));
    std::printf("tiled and asynchronous, as the window draws: a pan that needs new tiles %.2f ms, "
                "the fewest "
                "frames in one second of 600x playback %.0f\n",
                median(panRuns), median(lowestRates));
    reportGoal("full redraw on Monaco, 1280x800, 100,000-point trail", fullRedraw, "ms", 40);
    reportGoal("marker-only frame on Monaco", markerOnly, "ms", 4);
    reportGoal("full redraw on Monaco at 1:5000 with street names and the sea", median(largeRuns), "ms", 40);
    reportGoal("a pan that needs new tiles, painted completely", median(panRuns), "ms", 40);
    reportGoal("re-centre during 600x playback, lowest frame rate", median(lowestRates), "frames/s",
               30, Better::Higher);
    return 0;
}
