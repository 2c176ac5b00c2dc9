// Drawing the base map in OpenStreetMap's usual colours (see the style table in the README).
#include "BaseMap.h"

#include "MapScene.h"

#include <QPaintEngine>
#include <QPainterPath>
#include <cmath>

namespace {

const QColor kLand(242, 239, 233);   // #f2efe9
const QColor kWater(170, 211, 223);  // #aad3df
constexpr double kStreetNamesBelow = 3.2; // metres per pixel: about 1:8,000 at mid latitudes

struct LineLook {
    QColor casing, fill;
    double width; // at large scales
    Qt::PenStyle style;
    double hiddenAbove; // metres per pixel beyond which the class is not drawn
};

const LineLook& lookOf(BaseMap::LineClass kind) {
    static const LineLook looks[] = {
        {QColor(220, 42, 103), QColor(232, 146, 162), 8, Qt::SolidLine, 1e9},   // motorway #e892a2
        {QColor(200, 78, 47), QColor(249, 178, 156), 8, Qt::SolidLine, 1e9},    // trunk #f9b29c
        {QColor(160, 107, 0), QColor(252, 214, 164), 7.5, Qt::SolidLine, 1e9},  // primary #fcd6a4
        {QColor(112, 125, 5), QColor(247, 250, 191), 7, Qt::SolidLine, 60},     // secondary #f7fabf
        {QColor(143, 143, 143), QColor(255, 255, 255), 6, Qt::SolidLine, 30},   // tertiary #ffffff
        {QColor(187, 187, 187), QColor(255, 255, 255), 5, Qt::SolidLine, 15},   // residential and minor
        {QColor(187, 187, 187), QColor(255, 255, 255), 3, Qt::SolidLine, 6},    // service
        {QColor(0, 0, 0, 0), QColor(250, 128, 114), 1.2, Qt::DashLine, 6},      // footway and path #fa8072
        {QColor(0, 0, 0, 0), QColor(112, 112, 112), 2, Qt::SolidLine, 60},      // railway #707070
        {QColor(0, 0, 0, 0), kWater, 4, Qt::SolidLine, 60},                     // river
        {QColor(0, 0, 0, 0), kWater, 1.5, Qt::SolidLine, 8},                    // stream
        {QColor(0, 0, 0, 0), QColor(200, 200, 200), 1, Qt::SolidLine, 4},       // other
    };
    return looks[kind];
}

QColor areaColour(BaseMap::AreaClass kind) {
    switch (kind) {
    case BaseMap::Green: return QColor(205, 235, 176);    // #cdebb0
    case BaseMap::Wood: return QColor(173, 209, 158);     // #add19e
    case BaseMap::Water: return kWater;
    case BaseMap::Building: return QColor(217, 208, 201); // #d9d0c9
    case BaseMap::OtherArea: break;
    }
    return QColor(224, 223, 223); // #e0dfdf, residential and other land use
}

} // namespace

std::shared_ptr<const BaseMap::Labels> BaseMap::labels(double mpp) const {
    const Contents& contents = *contents_;
    const double key = std::round(std::log(mpp) * 1e6); // tiles of one scale share their labels
    const QMutexLocker lock(&contents.labels->mutex);
    auto& cache = contents.labels->byPixelSize;
    if (const auto found = cache.find(key); found != cache.end())
        return found->second;
    auto placed = std::make_shared<Labels>();
    LabelGrid grid;
    placed->places = placelabels::place(contents.places, mpp, grid);
    if (mpp < kStreetNamesBelow) {
        std::vector<streetlabels::Road> roads;
        for (const Line& line : contents.lines)
            if (!line.name.isEmpty() && line.kind <= Service)
                roads.push_back({&line.points, &line.name, int(line.kind)});
        placed->streets = streetlabels::place(roads, mpp, grid);
    }
    if (cache.size() >= 6)
        cache.erase(cache.begin());
    cache.emplace(key, placed);
    return placed;
}

