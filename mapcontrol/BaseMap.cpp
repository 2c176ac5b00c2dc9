#include "BaseMap.h"

#include "IMapvexControl.h"

#include "MapScene.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

namespace {

QRectF boundsOf(const std::vector<QPointF>& points) {
    double x0 = points.front().x(), x1 = x0, y0 = points.front().y(), y1 = y0;
    for (const QPointF& p : points) {
        x0 = std::min(x0, p.x());
        x1 = std::max(x1, p.x());
        y0 = std::min(y0, p.y());
        y1 = std::max(y1, p.y());
    }
    return QRectF(QPointF(x0, y0), QPointF(x1, y1));
}

QString field(OGRFeature& feature, const char* name) {
    const int index = feature.GetFieldIndex(name);
    if (index < 0 || !feature.IsFieldSetAndNotNull(index))
        return QString();
    return QString::fromUtf8(feature.GetFieldAsString(index));
}

std::vector<QPointF> projected(const OGRSimpleCurve& curve) {
    std::vector<QPointF> points;
    points.reserve(size_t(curve.getNumPoints()));
    for (int i = 0; i < curve.getNumPoints(); ++i)
        points.push_back(mercator::project(curve.getX(i), curve.getY(i)));
    return points;
}

struct Classified {
    bool isLine = false;
    int kind = -1;
};

Classified classify(OGRFeature& feature, bool polygon) {
    const QString highway = field(feature, "highway");
    const QString railway = field(feature, "railway");
    const QString waterway = field(feature, "waterway");
    const QString natural = field(feature, "natural");
    const QString landuse = field(feature, "landuse");
    const QString leisure = field(feature, "leisure");
    const QString building = field(feature, "building");
    if (polygon) {
        if (natural == QLatin1String("water") || !waterway.isEmpty() ||
            landuse == QLatin1String("reservoir") || landuse == QLatin1String("basin"))
            return {false, BaseMap::Water};
        if (!building.isEmpty())
            return {false, BaseMap::Building};
        if (landuse == QLatin1String("grass") || landuse == QLatin1String("forest") ||
            leisure == QLatin1String("park") || natural == QLatin1String("wood") ||
            landuse == QLatin1String("meadow") || leisure == QLatin1String("garden"))
            return {false, BaseMap::Green};
        return {false, BaseMap::OtherArea};
    }
    if (!highway.isEmpty()) {
        if (highway.startsWith(QLatin1String("motorway")) || highway.startsWith(QLatin1String("trunk")))
            return {true, BaseMap::Motorway};
        if (highway.startsWith(QLatin1String("primary")))
            return {true, BaseMap::Primary};
        if (highway.startsWith(QLatin1String("secondary")) || highway.startsWith(QLatin1String("tertiary")))
            return {true, BaseMap::Secondary};
        if (highway == QLatin1String("footway") || highway == QLatin1String("path") ||
            highway == QLatin1String("steps") || highway == QLatin1String("cycleway") ||
            highway == QLatin1String("pedestrian") || highway == QLatin1String("track"))
            return {true, BaseMap::Path};
        return {true, BaseMap::Minor};
    }
    if (!railway.isEmpty())
        return {true, BaseMap::Rail};
    if (!waterway.isEmpty())
        return {true, BaseMap::Waterway};
    return {true, BaseMap::OtherLine};
}

int placeRank(const QString& place) {
    if (place == QLatin1String("city"))
        return 0;
    if (place == QLatin1String("town") || place == QLatin1String("suburb"))
        return 1;
    if (place == QLatin1String("village") || place == QLatin1String("quarter") ||
        place == QLatin1String("neighbourhood"))
        return 2;
    return 3;
}

} // namespace

QString BaseMap::resolve(const QString& path, const QStringList& mapsFolders) {
    if (QFileInfo::exists(path))
        return path;
    const QString fileName = path.section(QLatin1Char('\\'), -1).section(QLatin1Char('/'), -1);
    if (fileName.isEmpty())
        return QString();
    for (const QString& folder : mapsFolders) {
        const QString inMaps = QDir(folder).filePath(fileName);
        if (QFileInfo::exists(inMaps))
            return inMaps;
    }
    return QString();
}

