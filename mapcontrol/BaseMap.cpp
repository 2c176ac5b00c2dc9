#include "BaseMap.h"

#include "IMapvexControl.h"

#include "MapScene.h"
#include "TileFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

namespace {

constexpr int kLongestName = 120; // characters; longer names are cut, not drawn across the map

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

// A tag of an OpenStreetMap feature: its own field where the reader made one, otherwise from
// the rest of its tags ("key"=>"value",…); empty when absent.
QString tag(OGRFeature& feature, const char* key) {
    const int index = feature.GetFieldIndex(key);
    if (index >= 0)
        return feature.IsFieldSetAndNotNull(index) ? QString::fromUtf8(feature.GetFieldAsString(index)) : QString();
    const int others = feature.GetFieldIndex("other_tags");
    if (others < 0 || !feature.IsFieldSetAndNotNull(others))
        return QString();
    const std::string_view all = feature.GetFieldAsString(others);
    const std::string needle = std::string("\"") + key + "\"=>\"";
    const size_t at = all.find(needle);
    if (at == std::string_view::npos)
        return QString();
    const size_t from = at + needle.size(), to = all.find('"', from);
    return QString::fromUtf8(all.substr(from, to == std::string_view::npos ? std::string_view::npos : to - from));
}

// Projected to Web Mercator; empty when a coordinate is not a number or not on the globe.
std::vector<QPointF> projected(const OGRSimpleCurve& curve) {
    std::vector<QPointF> points;
    points.reserve(size_t(curve.getNumPoints()));
    for (int i = 0; i < curve.getNumPoints(); ++i) {
        const double lon = curve.getX(i), lat = curve.getY(i);
        if (!std::isfinite(lon) || !std::isfinite(lat) || std::abs(lon) > 180 || std::abs(lat) > 90)
            return {};
        points.push_back(mercator::project(lon, lat));
    }
    return points;
}

bool startsWithAny(const QString& value, std::initializer_list<const char*> prefixes) {
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [&](const char* p) { return value.startsWith(QLatin1String(p)); });
}

std::optional<BaseMap::LineClass> lineClass(OGRFeature& feature) {
    const QString highway = tag(feature, "highway");
    if (!highway.isEmpty()) {
        if (highway.startsWith(QLatin1String("motorway")))
            return BaseMap::Motorway;
        if (highway.startsWith(QLatin1String("trunk")))
            return BaseMap::Trunk;
        if (highway.startsWith(QLatin1String("primary")))
            return BaseMap::Primary;
        if (highway.startsWith(QLatin1String("secondary")))
            return BaseMap::Secondary;
        if (highway.startsWith(QLatin1String("tertiary")))
            return BaseMap::Tertiary;
        if (highway == QLatin1String("service"))
            return BaseMap::Service;
        if (startsWithAny(highway, {"footway", "path", "steps", "cycleway", "pedestrian", "track", "bridleway"}))
            return BaseMap::Path;
        return BaseMap::Minor;
    }
    if (!tag(feature, "railway").isEmpty())
        return BaseMap::Rail;
    const QString waterway = tag(feature, "waterway");
    if (waterway == QLatin1String("river") || waterway == QLatin1String("canal"))
        return BaseMap::River;
    if (!waterway.isEmpty())
        return BaseMap::Stream;
    return std::nullopt; // barriers, power lines, boundaries: not drawn
}

