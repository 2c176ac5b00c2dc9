#pragma once

#include "Coastline.h"
#include "StreetLabels.h"
#include "Viewport.h"

#include <QMutex>
#include <QPainter>
#include <QString>
#include <QStringList>
#include <map>
#include <memory>
#include <vector>

// The map under the player's layers: vector data read with GDAL/OGR (OpenStreetMap, GeoPackage,
// Shapefile, GeoJSON…, in any coordinate system GDAL knows) or a ".chart" file naming such data
// sets, drawn in OpenStreetMap's usual colours: sea and water, land use, buildings, roads by
// class, street and place names. The contents are immutable and shared: a copy is cheap and
// may be drawn on another thread while a new map loads.
class BaseMap {
public:
    // 0 on success. On failure (a non-zero code) the map drawn before stays.
    // A Windows path that does not exist is looked up by its file name in `mapsFolder`.
    int load(const QString& path, const QStringList& mapsFolders);
    void render(QPainter& painter, const Viewport& view) const;
    bool isEmpty() const { return featureCount() == 0; }
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
    struct Place {
        QPointF point;
        QString name;
        int rank; // 0 city … 3 hamlet
    };
    // Street names placed for one pixel size, made when a scale is first drawn.
    struct LabelCache {
        QMutex mutex;
        std::map<double, std::shared_ptr<const std::vector<streetlabels::Label>>> byPixelSize;
    };
    struct Contents {
        std::vector<Line> lines;
        std::vector<Area> areas;
        std::vector<Place> places;
        std::vector<coastline::Ring> coast;
        coastline::Sea sea;
        QRectF bounds, extent;
        QString attribution;
        QStringList warnings;
        std::shared_ptr<LabelCache> labels = std::make_shared<LabelCache>();
    };

    static QString resolve(const QString& path, const QStringList& mapsFolders);
    static bool readDataSet(const QString& path, Contents& into);
    static bool readChart(const QString& path, Contents& into);
    std::shared_ptr<const std::vector<streetlabels::Label>> streetLabels(double metresPerPixel) const;
    void drawStreetNames(QPainter& painter, const Viewport& view) const;

    std::shared_ptr<const Contents> contents_ = std::make_shared<Contents>();
};
