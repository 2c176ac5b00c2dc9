#include "QtPrinters.h"
#include "TMapvexControl.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QWheelEvent>
#include <QRegularExpression>
#include <QThread>
#include <cmath>
#include <gtest/gtest.h>

namespace {

constexpr double kLon = 37.62, kLat = 55.75;

// A control centred on a fixed place, with tables made as the player makes them.
struct Canvas {
    Canvas() {
        control.resize(300, 300);
        control.SetCurScale(20000);
        control.CenterOn(kLat, kLon);
    }
    IMapTable* geometryTable(const QString& geometry) {
        IMapTable* table = control.CreateTable();
        table->AddField("TEXT", "metr", "metr");
        table->AddRecord();
        table->SetValue(geometry, 0);
        return table;
    }
    IMapTable* pointTable(double lon, double lat, const QString& style) {
        IMapTable* table = control.CreateTable();
        table->AddField("DOUBLE", "XCOORD", "Longitude");
        table->AddField("DOUBLE", "YCOORD", "Latitude");
        table->AddField("TEXT", "style", "style");
        table->AddRecord();
        table->SetValue(QString::number(lon, 'g', 15), 0);
        table->SetValue(QString::number(lat, 'g', 15), 1);
        table->SetValue(style, 2);
        return table;
    }
    QImage image() { return control.renderImage(QSize(300, 300)); }
    QPoint at(double lon, double lat) {
        Viewport view = control.viewport();
        view.size = QSize(300, 300);
        return view.toScreen(mercator::project(lon, lat)).toPoint();
    }
    TMapvexControl control;
};

bool isRed(const QColor& c) { return c.red() > 200 && c.green() < 80 && c.blue() < 80; }

} // namespace

TEST(Render, ATrailIsARedTwoPixelLineThroughItsPoints) {
    Canvas canvas;
    canvas.control.AddLayer("name=nametab2;metrics=[metr]", "l rgb(255,0,0) 2",
                            canvas.geometryTable("L E 37.61 55.75,37.63 55.75,37.63 55.755"));
    const QImage image = canvas.image();
    const QPoint a = canvas.at(37.615, 55.75);
    EXPECT_TRUE(isRed(image.pixelColor(a)));
    int red = 0;
    for (int dy = -4; dy <= 4; ++dy)
        red += isRed(image.pixelColor(a + QPoint(0, dy)));
    EXPECT_GE(red, 1);
    EXPECT_LE(red, 3); // about two pixels wide
    const QPoint b = canvas.at(37.63, 55.7525); // a pixel's rounding may fall beside the line's core
    EXPECT_TRUE(isRed(image.pixelColor(b)) || isRed(image.pixelColor(b - QPoint(1, 0))) ||
                isRed(image.pixelColor(b + QPoint(1, 0))));
    EXPECT_FALSE(isRed(image.pixelColor(canvas.at(37.62, 55.753))));
}

TEST(Render, ACheckpointAreaIsAFilledRedCircle) {
    Canvas canvas;
    QString ring = "L E ";
    for (int k = 0; k <= 30; ++k) {
        const double t = k * 12 * M_PI / 180;
        ring += QString("%1 %2,").arg(kLon + 0.002 * std::cos(t) / std::cos(kLat * M_PI / 180), 0, 'g', 15)
                    .arg(kLat + 0.002 * std::sin(t), 0, 'g', 15);
    }
    ring.chop(1);
    canvas.control.AddLayer("name='Контрольная точка';metrics=[metr]", "a rgb(255,0,0) 10", canvas.geometryTable(ring));
    const QImage image = canvas.image();
    const QColor inside = image.pixelColor(canvas.at(kLon, kLat));
    EXPECT_GT(inside.red(), 200);
    EXPECT_LT(inside.green(), 180);
    const QColor outside = image.pixelColor(canvas.at(kLon + 0.01, kLat));
    EXPECT_GT(outside.green(), 200);
}

TEST(Render, TheMarkersNosePointsAlongItsHeading) {
    const struct {
        double heading;
        QPoint direction; // on the screen, y down
    } cases[] = {{0, {1, 0}}, {90, {0, 1}}, {180, {-1, 0}}, {270, {0, -1}}};
    for (const auto& c : cases) {
        Canvas canvas;
        canvas.control.AddLayer("name=cartab1;coords=[YCOORD],[XCOORD];style=[style]", "",
                                canvas.pointTable(kLon, kLat, QString("m '51.otl' 22 rgb(0,0,0) 40 %1").arg(c.heading)));
        const QImage image = canvas.image();
        const QPoint centre = canvas.at(kLon, kLat);
        EXPECT_LT(image.pixelColor(centre + c.direction * 20).lightness(), 60) << c.heading; // the nose
        EXPECT_GT(image.pixelColor(centre - c.direction * 20).lightness(), 150) << c.heading; // no tail
    }
}

