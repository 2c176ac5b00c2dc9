#pragma once

#include "Coastline.h"
#include "PlaceLabels.h"
#include "RasterMap.h"
#include "StreetLabels.h"
#include "Viewport.h"

#include <QMutex>
#include <QPainter>
#include <QString>
#include <QStringList>
#include <atomic>
#include <map>
#include <memory>
#include <vector>

// The map under the player's layers: vector data read with GDAL/OGR (OpenStreetMap, GeoPackage,
// Shapefile, GeoJSON, vector tile packages…, in any coordinate system GDAL knows), drawn in
// OpenStreetMap's usual colours: sea and water, land use, buildings, roads by class, street and
// place names; raster maps read with GDAL (GeoTIFF and other sheets, MBTiles, a folder of XYZ
// tiles); or a ".chart" file naming such data sets. Rasters lie under the vector data, which
// then draws only its lines and names. The contents are immutable and shared: a copy is cheap and
// may be drawn on another thread while a new map loads.
class QFileInfo;

class BaseMap {
public:
    struct Options { // value-initialized by default: no cache, never cancelled
        // Where the contents of vector maps once read are kept, so that a map opened again is
        // not parsed again; empty: nowhere.
        QString cacheFolder;
        // Set from another thread to give up a read that a newer map made useless.
        const std::atomic_bool* cancelled;
    };
    // 0 on success. On failure (a non-zero code) the map drawn before stays.
    // A Windows path that does not exist is looked up by its file name in `mapsFolder`.
    int load(const QString& path, const QStringList& mapsFolders, const Options& options = {});
    // Why the last load failed, in Russian; empty after a success.
    QString failure() const { return failure_; }
    void render(QPainter& painter, const Viewport& view) const;
    bool isEmpty() const { return featureCount() == 0 && contents_->rasters.empty(); }
    QRectF bounds() const { return contents_->bounds; }
    size_t featureCount() const {
        return contents_->lines.size() + contents_->areas.size() + contents_->places.size();
    }
    // The credit line the data's licence asks for wherever it is shown; empty when none.
    QString attribution() const { return contents_->attribution; }
    // What could not be drawn, one line a data set.
    QStringList warnings() const { return contents_->warnings; }

    enum LineClass { Motorway, Trunk, Primary, Secondary, Tertiary, Minor, Service, Path, Rail, River, Stream, OtherLine };
    enum AreaClass { OtherArea, Green, Wood, Water, Building }; // in drawing order

    static const QString kOpenStreetMapCredit;

    // Place and street names placed together over the whole map for one pixel size: the places
    // first, by importance, then the streets in the room left.
    struct Labels {
        std::vector<placelabels::Label> places;
        std::vector<streetlabels::Label> streets;
    };
    std::shared_ptr<const Labels> labels(double metresPerPixel) const;

private:
    struct Line {
        std::vector<QPointF> points;
        QRectF bounds;
        LineClass kind;
        QString name;
    };
    struct Area {
        std::vector<QPointF> points;
        QRectF bounds;
        AreaClass kind;
    };
    struct LabelCache {
        QMutex mutex;
        std::map<double, std::shared_ptr<const Labels>> byPixelSize;
    };
    struct Contents {
        std::vector<Line> lines;
        std::vector<Area> areas;
        std::vector<placelabels::Place> places;
        std::vector<std::shared_ptr<const RasterMap>> rasters; // in drawing order
        std::vector<coastline::Ring> coast;
        coastline::Sea sea;
        QRectF bounds, extent;
        QString attribution;
        QStringList warnings;
        QString failure;
        std::shared_ptr<LabelCache> labels = std::make_shared<LabelCache>();
    };

    static QString resolve(const QString& path, const QStringList& mapsFolders);
    static bool readDataSet(const QString& path, Contents& into,
                            const std::atomic_bool* cancelled = nullptr);
    static bool readChart(const QString& path, Contents& into, const std::atomic_bool* cancelled);
    // The contents of a vector map file as read before, kept in `folder` under the file's path,
    // size and time; false when there are none or they do not read.
    static bool readCache(const QString& folder, const QFileInfo& file, Contents& into);
    static void writeCache(const QString& folder, const QFileInfo& file, const Contents& from);
    // Nothing when `path` is no raster; otherwise whether it was read.
    static std::optional<bool> readRaster(const QString& path, Contents& into);
    void drawNames(QPainter& painter, const Viewport& view) const;

    std::shared_ptr<const Contents> contents_ = std::make_shared<Contents>();
    QString failure_;
};
