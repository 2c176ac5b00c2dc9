#pragma once

#include "Viewport.h"

#include <QMutex>
#include <QPainter>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>

class GDALDataset;
class OGRCoordinateTransformation;

// A raster base map read through GDAL: a georeferenced sheet (GeoTIFF and the like, in any
// coordinate system), a tile package (MBTiles) or a folder of tiles. Each view reads only the
// window it shows, from the overview nearest its pixel size, and warps it to Web Mercator; the
// whole raster is never read at full size. One reader at a time: the views of several threads take
// turns at the data set.
class RasterMap {
public:
    // Opens `source` (a file name, or a GDAL description) as a raster called `name` in messages;
    // null when it is no raster, with the reason in Russian in `error` when it is one that cannot
    // be placed on the globe.
    static std::shared_ptr<RasterMap> open(const QString& source, const QString& name, QString& error);
    ~RasterMap();

    // Draws the part the view shows; pixels without data are left as they were.
    void render(QPainter& painter, const Viewport& view) const;
    QRectF bounds() const { return bounds_; } // Web Mercator metres
    QString attribution() const { return attribution_; }
    QStringList warnings() const { return warnings_; }

    void setBounds(const QRectF& bounds) { bounds_ = bounds; }
    void setAttribution(const QString& credit) { attribution_ = credit; }

private:
    RasterMap() = default;
    struct Window;
    // Source pixel positions of a grid of view points, under the reading lock.
    bool locate(const Viewport& view, QSize pixels, int step, std::vector<QPointF>& grid) const;
    QImage read(const Window& window) const;
    bool readsMostBlocks(const Window& window) const;

    struct CloseDataset {
        void operator()(GDALDataset* dataset) const;
    };
    std::unique_ptr<GDALDataset, CloseDataset> dataset_;
    std::unique_ptr<OGRCoordinateTransformation> fromLonLat_; // none: the raster is in Web Mercator
    double toPixel_[6] = {};                                   // inverse geotransform
    QRectF bounds_;
    QString attribution_, name_;
    QStringList warnings_;
    double previewShrink_ = 1;
    mutable QImage preview_; // of a large raster without overviews, made when first seen far out
    mutable QMutex reading_;
    mutable std::atomic_bool failureTold_ = false;
};