int BaseMap::load(const QString& path, const QStringList& mapsFolders) {
    const QString found = resolve(path, mapsFolders);
    if (found.isEmpty())
        return IMapvexControl::kMapNotFound;
    if (!QFileInfo(found).isFile())
        return IMapvexControl::kMapNotAFile; // a folder, a pipe or a device could block or read forever
    Contents contents;
    const bool ok = found.endsWith(QLatin1String(".chart"), Qt::CaseInsensitive)
                        ? readChart(found, contents)
                        : readDataSet(found, contents);
    if (!ok)
        return IMapvexControl::kMapUnreadable;
    // Wide roads last, so they draw over minor ones; land use under water under buildings.
    std::stable_sort(contents.lines.begin(), contents.lines.end(),
                     [](const Line& a, const Line& b) { return a.kind > b.kind; });
    std::stable_sort(contents.areas.begin(), contents.areas.end(),
                     [](const Area& a, const Area& b) { return a.kind < b.kind; });
    contents_ = std::make_shared<const Contents>(std::move(contents));
    return 0;
}

bool BaseMap::readChart(const QString& path, Contents& into) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream in(&file);
    const QDir folder = QFileInfo(path).absoluteDir();
    bool any = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QString key = line.section(QLatin1Char(' '), 0, 0);
        const QString value = line.section(QLatin1Char(' '), 1).trimmed();
        if (key != QLatin1String("dataset") || value.isEmpty())
            return false;
        const QString dataSet = folder.filePath(value);
        if (!QFileInfo(dataSet).isFile() || !readDataSet(dataSet, into))
            return false;
        any = true;
    }
    return any;
}