TEST(Render, TheThreeMarkerStylesMakeAnOutlinedBlueArrow) {
    Canvas canvas;
    IMapTable* marker = canvas.pointTable(kLon, kLat, "m '51.otl' 22 rgb(0,0,0) 32 0");
    marker->AddField("TEXT", "style2", "style2");
    marker->AddField("TEXT", "style3", "style3");
    marker->SetValue("m '51.otl' 22 rgb(255,255,255) 28 0", 3);
    marker->SetValue("m '51.otl' 22 rgb(0,0,255) 22 0", 4);
    canvas.control.AddLayer("name=cartab1;coords=[YCOORD],[XCOORD];style=[style]", "", marker);
    canvas.control.AddLayer("name=cartab2;coords=[YCOORD],[XCOORD];style=[style2]", "", marker);
    canvas.control.AddLayer("name=cartab3;coords=[YCOORD],[XCOORD];style=[style3]", "", marker);
    const QImage image = canvas.image();
    const QPoint centre = canvas.at(kLon, kLat);
    EXPECT_EQ(image.pixelColor(centre + QPoint(3, 0)), QColor(0, 0, 255));
    int blue = 0, white = 0, black = 0; // all three stacked layers show around the marker
    for (int dx = -18; dx <= 18; ++dx)
        for (int dy = -18; dy <= 18; ++dy) {
            const QColor c = image.pixelColor(centre + QPoint(dx, dy));
            blue += c.blue() > 200 && c.red() < 60 && c.green() < 60;
            white += c.red() >= 250 && c.green() >= 250 && c.blue() >= 250;
            black += c.lightness() < 50;
        }
    EXPECT_GT(blue, 50);
    EXPECT_GT(white, 40);
    EXPECT_GT(black, 40);
}

TEST(Render, LabelsAreDrawnAtTheirPointEvenWithAQuote) {
    for (const QString& label : {QString("Склад(ворота)"), QString("O'Brien(дом)")}) {
        Canvas canvas;
        canvas.control.AddLayer("name=centersKT;coords=[YCOORD],[XCOORD];style=[style]", "",
                                canvas.pointTable(kLon, kLat, "t '" + label + "' 'Arial 204' 8 rgb(0,0,0)"));
        ASSERT_EQ(canvas.control.scene().layer("centersKT")->features.size(), 1u);
        const QImage image = canvas.image();
        const QPoint centre = canvas.at(kLon, kLat);
        int dark = 0, darkFar = 0;
        for (int dx = -40; dx <= 40; ++dx)
            for (int dy = -8; dy <= 8; ++dy)
                dark += image.pixelColor(centre + QPoint(dx, dy)).lightness() < 80;
        for (int dx = -40; dx <= 40; ++dx)
            for (int dy = 40; dy <= 56; ++dy)
                darkFar += image.pixelColor(centre + QPoint(dx, dy)).lightness() < 80;
        EXPECT_GT(dark, 20) << label.toStdString();
        EXPECT_EQ(darkFar, 0);
    }
}

