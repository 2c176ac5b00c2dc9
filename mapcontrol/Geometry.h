#pragma once

#include <QMutex>
#include <QPointF>
#include <QRectF>
#include <memory>
#include <vector>

// A feature's points in Web Mercator metres with their bounds, immutable and shared: a copy
// costs a reference count, so a trail of a million points read on a worker is published in two
// layers and handed to the tile workers without a pass over its points. A long line also keeps
// the bounds of its pieces and, per pixel size, itself simplified for drawing.
class Geometry {
public:
    static constexpr size_t kPiece = 64;         // points a line is stroked in at a time
    static constexpr size_t kSimplifyFrom = 256; // shorter lines are drawn as they are

    Geometry() = default;
    explicit Geometry(std::vector<QPointF> points);

    const std::vector<QPointF>& points() const { return data_ ? data_->points : none(); }
    size_t size() const { return points().size(); }
    bool empty() const { return points().empty(); }
    const QPointF& front() const { return points().front(); }
    const QPointF& operator[](size_t i) const { return points()[i]; }
    auto begin() const { return points().begin(); }
    auto end() const { return points().end(); }
    QRectF bounds() const { return data_ ? data_->bounds : QRectF(); }
    // The bounds of the line's pieces of kPiece points, overlapping by one; empty for a short one.
    const std::vector<QRectF>& pieces() const { return data_ ? data_->pieces : noPieces(); }

    // The line as drawn at a pixel size: points less than half a pixel from the line kept merged,
    // the curve within half a pixel of the original. Worked out once per pixel size, by whichever
    // thread asks first, and shared; a few pixel sizes are kept.
    struct Simplified {
        std::vector<QPointF> points;
        std::vector<QRectF> pieces;
    };
    std::shared_ptr<const Simplified> simplified(double metresPerPixel) const;

    static QRectF boundsOf(const std::vector<QPointF>& points, size_t from, size_t to);
    static std::vector<QRectF> pieceBounds(const std::vector<QPointF>& points);
    // Points within `tolerance` of the line through the others dropped (Douglas-Peucker over
    // runs of points, after merging those closer than `tolerance` to the last one kept).
    static std::vector<QPointF> simplify(const std::vector<QPointF>& points, double tolerance);

private:
    static const std::vector<QPointF>& none();
    static const std::vector<QRectF>& noPieces();

    struct Data {
        std::vector<QPointF> points;
        QRectF bounds;
        std::vector<QRectF> pieces;
        mutable QMutex mutex;
        mutable std::vector<std::pair<double, std::shared_ptr<const Simplified>>>
            byPixelSize; // latest last
    };
    std::shared_ptr<const Data> data_;
};
