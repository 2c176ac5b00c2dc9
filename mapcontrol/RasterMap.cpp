#include "RasterMap.h"

#include <QRegularExpression>
#include <cmath>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

namespace {

constexpr int kGridStep = 16;       // output pixels between points warped exactly; those between are interpolated
constexpr int kLargestRead = 4096;  // pixels a side read for one view, whatever the view
constexpr int kLargeRaster = 4096;  // a side beyond which a raster without overviews is slow to show whole
constexpr int kPreviewSide = 2048;  // of the one small copy such a raster is shown from far out

struct QuietGdal {
    QuietGdal() { CPLPushErrorHandler(CPLQuietErrorHandler); }
    ~QuietGdal() { CPLPopErrorHandler(); }
};

QString credit(GDALDataset& dataset) {
    for (const char* key : {"attribution", "ATTRIBUTION", "TIFFTAG_COPYRIGHT", "copyright", "COPYRIGHT", "credit"})
        if (const char* value = dataset.GetMetadataItem(key); value && *value) {
            QString text = QString::fromUtf8(value);
            text.remove(QRegularExpression(QStringLiteral("<[^>]*>"))); // tile packages credit in HTML
            text.replace(QLatin1String("&copy;"), QStringLiteral("©")).replace(QLatin1String("&amp;"), QStringLiteral("&"));
            return text.simplified().left(240);
        }
    return QString();
}

std::unique_ptr<OGRCoordinateTransformation> transformation(const OGRSpatialReference& from, const OGRSpatialReference& to) {
    OGRSpatialReference a(from), b(to);
    a.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    b.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return std::unique_ptr<OGRCoordinateTransformation>(OGRCreateCoordinateTransformation(&a, &b));
}

} // namespace

struct RasterMap::Window {
    int x, y, width, height; // source pixels
    int bufferWidth, bufferHeight;
    double shrink; // source pixels an output pixel covers
};

RasterMap::~RasterMap() = default;

void RasterMap::CloseDataset::operator()(GDALDataset* dataset) const { GDALClose(dataset); }