// A frame in which only the marker or a label moved repaints their bounds alone: whatever they
// draw must lie inside, or a moving vehicle would leave pieces of itself behind.
TEST(Render, TheLiveLayersDrawOnlyInsideTheirBounds) {
    Canvas canvas;
    canvas.control.AddLayer("name=nametab2;metrics=[metr]", "l rgb(255,0,0) 2",
                            canvas.geometryTable("L E 37.61 55.75,37.63 55.75"));
    for (int heading : {0, 37, 90, 135, 200, 315}) {
        const QString style = QString("m '51.otl' 22 rgb(0,0,0) 32 %1").arg(heading);
        canvas.control.AddLayer("name=cartab1;coords=[YCOORD],[XCOORD];style=[style]", "",
                                canvas.pointTable(kLon + 0.003, kLat, style));
        canvas.control.AddLayer("name=centersKT;coords=[YCOORD],[XCOORD];style=[style]", "",
                                canvas.pointTable(kLon - 0.004, kLat + 0.002,
                                                  "t 'Клиент 2(приём груза) — длинная подпись' 'Arial 204' 8 rgb(0,0,0)"));
        Viewport view = canvas.control.viewport();
        view.size = QSize(300, 300);
        QImage live(300, 300, QImage::Format_ARGB32_Premultiplied);
        live.fill(Qt::transparent);
        QPainter painter(&live);
        painter.setRenderHint(QPainter::Antialiasing);
        canvas.control.scene().renderLive(painter, view);
        painter.end();
        const QRect bounds = canvas.control.scene().liveBounds(view).toAlignedRect();
        int drawn = 0, outside = 0;
        for (int y = 0; y < 300; ++y)
            for (int x = 0; x < 300; ++x)
                if (qAlpha(live.pixel(x, y)) > 0) {
                    ++drawn;
                    outside += !bounds.contains(x, y);
                }
        EXPECT_GT(drawn, 300) << heading;
        EXPECT_EQ(outside, 0) << heading;
    }
}

TEST(Render, AVehicleRepublishedBetweenFramesShowsItsLastPublicationAsSent) {
    Canvas canvas;
    canvas.control.setSynchronousRendering(true);
    IMapTable* marker = canvas.pointTable(kLon, kLat, "m '51.otl' 22 rgb(0,0,255) 22 0");
    const QString cartab = "name=cartab3;coords=[YCOORD],[XCOORD];style=[style]";
    const auto publishAt = [&](double lon) {
        marker->SetValue(QString::number(lon, 'g', 15), 0);
        return canvas.control.AddLayer(cartab, "", marker);
    };
    const auto blueAt = [&](const QImage& image, double lon) {
        const QColor c = image.pixelColor(canvas.at(lon, kLat));
        return c.blue() > 200 && c.red() < 80;
    };
    EXPECT_EQ(canvas.control.AddLayer("name=cartab3;coords=[nothing]", "", marker), 1);
    for (int tick = 0; tick < 20; ++tick)
        ASSERT_EQ(publishAt(kLon - 0.002 + tick * 0.0001), 0);
    ASSERT_EQ(publishAt(kLon + 0.003), 0);
    marker->SetValue(QString::number(kLon - 0.003, 'g', 15), 0); // edited, not published
    const QImage painted = canvas.control.grab().toImage();
    EXPECT_TRUE(blueAt(painted, kLon + 0.003));
    EXPECT_FALSE(blueAt(painted, kLon - 0.003));
    EXPECT_FALSE(blueAt(painted, kLon - 0.0001));
    // A publication that no longer holds a vehicle leaves the frame's layers for the cached image.
    marker->SetValue("l rgb(255,0,0) 2", 2);
    publishAt(kLon);
    EXPECT_FALSE(canvas.control.scene().layer("cartab3")->live);
}

TEST(Render, StraightLinesStartingOffScreenAreDrawn) {
    Canvas canvas; // a line due east and one due north, each starting outside the view
    canvas.control.AddLayer("name=a;metrics=[metr]", "l rgb(255,0,0) 2", canvas.geometryTable("L E 37.50 55.75,37.70 55.75"));
    canvas.control.AddLayer("name=b;metrics=[metr]", "l rgb(255,0,0) 2", canvas.geometryTable("L E 37.625 55.70,37.625 55.80"));
    const QImage image = canvas.image();
    EXPECT_TRUE(isRed(image.pixelColor(canvas.at(37.61, 55.75))));
    EXPECT_TRUE(isRed(image.pixelColor(canvas.at(37.625, 55.752))));

    // A long line whose first hundreds of points lie far outside: drawn without a gap where it
    // crosses the view.
    QStringList points;
    for (int i = 0; i <= 500; ++i)
        points << QStringLiteral("%1 55.755").arg(37.30 + i * 0.0007, 0, 'f', 4);
    canvas.control.AddLayer("name=c;metrics=[metr]", "l rgb(255,0,0) 2", canvas.geometryTable("L E " + points.join(',')));
    const QImage long_ = canvas.image();
    for (double lon = 37.608; lon < 37.633; lon += 0.002)
        EXPECT_TRUE(isRed(long_.pixelColor(canvas.at(lon, 55.755)))) << lon;
}

