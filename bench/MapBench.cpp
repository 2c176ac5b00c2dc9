// The map control with a 100,000-point trail over the Monaco OpenStreetMap extract, at
// 1280 x 800: a frame in which only the marker moved, and a full redraw after a pan. Without
// the extract it fails: a figure measured on another map would say nothing.
#include "Goal.h"
#include "TMapvexControl.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
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
    IMapTable* outline = table(map, {"metr"});
    IMapTable* trail = table(map, {"metr"});
    outline->SetValue(line, 0);
    trail->SetValue(line, 0);
    map.AddLayer("name=nametab1;metrics=[metr]", "l rgb(0,0,0) 4", outline);
    map.AddLayer("name=nametab2;metrics=[metr]", "l rgb(255,0,0) 2", trail);
    IMapTable* marker = table(map, {"XCOORD", "YCOORD", "style", "style2", "style3"});
    map.SetCurScale(20000);
    map.CenterOn(centre.y(), centre.x());

    QImage frame(map.size(), QImage::Format_ARGB32_Premultiplied);
    const auto moveMarker = [&](int i) {
        marker->SetValue(QString::number(centre.x() + i * 1e-5, 'f', 7), 0);
        marker->SetValue(QString::number(centre.y(), 'f', 7), 1);
        marker->SetValue(QString("m '51.otl' 22 rgb(0,0,0) 32 %1").arg(i % 360), 2);
        marker->SetValue(QString("m '51.otl' 22 rgb(255,255,255) 28 %1").arg(i % 360), 3);
        marker->SetValue(QString("m '51.otl' 22 rgb(0,0,255) 22 %1").arg(i % 360), 4);
        map.AddLayer("name=cartab1;coords=[YCOORD],[XCOORD];style=[style]", "", marker);
        map.AddLayer("name=cartab2;coords=[YCOORD],[XCOORD];style=[style2]", "", marker);
        map.AddLayer("name=cartab3;coords=[YCOORD],[XCOORD];style=[style3]", "", marker);
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
    std::printf("first redraw at 1:5000 (street names placed for the scale): %.1f ms\n", firstAtLargeScale);
    std::printf("full redraw of the base map alone: %.2f ms\n", baseOnly);
    std::printf("base map: %s, view 1280 x 800 at 1:20000, trail 100000 points\n",
                qPrintable(QFileInfo(path).fileName()));
    std::printf("marker-only frame: %.2f ms (goal <= 4 ms)\n", markerOnly);
    std::printf("full redraw after a pan: %.2f ms (goal <= 40 ms)\n", fullRedraw);
    std::printf("ratio full / marker-only: %.1f\n", fullRedraw / markerOnly);
    reportGoal("full redraw on Monaco, 1280x800, 100,000-point trail", fullRedraw, "ms", 40);
    reportGoal("marker-only frame on Monaco", markerOnly, "ms", 4);
    reportGoal("full redraw on Monaco at 1:5000 with street names and the sea", median(largeRuns), "ms", 40);
    return 0;
}