void BaseMap::drawNames(QPainter& painter, const Viewport& view) const {
    const double mpp = view.metresPerPixel();
    const auto placed = labels(mpp);
    const QPointF origin(view.centre.x() / mpp - view.size.width() / 2.0, -view.centre.y() / mpp - view.size.height() / 2.0);
    const QRectF visible(origin, QSizeF(view.size));
    // A page (PDF, printer) gets the names as text, glyph by glyph: sharp at any resolution and
    // a fraction of the size of their outlines; the road under them stands for the halo.
    const bool page = painter.paintEngine() && painter.paintEngine()->type() != QPaintEngine::Raster;
    const QFont streetFont = streetlabels::font();
    const QFontMetricsF streetMetrics(streetFont);
    if (page) {
        painter.setFont(streetFont);
        painter.setPen(QColor(51, 51, 51));
    }
    for (const streetlabels::Label& label : placed->streets)
        if (label.bounds.intersects(visible) && page) {
            for (const streetlabels::Glyph& g : label.glyphs) {
                painter.save();
                painter.translate(g.centre - origin);
                painter.rotate(g.angle);
                painter.drawText(QPointF(-g.advance / 2, (streetMetrics.ascent() - streetMetrics.descent()) / 2),
                                 QString(g.character));
                painter.restore();
            }
        } else if (label.bounds.intersects(visible)) {
            const streetlabels::Label::Picture& picture = label.drawn();
            painter.drawImage(QPointF(picture.origin) - origin, picture.image);
        }
    for (const placelabels::Label& label : placed->places)
        if (label.box.intersects(visible))
            draw::label(painter, label.box.center() - origin, label.place->name, label.points, placelabels::kColour);
}

void BaseMap::render(QPainter& painter, const Viewport& view) const {
    const Contents& contents = *contents_;
    painter.fillRect(QRectF(QPointF(0, 0), QSizeF(view.size)), kLand);
    if (isEmpty())
        return;
    for (const auto& raster : contents.rasters)
        raster->render(painter, view);
    const bool overRaster = !contents.rasters.empty(); // its land and water show through
    static const std::vector<coastline::Ring> kNoRings;
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QRectF visible = view.visibleMercator();
    const double mpp = view.metresPerPixel();
    const auto seen = [&](const QRectF& bounds) {
        return overlaps(visible, bounds.adjusted(-mpp, -mpp, mpp, mpp));
    };
    const auto tooSmall = [&](const QRectF& bounds) {
        return bounds.width() < 2 * mpp && bounds.height() < 2 * mpp;
    };

    // Areas meet each other and the roads cover their edges: filled without antialiasing,
    // which costs a fraction.
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (const coastline::Ring& ring : overRaster ? kNoRings : contents.sea.water)
        draw::polygon(painter, view, ring, kWater, Qt::NoPen);
    for (const coastline::Ring& ring : overRaster ? kNoRings : contents.sea.islands)
        draw::polygon(painter, view, ring, kLand, Qt::NoPen);
    for (const Area& area : contents.areas) {
        if (!seen(area.bounds) || tooSmall(area.bounds))
            continue;
        if ((area.kind == Building && mpp > 4) || overRaster)
            continue;
        // A cosmetic (one-pixel) outline costs far less to draw than a thin scaled one.
        draw::polygon(painter, view, area.points, areaColour(area.kind),
                      area.kind == Building ? QPen(QColor(196, 182, 171), 0) : QPen(Qt::NoPen));
    }

    painter.setRenderHint(QPainter::Antialiasing, true);
    const double zoomWidth = std::clamp(3.0 / mpp, 0.35, 1.2);
    for (int pass = 0; pass < 2; ++pass) {
        for (const Line& line : contents.lines) {
            const LineLook& look = lookOf(line.kind);
            if (mpp > look.hiddenAbove || !seen(line.bounds) || (tooSmall(line.bounds) && line.kind >= Minor))
                continue;
            const double width = look.width * zoomWidth;
            if (width < 2.2 && look.casing.alpha() > 0) {
                // Too thin for a casing: one line in a tone between casing and fill.
                if (pass == 1) {
                    // Leaning to the casing: a white street must still stand out from the land.
                    const QColor tone = QColor::fromRgbF((2 * look.casing.redF() + look.fill.redF()) / 3,
                                                         (2 * look.casing.greenF() + look.fill.greenF()) / 3,
                                                         (2 * look.casing.blueF() + look.fill.blueF()) / 3);
                    draw::polyline(painter, view, line.points,
                                   QPen(tone, width + 0.7, Qt::SolidLine, Qt::RoundCap, Qt::BevelJoin));
                }
                continue;
            }
            // Bevel joins: at road widths they look round enough and cost a fraction to draw.
            if (pass == 0 && look.casing.alpha() > 0)
                draw::polyline(painter, view, line.points,
                               QPen(look.casing, width + 1.5, Qt::SolidLine, Qt::RoundCap, Qt::BevelJoin));
            if (pass == 1)
                draw::polyline(painter, view, line.points,
                               QPen(look.fill, look.casing.alpha() > 0 ? width : std::max(look.width * zoomWidth, 1.0),
                                    look.style, Qt::RoundCap, Qt::BevelJoin));
        }
    }
    drawNames(painter, view);
}