bool BaseMap::readDataSet(const QString& path, Contents& into) {
    GDALAllRegister();
    CPLSetConfigOption("OGR_INTERLEAVED_READING", "YES");
    // Damaged features are skipped; GDAL's running commentary about them is not for the user.
    CPLPushErrorHandler(CPLQuietErrorHandler);
    struct PopHandler {
        ~PopHandler() { CPLPopErrorHandler(); }
    } popHandler;
    GDALDatasetUniquePtr dataset(
        GDALDataset::Open(path.toUtf8().constData(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    if (!dataset)
        return false;
    for (auto&& [feature, layer] : dataset->GetFeatures()) {
        OGRGeometry* geometry = feature->GetGeometryRef();
        if (!geometry || geometry->IsEmpty())
            continue;
        if (OGRSpatialReference* srs = const_cast<OGRSpatialReference*>(geometry->getSpatialReference());
            srs && !srs->IsGeographic())
            continue; // only longitude/latitude data sets are drawn
        const OGRwkbGeometryType type = wkbFlatten(geometry->getGeometryType());
        const QString name = field(*feature, "name");
        if (type == wkbPoint) {
            const QString place = field(*feature, "place");
            if (place.isEmpty() || name.isEmpty())
                continue;
            const auto* point = geometry->toPoint();
            into.places.push_back({mercator::project(point->getX(), point->getY()), name,
                                   placeRank(place)});
            continue;
        }
        const auto addLine = [&](const OGRSimpleCurve& curve) {
            if (curve.getNumPoints() < 2)
                return;
            const Classified c = classify(*feature, false);
            Line line{projected(curve), {}, LineClass(c.kind), name};
            line.bounds = boundsOf(line.points);
            into.bounds = into.bounds.isNull() ? line.bounds : into.bounds.united(line.bounds);
            into.lines.push_back(std::move(line));
        };
        const auto addArea = [&](const OGRPolygon& polygon) {
            const OGRLinearRing* ring = polygon.getExteriorRing();
            if (!ring || ring->getNumPoints() < 3)
                return;
            const Classified c = classify(*feature, true);
            Area area{projected(*ring), {}, AreaClass(c.kind)};
            area.bounds = boundsOf(area.points);
            into.areas.push_back(std::move(area));
        };
        switch (type) {
        case wkbLineString:
            addLine(*geometry->toLineString());
            break;
        case wkbMultiLineString:
            for (const OGRLineString* part : *geometry->toMultiLineString())
                addLine(*part);
            break;
        case wkbPolygon:
            addArea(*geometry->toPolygon());
            break;
        case wkbMultiPolygon:
            for (const OGRPolygon* part : *geometry->toMultiPolygon())
                addArea(*part);
            break;
        default:
            break;
        }
    }
    return true;
}

void BaseMap::render(QPainter& painter, const Viewport& view) const {
    const Contents& contents = *contents_;
    painter.fillRect(QRectF(QPointF(0, 0), QSizeF(view.size)), QColor(242, 239, 233));
    if (isEmpty())
        return;
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QRectF visible = view.visibleMercator();
    const double mpp = view.metresPerPixel();
    const auto seen = [&](const QRectF& bounds) {
        return overlaps(visible, bounds.adjusted(-mpp, -mpp, mpp, mpp));
    };
    const auto tooSmall = [&](const QRectF& bounds) {
        return bounds.width() < 2 * mpp && bounds.height() < 2 * mpp;
    };

    static const QColor areaColours[] = {QColor(235, 231, 222), QColor(200, 225, 180),
                                         QColor(170, 211, 223), QColor(217, 208, 201)};
    for (const Area& area : contents.areas) {
        if (!seen(area.bounds) || tooSmall(area.bounds))
            continue;
        if (area.kind == Building && mpp > 4)
            continue;
        // A cosmetic (one-pixel) outline costs far less to draw than a thin scaled one.
        draw::polygon(painter, view, area.points, areaColours[area.kind],
                      area.kind == Building ? QPen(QColor(196, 182, 171), 0) : QPen(Qt::NoPen));
    }

    struct LineLook {
        QColor casing, fill;
        double width;
        Qt::PenStyle style;
    };
    static const LineLook looks[] = {
        {QColor(180, 100, 40), QColor(240, 160, 90), 6, Qt::SolidLine},  // motorway
        {QColor(170, 140, 60), QColor(252, 214, 164), 5, Qt::SolidLine}, // primary
        {QColor(160, 160, 120), QColor(247, 250, 191), 4, Qt::SolidLine}, // secondary
        {QColor(190, 190, 190), QColor(255, 255, 255), 3, Qt::SolidLine}, // minor
        {QColor(0, 0, 0, 0), QColor(150, 130, 120), 1, Qt::DashLine},   // path
        {QColor(0, 0, 0, 0), QColor(130, 130, 130), 1.5, Qt::DashDotLine}, // rail
        {QColor(0, 0, 0, 0), QColor(120, 170, 210), 2, Qt::SolidLine},  // waterway
        {QColor(0, 0, 0, 0), QColor(200, 200, 200), 1, Qt::SolidLine},  // other
    };
    const double zoomWidth = std::clamp(4.0 / mpp, 0.5, 1.6);
    for (int pass = 0; pass < 2; ++pass) {
        for (const Line& line : contents.lines) {
            const LineLook& look = looks[line.kind];
            if (!seen(line.bounds) || (tooSmall(line.bounds) && line.kind >= Minor))
                continue;
            if (line.kind >= Path && mpp > 6)
                continue;
            const double width = look.width * zoomWidth;
            if (width < 2 && look.casing.alpha() > 0) {
                // Too thin for a casing: one line in a tone between casing and fill.
                if (pass == 1) {
                    const QColor tone = QColor::fromRgbF((look.casing.redF() + look.fill.redF()) / 2,
                                                         (look.casing.greenF() + look.fill.greenF()) / 2,
                                                         (look.casing.blueF() + look.fill.blueF()) / 2);
                    draw::polyline(painter, view, line.points,
                                   QPen(tone, width + 0.5, Qt::SolidLine, Qt::RoundCap, Qt::BevelJoin));
                }
                continue;
            }
            // Bevel joins: at road widths they look round enough and cost a fraction to draw.
            if (pass == 0 && look.casing.alpha() > 0)
                draw::polyline(painter, view, line.points,
                               QPen(look.casing, width + 1.5, Qt::SolidLine, Qt::RoundCap, Qt::BevelJoin));
            if (pass == 1)
                draw::polyline(painter, view, line.points,
                               QPen(look.fill, width, look.style, Qt::RoundCap, Qt::BevelJoin));
        }
    }
    // Labels a little outside still show their part inside: a tile's neighbour draws the rest.
    const double labelReach = 150 * mpp;
    const QRectF labelArea = visible.adjusted(-labelReach, -labelReach, labelReach, labelReach);
    for (const Place& place : contents.places) {
        if (!labelArea.contains(place.point) || (place.rank >= 3 && mpp > 5) || (place.rank >= 2 && mpp > 20))
            continue;
        draw::label(painter, view.toScreen(place.point), place.name, 11 - 1.5 * place.rank,
                    QColor(60, 60, 60));
    }
}