std::optional<BaseMap::AreaClass> areaClass(OGRFeature& feature) {
    const QString natural = tag(feature, "natural"), landuse = tag(feature, "landuse"),
                  leisure = tag(feature, "leisure"), waterway = tag(feature, "waterway");
    if (natural == QLatin1String("water") || natural == QLatin1String("bay") || !waterway.isEmpty() ||
        landuse == QLatin1String("reservoir") || landuse == QLatin1String("basin") ||
        leisure == QLatin1String("swimming_pool") || !tag(feature, "water").isEmpty())
        return BaseMap::Water;
    if (!tag(feature, "building").isEmpty())
        return BaseMap::Building;
    if (landuse == QLatin1String("forest") || natural == QLatin1String("wood") || natural == QLatin1String("scrub"))
        return BaseMap::Wood;
    if (leisure == QLatin1String("park") || leisure == QLatin1String("garden") || leisure == QLatin1String("pitch") ||
        leisure == QLatin1String("golf_course") || natural == QLatin1String("grassland") ||
        startsWithAny(landuse, {"grass", "meadow", "recreation_ground", "village_green", "cemetery"}))
        return BaseMap::Green;
    if (!landuse.isEmpty())
        return BaseMap::OtherArea;
    return std::nullopt; // administrative boundaries and the like: not filled
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

// What a layer's coordinates need to become longitude and latitude.
struct LayerReading {
    std::unique_ptr<OGRCoordinateTransformation> toLonLat; // none: already longitude/latitude
    bool unusable = false;                                  // a system GDAL cannot convert from
};

LayerReading readingFor(OGRLayer& layer) {
    LayerReading reading;
    const OGRSpatialReference* source = layer.GetSpatialRef();
    if (!source)
        return reading; // taken as longitude/latitude; points off the globe are skipped
    OGRSpatialReference lonLat;
    lonLat.SetWellKnownGeogCS("WGS84");
    lonLat.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    OGRSpatialReference from(*source);
    from.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    if (from.IsSame(&lonLat))
        return reading;
    reading.toLonLat.reset(OGRCreateCoordinateTransformation(&from, &lonLat));
    reading.unusable = !reading.toLonLat;
    return reading;
}

bool fromOpenStreetMap(GDALDataset& dataset) {
    if (QLatin1String(dataset.GetDriverName()) == QLatin1String("OSM"))
        return true;
    for (OGRLayer* layer : dataset.GetLayers())
        if (layer->GetLayerDefn()->GetFieldIndex("osm_id") >= 0)
            return true;
    if (char** metadata = dataset.GetMetadata())
        for (; *metadata; ++metadata)
            if (QString::fromUtf8(*metadata).contains(QLatin1String("OpenStreetMap"), Qt::CaseInsensitive))
                return true;
    return false;
}

} // namespace

const QString BaseMap::kOpenStreetMapCredit = QStringLiteral("© участники OpenStreetMap");

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

int BaseMap::load(const QString& path, const QStringList& mapsFolders, const Options& options) {
    const QString found = resolve(path, mapsFolders);
    if (found.isEmpty()) {
        failure_ = QStringLiteral("%1: файл не найден").arg(path);
        return IMapvexControl::kMapNotFound;
    }
    // A pipe or a device could block or read forever; of folders, only one of tiles is a map.
    if (!QFileInfo(found).isFile() && !(QFileInfo(found).isDir() && TileFolder::inspect(found))) {
        failure_ = QStringLiteral("%1: это не файл карты и не папка тайлов").arg(found);
        return IMapvexControl::kMapNotAFile;
    }
    const QFileInfo file(found);
    const bool chart = found.endsWith(QLatin1String(".chart"), Qt::CaseInsensitive);
    const bool cached = !chart && file.isFile() && !options.cacheFolder.isEmpty();
    Contents contents;
    if (cached && readCache(options.cacheFolder, file, contents)) {
        failure_.clear();
        contents_ = std::make_shared<const Contents>(std::move(contents));
        return 0;
    }
    const bool ok = chart ? readChart(found, contents, options.cancelled)
                          : readDataSet(found, contents, options.cancelled);
    if (!ok) {
        failure_ = contents.failure.isEmpty() ? QStringLiteral("%1: не читается как карта").arg(found) : contents.failure;
        return IMapvexControl::kMapUnreadable;
    }
    failure_.clear();
    const QRectF extent = contents.extent.isNull() ? contents.bounds : contents.extent;
    contents.sea = coastline::build(contents.coast, extent);
    if (contents.sea.unjoined > 0)
        contents.warnings << QStringLiteral("%1: береговая линия не замкнута (%2 участков), море может быть показано неточно")
                                 .arg(QFileInfo(found).fileName())
                                 .arg(contents.sea.unjoined);
    contents.coast.clear();
    for (const auto& raster : contents.rasters)
        contents.bounds = contents.bounds.isNull() ? raster->bounds() : contents.bounds.united(raster->bounds());
    // Wide roads last, so they draw over minor ones; land use under water under buildings.
    std::stable_sort(contents.lines.begin(), contents.lines.end(),
                     [](const Line& a, const Line& b) { return a.kind > b.kind; });
    std::stable_sort(contents.areas.begin(), contents.areas.end(),
                     [](const Area& a, const Area& b) { return a.kind < b.kind; });
    if (cached && contents.rasters.empty())
        writeCache(options.cacheFolder, file, contents);
    contents_ = std::make_shared<const Contents>(std::move(contents));
    return 0;
}

