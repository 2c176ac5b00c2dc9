#pragma once

#include "BaseMap.h"
#include "Geometry.h"
#include "MapStyle.h"
#include "MapTable.h"
#include "Viewport.h"

#include <QHash>
#include <QPainter>
#include <memory>
#include <vector>

// What the control draws, without a widget: the base map and the published layers, in the
// order of their first publication. Layers with a moving symbol (a vehicle) are "live" and
// drawn on every frame, over the rest; every other layer is "static" and may be cached.
class MapScene {
public:
    struct Feature {
        Geometry points; // Web Mercator metres, shared with every copy of the layer
        MapStyle style;
        QString hint;    // for pictures: what hovering shows
        int record = -1; // the table record it came from
    };
    struct Layer {
        QString name;
        bool pointLayer = false;
        bool live = false; // holds a moving symbol
        std::vector<Feature> features;
    };

    MapTable* createTable();
    // 0 when the definition parsed; records or styles that do not parse draw nothing.
    int addLayer(const QString& definition, const QString& style, IMapTable* table);
    // A geometry text this long (a long trip's trail) is worth reading on a worker first;
    // shorter ones read faster here than handed over.
    static constexpr qsizetype kReadAside = qsizetype(1) << 22; // some 115,000 points
    // Whether addLayer would read `text` itself, at length: a long geometry not kept yet.
    bool needsReading(const QString& text) const;
    // Reads a geometry text into Web Mercator points, with their bounds; safe on any thread.
    static std::optional<Geometry> readGeometry(const QString& text);
    // Keeps what readGeometry gave for `text`, for addLayer to find.
    void keepGeometry(const QString& text, std::optional<Geometry> geometry);
    // Whether `definition` names a layer published before that holds a moving symbol.
    bool isLive(const QString& definition) const;
    const std::vector<Layer>& layers() const { return layers_; }
    const Layer* layer(const QString& name) const;
    // The layer the last successful addLayer published.
    const Layer* lastPublished() const {
        return lastPublished_ < layers_.size() ? &layers_[lastPublished_] : nullptr;
    }

    const BaseMap& baseMap() const { return baseMap_; }
    void setBaseMap(BaseMap map) {
        baseMap_ = std::move(map);
        ++baseRevision_;
        ++staticRevision_;
    }

    // What the cached image shows, taken once per revision and shared, so that other threads
    // can draw it while the layers are published anew.
    struct StaticPart {
        BaseMap baseMap;
        std::vector<Layer> layers;
        QHash<QString, QImage> pictures;
    };
    std::shared_ptr<const StaticPart> staticPart() const;
    // The base map alone, and the static layers over it: a new trail is drawn over base-map
    // pieces already drawn.
    static void renderBase(QPainter& painter, const Viewport& view, const StaticPart& part) {
        part.baseMap.render(painter, view);
    }
    static void renderLayers(QPainter& painter, const Viewport& view, const StaticPart& part);

    // Pictures that "p 'name' size" styles draw; a name without one draws a stand-in.
    void setPicture(const QString& name, const QImage& image) {
        pictures_.insert(name, image);
        ++staticRevision_;
    }
    // The picture feature drawn at a point of the screen, topmost first; null when none.
    struct Hit {
        const Layer* layer = nullptr;
        const Feature* feature = nullptr;
    };
    Hit pictureAt(const Viewport& view, const QPointF& screen) const;

    // Bumped whenever something cached must be drawn again: the base map, or anything static.
    quint64 baseRevision() const { return baseRevision_; }
    quint64 staticRevision() const { return staticRevision_; }

    void renderStatic(QPainter& painter, const Viewport& view) const;
    void renderLive(QPainter& painter, const Viewport& view) const;
    // Where on the screen the live layers draw: a frame in which only they changed repaints
    // this, with where they were, and nothing else.
    QRectF liveBounds(const Viewport& view) const;
    void render(QPainter& painter, const Viewport& view) const {
        renderStatic(painter, view);
        renderLive(painter, view);
    }

private:
    static void renderLayer(QPainter& painter, const Viewport& view, const Layer& layer,
                            const QHash<QString, QImage>& pictures);

    std::vector<std::unique_ptr<MapTable>> tables_;
    std::vector<Layer> layers_;
    QHash<QString, std::optional<LayerDefinition>> definitions_; // the player sends a few, often
    size_t lastPublished_ = size_t(-1);
    BaseMap baseMap_;
    QHash<QString, QImage> pictures_;
    quint64 baseRevision_ = 0;
    quint64 staticRevision_ = 0;
    mutable std::shared_ptr<const StaticPart> staticPart_;
    mutable quint64 staticPartRevision_ = 0;
    // The last long geometry text and its projected points: the player sends a trail twice, as
    // its outline and its line, and a text of a million points takes a while to read.
    QString lastGeometryText_;
    std::optional<Geometry> lastGeometry_;
    std::optional<Geometry> projectedGeometry(const QString& text);
};

// Draws one feature in screen space; shared by the scene and the base map.
namespace draw {
constexpr size_t kLinePiece = Geometry::kPiece;
// `pieces`, when given, are Geometry::pieceBounds(points), kept with the line.
void polyline(QPainter& painter, const Viewport& view, const std::vector<QPointF>& points, const QPen& pen,
              const std::vector<QRectF>* pieces = nullptr);
// A long line as simplified for the view's pixel size, a short one as it is.
void polyline(QPainter& painter, const Viewport& view, const Geometry& line, const QPen& pen);
void polygon(QPainter& painter, const Viewport& view, const std::vector<QPointF>& points,
             const QBrush& brush, const QPen& pen);
void vehicleSymbol(QPainter& painter, const QPointF& at, double size, double heading,
                   const QColor& color);
void label(QPainter& painter, const QPointF& at, const QString& text, double points,
           const QColor& color);
// A picture in a square of `size` pixels centred on `at`; a null image draws a grey "?".
void picture(QPainter& painter, const QPointF& at, const QImage& image, double size);
// The size of a label as drawn, halo included.
QSizeF labelSize(const QString& text, double points, const QColor& color);
} // namespace draw