TEST(Render, CurScaleIsTheGroundScaleAtTheCentre) {
    Canvas canvas;
    canvas.control.SetCurScale(10000);
    Viewport view = canvas.control.viewport();
    // 96 pixels are an inch on the screen: 254 m on the ground at 1:10000.
    const QPointF a = mercator::unproject(view.toMercator(QPointF(0, 150)));
    const QPointF b = mercator::unproject(view.toMercator(QPointF(96, 150)));
    const double metres = (b.x() - a.x()) * M_PI / 180 * 6378137 * std::cos(kLat * M_PI / 180);
    EXPECT_NEAR(metres, 254, 1);
    EXPECT_DOUBLE_EQ(canvas.control.CurScale(), 10000);
    canvas.control.SetCurScale(std::nan(""));
    EXPECT_DOUBLE_EQ(canvas.control.CurScale(), 10000);
}

namespace {
// Frames ask for the image until it is there.
// Waits by the clock: processEvents returns at once when nothing is pending, so counting its
// turns gives a busy machine's workers too little time.
bool paintedUpToDate(TMapvexControl& control) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!control.upToDate() && elapsed.elapsed() < 10000) {
        control.grab();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return control.upToDate();
}
} // namespace

TEST(Render, AMissIsDrawnInTheBackgroundWhileTheOldImageStandsInMovedToTheNewView) {
    Canvas canvas;
    TMapvexControl& control = canvas.control;
    control.show();
    control.AddLayer("name=nametab2;metrics=[metr]", "l rgb(255,0,0) 4", canvas.geometryTable("L E 37.60 55.75,37.64 55.75"));
    const auto ready = [&] { return paintedUpToDate(control); };
    ASSERT_TRUE(ready());
    QImage image = control.grab().toImage();
    EXPECT_TRUE(isRed(image.pixelColor(150, 150)));

    control.CenterOn(kLat - 0.001, kLon); // the ground moves up, at a new scale: nothing cached fits
    control.SetCurScale(10000);
    Viewport moved = control.viewport();
    moved.size = QSize(300, 300);
    const int lineRow = qRound(moved.toScreen(mercator::project(kLon, kLat)).y());
    ASSERT_LT(lineRow, 140);
    image = control.grab().toImage();
    EXPECT_TRUE(control.rendering());
    EXPECT_TRUE(isRed(image.pixelColor(150, lineRow))) << "the stand-in shows the old image where its ground now lies";
    EXPECT_FALSE(isRed(image.pixelColor(150, 150)));
    ASSERT_TRUE(ready());
    image = control.grab().toImage();
    EXPECT_TRUE(isRed(image.pixelColor(150, lineRow)));
}

TEST(View, AMovingSymbolIsKeptInViewUnlessTheUserJustMovedTheMap) {
    TMapvexControl control;
    control.resize(300, 300);
    control.SetCurScale(20000);
    control.CenterOn(kLat, kLon);
    IMapTable* marker = control.CreateTable();
    for (const char* field : {"XCOORD", "YCOORD", "style"})
        marker->AddField("TEXT", field, field);
    marker->AddRecord();
    const auto publish = [&](double lon) {
        marker->SetValue(QString::number(lon, 'g', 15), 0);
        marker->SetValue(QString::number(kLat, 'g', 15), 1);
        marker->SetValue("m '51.otl' 22 rgb(0,0,255) 22 0", 2);
        control.AddLayer("name=cartab3;coords=[YCOORD],[XCOORD];style=[style]", "", marker);
        Viewport view = control.viewport();
        view.size = QSize(300, 300);
        return view.toScreen(mercator::project(lon, kLat));
    };
    EXPECT_NEAR(publish(kLon + 0.002).x(), 173.7, 1); // inside the middle: the view stays
    EXPECT_NEAR(publish(kLon + 0.02).x(), 150, 0.5);      // outside: centred again
    // A checkpoint label is no vehicle: publishing one far away moves nothing.
    marker->SetValue("t 'Пост' 'Arial 204' 8 rgb(0,0,0)", 2);
    marker->SetValue(QString::number(kLon + 0.2, 'g', 15), 0);
    control.AddLayer("name=centersKT;coords=[YCOORD],[XCOORD];style=[style]", "", marker);
    EXPECT_NEAR(mercator::unproject(control.viewport().centre).x(), kLon + 0.02, 1e-9);
    // After the user moves the map, the symbol may leave the view.
    QWheelEvent wheel(QPointF(150, 150), QPointF(150, 150), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&control, &wheel);
    EXPECT_GT(std::abs(publish(kLon + 0.06).x() - 150), 100);
}