bool BaseMap::readChart(const QString& path, Contents& into, const std::atomic_bool* cancelled) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream in(&file);
    const QDir folder = QFileInfo(path).absoluteDir();
    bool any = false;
    QString attribution; // a chart may credit its data itself
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QString key = line.section(QLatin1Char(' '), 0, 0);
        const QString value = line.section(QLatin1Char(' '), 1).trimmed();
        if (key == QLatin1String("attribution") && !value.isEmpty()) {
            attribution = value.left(kLongestName * 2);
            continue;
        }
        if (key != QLatin1String("dataset") || value.isEmpty())
            return false;
        const QString dataSet = folder.filePath(value);
        if (!QFileInfo(dataSet).isFile() && !QFileInfo(dataSet).isDir()) {
            into.failure = QStringLiteral("%1: набор данных «%2» не найден или это не файл").arg(path, value);
            return false;
        }
        if (!readDataSet(dataSet, into, cancelled))
            return false;
        any = true;
    }
    if (!attribution.isEmpty())
        into.attribution = attribution;
    return any;
}

std::optional<bool> BaseMap::readRaster(const QString& path, Contents& into) {
    const QString name = QFileInfo(path).fileName();
    QString error;
    std::shared_ptr<RasterMap> raster;
    if (QFileInfo(path).isDir()) {
        const auto tiles = TileFolder::inspect(path);
        if (!tiles) {
            into.failure = QStringLiteral("%1: в папке нет тайлов z/x/y").arg(path);
            return false;
        }
        raster = RasterMap::open(tiles->gdalDescription(), name, error);
        if (raster) {
            raster->setBounds(tiles->bounds);
            raster->setAttribution(tiles->attribution);
        }
    } else {
        raster = RasterMap::open(path, name, error);
    }
    if (!raster && error.isEmpty())
        return std::nullopt;
    if (!raster) {
        into.failure = error;
        return false;
    }
    if (!raster->attribution().isEmpty() && !into.attribution.contains(raster->attribution()))
        into.attribution += (into.attribution.isEmpty() ? QString() : QStringLiteral("; ")) + raster->attribution();
    into.warnings << raster->warnings();
    into.rasters.push_back(std::move(raster));
    return true;
}

