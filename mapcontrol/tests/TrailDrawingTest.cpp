#include "MapScene.h"
#include "TileCache.h"

#include <QPainter>
#include <cmath>
#include <gtest/gtest.h>

namespace {

constexpr double kLon = 7.42, kLat = 43.72;

// A drive that crosses itself, a point every metre or so with a metre of noise.
QString denseDrive() {
    QString text = "L E ";
    unsigned noise = 1;
    for (int i = 0; i < 20000; ++i) {
        noise = noise * 1103515245 + 12345;
        const double jitter = ((noise >> 16) % 1000 / 1000.0 - 0.5) * 1e-5;
        const double t = i / 20000.0 * 2 * M_PI;
        text += QString::number(kLon + 0.006 * std::sin(3 * t) + jitter, 'f', 8) + ' ' +
                QString::number(kLat + 0.004 * std::sin(2 * t) - jitter, 'f', 8) + ',';
    }
    text.chop(1);
    return text;
}

QImage blank(QSize size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    return image;
}

// The view as the window shows it: put together from tiles drawn each in its own view.
QImage tiled(const MapScene& scene, const Viewport& view) {
    QImage image = blank(view.size);
    QPainter painter(&image);
    for (const TileCache::Key& key : TileCache::tilesFor(view, 1, 0)) {
        QImage tile = blank(QSize(TileCache::kTileSize, TileCache::kTileSize));
        QPainter tilePainter(&tile);
        tilePainter.setRenderHint(QPainter::Antialiasing);
        scene.render(tilePainter, TileCache::viewOf(key, view.dpi));
        tilePainter.end();
        painter.drawImage(TileCache::placeIn(view, key).topLeft(), tile);
    }
    return image;
}

// Every point stroked as it is, with the scene's pens, over what an empty scene draws.
QImage pointByPoint(const std::vector<QPointF>& points, const Viewport& view) {
    QImage image = blank(view.size);
    QPainter painter(&image);
    MapScene().render(painter, view);
    painter.setRenderHint(QPainter::Antialiasing);
    QPolygonF screen;
    for (const QPointF& p : points)
        screen.append(view.toScreen(p));
    for (const auto& [colour, width] :
         {std::pair{QColor(0, 0, 0), 4}, std::pair{QColor(255, 0, 0), 2}}) {
        painter.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::BevelJoin));
        painter.drawPolyline(screen);
    }
    return image;
}

// What a pixel shows to the eye: the line's red, the outline's black, or the ground.
enum class Shows { Ground, Line, Outline };
Shows shows(QRgb c) {
    if (qRed(c) > 160 && qGreen(c) < 100 && qBlue(c) < 100)
        return Shows::Line;
    return qGray(c) < 110 ? Shows::Outline : Shows::Ground;
}

// Whether what `image` shows at (x, y) appears in `other` within a pixel of it.
bool shownNearby(const QImage& image, const QImage& other, int x, int y) {
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (other.valid(x + dx, y + dy) &&
                shows(other.pixel(x + dx, y + dy)) == shows(image.pixel(x, y)))
                return true;
    return false;
}

} // namespace

TEST(TrailDrawing, ADenseTrailSimplifiedPerScaleLooksAsEveryPointStroked) {
    MapScene scene;
    MapTable* table = scene.createTable();
    table->AddField("TEXT", "metr", "metr");
    table->AddRecord();
    table->SetValue(denseDrive(), 0);
    ASSERT_EQ(scene.addLayer("name=nametab1;metrics=[metr]", "l rgb(0,0,0) 4", table), 0);
    ASSERT_EQ(scene.addLayer("name=nametab2;metrics=[metr]", "l rgb(255,0,0) 2", table), 0);
    const Geometry& outline = scene.layer("nametab1")->features.at(0).points;
    // The outline and the line share one copy of the points.
    EXPECT_EQ(&outline.points(), &scene.layer("nametab2")->features.at(0).points.points());

    // At each scale, the most points the simplified line may keep: noise of a metre is drawn
    // when it shows, and merged when it lies within a pixel.
    for (const auto [scale, mostKept] :
         {std::pair{2000.0, 12000u}, std::pair{10000.0, 4000u}, std::pair{50000.0, 1000u}}) {
        Viewport view;
        view.size = QSize(500, 400);
        view.centre = mercator::project(kLon, kLat);
        view.scale = scale;
        // Centred on a corner of the tile grid: the tiles lie on whole pixels, as the reference.
        const double side = TileCache::kTileSize * view.metresPerPixel();
        view.centre = QPointF(std::round(view.centre.x() / side) * side,
                              std::round(view.centre.y() / side) * side);
        ASSERT_EQ(view.metresPerPixel() * TileCache::kTileSize, side);
        EXPECT_LT(outline.simplified(view.metresPerPixel())->points.size(), mostKept) << scale;
        const QImage drawn = tiled(scene, view), expected = pointByPoint(outline.points(), view);
        // Pixels where either image shows the trail, and those of them whose colour the other
        // shows nowhere within a pixel: the line lies within half a pixel of every point.
        int trail = 0, different = 0;
        for (int y = 0; y < view.size.height(); ++y)
            for (int x = 0; x < view.size.width(); ++x) {
                if (shows(drawn.pixel(x, y)) == Shows::Ground &&
                    shows(expected.pixel(x, y)) == Shows::Ground)
                    continue;
                ++trail;
                different +=
                    !shownNearby(drawn, expected, x, y) || !shownNearby(expected, drawn, x, y);
            }
        EXPECT_GT(trail, 2000) << scale;
        EXPECT_LT(different, trail / 200) << scale << ": " << different << " of " << trail;
    }
}