TEST(Render, TheTiledImageMatchesAWholeRenderAndAPanReusesItsTiles) {
    Canvas canvas;
    TMapvexControl& control = canvas.control;
    control.show();
    control.AddLayer("name=nametab2;metrics=[metr]", "l rgb(255,0,0) 3",
                     canvas.geometryTable("L E 37.60 55.74,37.64 55.76,37.61 55.76,37.63 55.745"));
    const auto tiled = [&] {
        EXPECT_TRUE(paintedUpToDate(control));
        return control.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    };
    // Red pixels of one image with no red pixel beside them in the other: tiles are placed on
    // whole pixels, so a line may lie half a pixel from where a whole render puts it.
    const auto misplaced = [](const QImage& a, const QImage& b) {
        int count = 0;
        for (int y = 1; y < 250; ++y)
            for (int x = 1; x + 1 < a.width(); ++x) {
                bool near = false;
                for (int d = 0; d < 9; ++d)
                    near = near || isRed(b.pixelColor(x + d % 3 - 1, y + d / 3 - 1));
                count += isRed(a.pixelColor(x, y)) && !near;
            }
        return count;
    };
    const auto whole = [&] { return control.renderImage(QSize(300, 300)).convertToFormat(QImage::Format_ARGB32); };
    const QImage first = tiled();
    EXPECT_EQ(misplaced(first, whole()), 0);
    EXPECT_EQ(misplaced(whole(), first), 0);

    control.CenterOn(kLat + 0.003, kLon + 0.004);
    EXPECT_EQ(misplaced(tiled(), whole()), 0);
    control.CenterOn(kLat, kLon); // back: every tile it needs is kept
    control.grab();
    EXPECT_TRUE(control.upToDate());
    EXPECT_FALSE(control.rendering());

    // The line moved: drawn over the kept base-map pieces, with nothing left of where it was.
    control.AddLayer("name=nametab2;metrics=[metr]", "l rgb(255,0,0) 3",
                     canvas.geometryTable("L E 37.60 55.75,37.64 55.752"));
    const QImage moved = tiled();
    EXPECT_EQ(misplaced(moved, whole()), 0);
    EXPECT_EQ(misplaced(whole(), moved), 0);
}

TEST(Render, PicturesDrawByNameWithAStandInAndAClickNamesTheirRecord) {
    Canvas canvas;
    QImage red(24, 24, QImage::Format_ARGB32_Premultiplied);
    red.fill(Qt::red);
    canvas.control.SetSymbolImage("IcP", red);
    IMapTable* table = canvas.pointTable(kLon, kLat, "p 'IcP' 24");
    table->AddField("TEXT", "hint", "hint");
    table->SetValue("Остановка", 3);
    table->AddRecord();
    table->SetValue(QString::number(kLon + 0.005, 'g', 15), 0);
    table->SetValue("p 'IcUnknown' 24", 2);
    table->AddRecord();
    canvas.control.AddLayer("name=ipIcons;coords=[YCOORD],[XCOORD];style=[style];hint=[hint]", "", table);
    const QImage image = canvas.image();
    EXPECT_TRUE(isRed(image.pixelColor(canvas.at(kLon, kLat))));
    const QColor standIn = image.pixelColor(canvas.at(kLon + 0.005, kLat) + QPoint(0, 8));
    EXPECT_FALSE(isRed(standIn));
    EXPECT_LT(standIn.lightness(), 245); // something is drawn for the unknown name

    QString clicked;
    int record = -1;
    canvas.control.SetPictureClickHandler([&](const QString& layer, int r) { clicked = layer, record = r; });
    const QPointF at = canvas.at(kLon + 0.005, kLat);
    QMouseEvent press(QEvent::MouseButtonPress, at, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, at, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&canvas.control, &press);
    QCoreApplication::sendEvent(&canvas.control, &release);
    EXPECT_EQ(clicked, "ipIcons");
    EXPECT_EQ(record, 2); // the table's first record is the empty one it was made with
    Viewport view = canvas.control.viewport();
    view.size = QSize(300, 300);
    const MapScene::Hit hit = canvas.control.scene().pictureAt(view, canvas.at(kLon, kLat));
    ASSERT_NE(hit.feature, nullptr);
    EXPECT_EQ(hit.feature->hint, "Остановка");
}