std::shared_ptr<RasterMap> RasterMap::open(const QString& source, const QString& name, QString& error) {
    GDALAllRegister();
    const QuietGdal quiet;
    GDALDatasetUniquePtr dataset(GDALDataset::Open(source.toUtf8().constData(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    if (!dataset || dataset->GetRasterCount() < 1 || dataset->GetRasterXSize() < 1 || dataset->GetRasterYSize() < 1)
        return nullptr;
    double geo[6];
    const OGRSpatialReference* system = dataset->GetSpatialRef();
    if (dataset->GetGeoTransform(geo) != CE_None || !system) {
        error = QStringLiteral("%1: растр без географической привязки, его место на карте неизвестно").arg(name);
        return nullptr;
    }
    std::shared_ptr<RasterMap> map(new RasterMap);
    OGRSpatialReference lonLat, webMercator;
    lonLat.SetWellKnownGeogCS("WGS84");
    webMercator.importFromEPSG(3857);
    auto toLonLat = transformation(*system, lonLat);
    if (!system->IsSame(&webMercator))
        map->fromLonLat_ = transformation(lonLat, *system);
    if (!toLonLat || (!system->IsSame(&webMercator) && !map->fromLonLat_) || !GDALInvGeoTransform(geo, map->toPixel_)) {
        error = QStringLiteral("%1: система координат растра не переводится в географическую").arg(name);
        return nullptr;
    }
    // The outline, point by point along each edge: a sheet in another system is no rectangle here.
    const int width = dataset->GetRasterXSize(), height = dataset->GetRasterYSize();
    for (int i = 0; i <= 80; ++i) {
        const double t = (i % 20) / 20.0;
        const int edge = i / 20;
        double px = edge == 0 ? t * width : edge == 1 ? width : edge == 2 ? (1 - t) * width : 0;
        double py = edge == 0 ? 0 : edge == 1 ? t * height : edge == 2 ? height : (1 - t) * height;
        double x = geo[0] + px * geo[1] + py * geo[2], y = geo[3] + px * geo[4] + py * geo[5];
        if (!toLonLat->Transform(1, &x, &y) || !std::isfinite(x) || !std::isfinite(y))
            continue;
        const QPointF p = mercator::project(std::clamp(x, -180.0, 180.0), y);
        map->bounds_ = map->bounds_.isNull() ? QRectF(p, QSizeF(1e-6, 1e-6)) : map->bounds_.united(QRectF(p, QSizeF(1e-6, 1e-6)));
    }
    if (map->bounds_.isNull()) {
        error = QStringLiteral("%1: растр лежит вне земного шара").arg(name);
        return nullptr;
    }
    map->attribution_ = credit(*dataset);
    map->name_ = name;
    map->previewShrink_ = std::max(width, height) / double(kPreviewSide);
    if (std::max(width, height) > kLargeRaster && dataset->GetRasterBand(1)->GetOverviewCount() == 0)
        map->warnings_ << QStringLiteral("%1: растр %2×%3 без обзорных уровней, в мелком масштабе он читается "
                                         "медленно (их строит gdaladdo)")
                              .arg(name, QString::number(width), QString::number(height));
    map->dataset_.reset(dataset.release());
    return map;
}

bool RasterMap::locate(const Viewport& view, QSize pixels, int step, std::vector<QPointF>& grid) const {
    const int columns = pixels.width() / step + 2, rows = pixels.height() / step + 2;
    std::vector<double> xs, ys;
    std::vector<int> ok(size_t(columns) * rows, 1);
    xs.reserve(ok.size());
    ys.reserve(ok.size());
    const double toLogical = double(view.size.width()) / pixels.width();
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const QPointF m = view.toMercator(QPointF(c * step, r * step) * toLogical);
            const QPointF p = fromLonLat_ ? mercator::unproject(m) : m;
            xs.push_back(p.x());
            ys.push_back(p.y());
        }
    if (fromLonLat_ && !fromLonLat_->Transform(int(xs.size()), xs.data(), ys.data(), nullptr, ok.data()) &&
        std::none_of(ok.begin(), ok.end(), [](int v) { return v; }))
        return false;
    grid.resize(xs.size());
    for (size_t i = 0; i < xs.size(); ++i)
        grid[i] = ok[i] && std::isfinite(xs[i]) && std::isfinite(ys[i])
                      ? QPointF(toPixel_[0] + xs[i] * toPixel_[1] + ys[i] * toPixel_[2],
                                toPixel_[3] + xs[i] * toPixel_[4] + ys[i] * toPixel_[5])
                      : QPointF(qQNaN(), qQNaN());
    return true;
}

QImage RasterMap::read(const Window& w) const {
    GDALDataset& dataset = *dataset_;
    GDALRasterBand* first = dataset.GetRasterBand(1);
    const GDALColorTable* palette = first->GetColorTable();
    const int bands = dataset.GetRasterCount() >= 3 && !palette ? 3 : 1;
    const size_t count = size_t(w.bufferWidth) * w.bufferHeight;
    std::vector<GByte> colour(count * bands), mask(count, 255);
    GDALRasterIOExtraArg how;
    INIT_RASTERIO_EXTRA_ARG(how);
    // Averaging a window with no overview to match would read all of it: far out, every n-th pixel.
    how.eResampleAlg = palette || (w.shrink > 8 && first->GetOverviewCount() == 0) ? GRIORA_NearestNeighbour
                                                                                   : GRIORA_Bilinear;
    int bandMap[3] = {1, 2, 3};
    if (dataset.RasterIO(GF_Read, w.x, w.y, w.width, w.height, colour.data(), w.bufferWidth, w.bufferHeight,
                         GDT_Byte, bands, bandMap, bands, GSpacing(w.bufferWidth) * bands, 1, &how) != CE_None)
        return QImage();
    how.eResampleAlg = GRIORA_NearestNeighbour;
    if (!(first->GetMaskFlags() & GMF_ALL_VALID) &&
        first->GetMaskBand()->RasterIO(GF_Read, w.x, w.y, w.width, w.height, mask.data(), w.bufferWidth,
                                       w.bufferHeight, GDT_Byte, 1, w.bufferWidth, &how) != CE_None)
        return QImage();
    QImage image(w.bufferWidth, w.bufferHeight, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < w.bufferHeight; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w.bufferWidth; ++x) {
            const size_t i = size_t(y) * w.bufferWidth + x;
            QRgb rgba;
            if (palette) {
                const GDALColorEntry* e = palette->GetColorEntry(colour[i]);
                rgba = e ? qRgba(e->c1, e->c2, e->c3, std::min<int>(e->c4, mask[i])) : qRgba(0, 0, 0, 0);
            } else if (bands == 3) {
                rgba = qRgba(colour[3 * i], colour[3 * i + 1], colour[3 * i + 2], mask[i]);
            } else {
                rgba = qRgba(colour[i], colour[i], colour[i], mask[i]);
            }
            line[x] = qPremultiply(rgba);
        }
    }
    return image;
}

bool RasterMap::readsMostBlocks(const Window& w) const {
    GDALRasterBand* band = dataset_->GetRasterBand(1);
    if (band->GetOverviewCount() > 0)
        return false;
    int blockWidth = 0, blockHeight = 0;
    band->GetBlockSize(&blockWidth, &blockHeight);
    const double across = std::ceil(dataset_->GetRasterXSize() / double(std::max(blockWidth, 1)));
    const double down = std::ceil(dataset_->GetRasterYSize() / double(std::max(blockHeight, 1)));
    // Every n-th pixel of a window touches a block at most once for each row and column read.
    const double touched = std::min<double>(w.bufferWidth, std::ceil(w.width / double(std::max(blockWidth, 1)))) *
                           std::min<double>(w.bufferHeight, std::ceil(w.height / double(std::max(blockHeight, 1))));
    return touched * 2 >= across * down;
}

void RasterMap::render(QPainter& painter, const Viewport& view) const {
    if (!overlaps(view.visibleMercator(), bounds_) || view.size.isEmpty())
        return;
    const qreal ratio = painter.device()->devicePixelRatioF();
    const QSize pixels = (QSizeF(view.size) * ratio).toSize();
    const int columns = pixels.width() / kGridStep + 2;
    std::vector<QPointF> grid;
    QImage source;
    Window w{};
    {
        const QMutexLocker lock(&reading_);
        const QuietGdal quiet;
        if (!locate(view, pixels, kGridStep, grid))
            return;
        double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300, stretch = 0;
        int steps = 0;
        for (size_t i = 0; i < grid.size(); ++i) {
            const QPointF& p = grid[i];
            if (std::isnan(p.x()))
                continue;
            x0 = std::min(x0, p.x()), x1 = std::max(x1, p.x()), y0 = std::min(y0, p.y()), y1 = std::max(y1, p.y());
            if ((i + 1) % columns != 0 && !std::isnan(grid[i + 1].x())) {
                stretch += std::hypot(grid[i + 1].x() - p.x(), grid[i + 1].y() - p.y()) / kGridStep;
                ++steps;
            }
        }
        const int width = dataset_->GetRasterXSize(), height = dataset_->GetRasterYSize();
        w.x = std::clamp(int(std::floor(std::max(x0, -1.0))) - 1, 0, width);
        w.y = std::clamp(int(std::floor(std::max(y0, -1.0))) - 1, 0, height);
        w.width = std::clamp(int(std::ceil(std::min(x1, double(width)))) + 1, 0, width) - w.x;
        w.height = std::clamp(int(std::ceil(std::min(y1, double(height)))) + 1, 0, height) - w.y;
        if (w.width <= 0 || w.height <= 0 || steps == 0)
            return;
        w.shrink = std::max(stretch / steps, 1.0);
        w.bufferWidth = std::clamp(int(std::ceil(w.width / w.shrink)), 1, std::min(w.width, kLargestRead));
        w.bufferHeight = std::clamp(int(std::ceil(w.height / w.shrink)), 1, std::min(w.height, kLargestRead));
        // Far out on a large raster without overviews a view may read most of its blocks: they
        // are read once, into a small copy that every such view is drawn from.
        if (previewShrink_ > 2 && w.shrink >= previewShrink_ && readsMostBlocks(w)) {
            w = {0, 0, width, height, int(std::ceil(width / previewShrink_)), int(std::ceil(height / previewShrink_)),
                 previewShrink_};
            if (preview_.isNull())
                preview_ = read(w);
            source = preview_;
        } else {
            source = read(w);
        }
        if (source.isNull()) {
            if (!failureTold_.exchange(true))
                qWarning("%s", qUtf8Printable(QStringLiteral("%1: часть карты не читается и не показана (%2)")
                                                  .arg(name_, QString::fromUtf8(CPLGetLastErrorMsg()))));
            return;
        }
    }
    // Each output pixel takes the source pixel under its centre, found between the grid's points.
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const double sx = w.bufferWidth / double(w.width), sy = w.bufferHeight / double(w.height);
    for (int y = 0; y < pixels.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const double v = (y + 0.5) / kGridStep;
        const int r = int(v);
        const double fy = v - r;
        for (int x = 0; x < pixels.width(); ++x) {
            const double u = (x + 0.5) / kGridStep;
            const int c = int(u);
            const double fx = u - c;
            const QPointF& a = grid[size_t(r) * columns + c];
            const QPointF& b = grid[size_t(r) * columns + c + 1];
            const QPointF& d = grid[size_t(r + 1) * columns + c];
            const QPointF& e = grid[size_t(r + 1) * columns + c + 1];
            const QPointF p = (a * (1 - fx) + b * fx) * (1 - fy) + (d * (1 - fx) + e * fx) * fy;
            if (std::isnan(p.x()))
                continue;
            const int bx = int(std::floor((p.x() - w.x) * sx)), by = int(std::floor((p.y() - w.y) * sy));
            if (bx >= 0 && by >= 0 && bx < w.bufferWidth && by < w.bufferHeight)
                line[x] = reinterpret_cast<const QRgb*>(source.constScanLine(by))[bx];
        }
    }
    image.setDevicePixelRatio(ratio);
    painter.drawImage(QPointF(0, 0), image);
}