bool BaseMap::readDataSet(const QString& path, Contents& into, const std::atomic_bool* cancelled) {
    // A GeoPackage may hold tiles and features: both are read.
    const auto raster = readRaster(path, into);
    if (raster == false)
        return false;
    GDALAllRegister();
    CPLSetConfigOption("OGR_INTERLEAVED_READING", "YES");
    // Damaged features are skipped; GDAL's running commentary about them is not for the user.
    CPLPushErrorHandler(CPLQuietErrorHandler);
    struct PopHandler {
        ~PopHandler() { CPLPopErrorHandler(); }
    } popHandler;
    GDALDatasetUniquePtr dataset(
        GDALDataset::Open(path.toUtf8().constData(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    if (!dataset && raster)
        return true;
    if (!dataset) {
        const QString reason = QString::fromUtf8(CPLGetLastErrorMsg()).left(200);
        into.failure = QStringLiteral("%1: не читается как карта%2")
                           .arg(path, reason.isEmpty() ? QString() : QStringLiteral(" (GDAL: %1)").arg(reason));
        return false;
    }
    if (fromOpenStreetMap(*dataset) && !into.attribution.contains(kOpenStreetMapCredit))
        into.attribution += (into.attribution.isEmpty() ? QString() : QStringLiteral("; ")) + kOpenStreetMapCredit;
    std::map<OGRLayer*, LayerReading> readings;
    QStringList unusableLayers;
    int broken = 0;
    for (auto&& [feature, layer] : dataset->GetFeatures()) {
        if (cancelled && cancelled->load(std::memory_order_relaxed)) {
            into.failure = QStringLiteral("%1: чтение прервано").arg(path);
            return false;
        }
        auto reading = readings.find(layer);
        if (reading == readings.end()) {
            reading = readings.emplace(layer, readingFor(*layer)).first;
            if (reading->second.unusable)
                unusableLayers << QString::fromUtf8(layer->GetName());
            else if (OGREnvelope e; layer->GetExtent(&e, FALSE) == OGRERR_NONE && !reading->second.toLonLat &&
                                    std::abs(e.MinX) <= 180 && std::abs(e.MaxX) <= 180 && std::abs(e.MinY) <= 90 &&
                                    std::abs(e.MaxY) <= 90) {
                const QRectF extent(mercator::project(e.MinX, e.MinY), mercator::project(e.MaxX, e.MaxY));
                into.extent = into.extent.isNull() ? extent.normalized() : into.extent.united(extent.normalized());
            }
        }
        if (reading->second.unusable)
            continue;
        OGRGeometry* geometry = feature->GetGeometryRef();
        if (!geometry || geometry->IsEmpty())
            continue;
        if (reading->second.toLonLat && geometry->transform(reading->second.toLonLat.get()) != OGRERR_NONE) {
            ++broken;
            continue;
        }
        if (OGR_GT_IsNonLinear(geometry->getGeometryType())) {
            OGRGeometry* linear = geometry->getLinearGeometry();
            feature->SetGeometryDirectly(linear);
            geometry = feature->GetGeometryRef();
            if (!geometry)
                continue;
        }
        const OGRwkbGeometryType type = wkbFlatten(geometry->getGeometryType());
        const QString name = tag(*feature, "name").left(kLongestName);
        if (type == wkbPoint) {
            const QString place = tag(*feature, "place");
            if (place.isEmpty() || name.isEmpty())
                continue;
            const auto* point = geometry->toPoint();
            if (!std::isfinite(point->getX()) || !std::isfinite(point->getY()) || std::abs(point->getY()) > 90) {
                ++broken;
                continue;
            }
            const QString population = tag(*feature, "population");
            into.places.push_back({mercator::project(point->getX(), point->getY()), name, placeRank(place),
                                   population.left(population.indexOf(QRegularExpression(QStringLiteral("[^0-9]"))))
                                       .left(15)
                                       .toLongLong()});
            continue;
        }
        const bool coast = tag(*feature, "natural") == QLatin1String("coastline");
        const auto lineKind = coast ? std::nullopt : lineClass(*feature);
        const auto addLine = [&](const OGRSimpleCurve& curve) {
            if (curve.getNumPoints() < 2 || (!coast && !lineKind))
                return;
            std::vector<QPointF> points = projected(curve);
            if (points.empty()) {
                ++broken;
                return;
            }
            const QRectF bounds = boundsOf(points);
            into.bounds = into.bounds.isNull() ? bounds : into.bounds.united(bounds);
            if (coast)
                into.coast.push_back(std::move(points));
            else
                into.lines.push_back({std::move(points), bounds, *lineKind, name});
        };
        const auto areaKind = areaClass(*feature);
        const auto addArea = [&](const OGRPolygon& polygon) {
            const OGRLinearRing* ring = polygon.getExteriorRing();
            if (!ring || ring->getNumPoints() < 3 || !areaKind)
                return;
            std::vector<QPointF> points = projected(*ring);
            if (points.empty()) {
                ++broken;
                return;
            }
            const QRectF bounds = boundsOf(points);
            into.areas.push_back({std::move(points), bounds, *areaKind});
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
    QStringList skipped;
    if (broken > 0)
        skipped << QStringLiteral("объектов с повреждённой геометрией: %1").arg(broken);
    if (!unusableLayers.isEmpty())
        skipped << QStringLiteral("слои в неизвестной системе координат: %1").arg(unusableLayers.join(QStringLiteral(", ")));
    if (!skipped.isEmpty())
        into.warnings << QStringLiteral("%1: не показаны %2").arg(QFileInfo(path).fileName(), skipped.join(QStringLiteral("; ")));
    return true;
}
