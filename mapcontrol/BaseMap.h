#pragma once

#include "Viewport.h"

#include <QPainter>
#include <QString>
#include <memory>
#include <vector>

// The map under the player's layers: vector data read with GDAL/OGR (OpenStreetMap, GeoPackage,
// Shapefile, GeoJSON…) or a ".chart" file naming such data sets, drawn in a legible default
// style: water and land use, buildings, roads by class, place names. The contents are immutable
// and shared: a copy is cheap and may be drawn on another thread while a new map loads.
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

    enum LineClass { Motorway, Primary, Secondary, Minor, Path, Rail, Waterway, OtherLine };
    enum AreaClass { OtherArea, Green, Water, Building }; // in drawing order

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
    struct Contents {
        std::vector<Line> lines;
        std::vector<Area> areas;
        std::vector<Place> places;
        QRectF bounds;
    };

    static QString resolve(const QString& path, const QStringList& mapsFolders);
    static bool readDataSet(const QString& path, Contents& into);
    static bool readChart(const QString& path, Contents& into);

    std::shared_ptr<const Contents> contents_ = std::make_shared<Contents>();
};
