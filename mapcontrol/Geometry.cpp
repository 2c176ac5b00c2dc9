#include "Geometry.h"

#include <algorithm>

namespace {
constexpr double kTolerancePixels = 0.5;
constexpr size_t kPixelSizesKept = 4;
constexpr size_t kSimplifyRun = 4096; // bounds the cost of a line that never strays far

double distance2(const QPointF& a, const QPointF& b) {
    const double dx = a.x() - b.x(), dy = a.y() - b.y();
    return dx * dx + dy * dy;
}

// The squared distance from `p` to the segment from `a` to `b`.
double segmentDistance2(const QPointF& p, const QPointF& a, const QPointF& b) {
    const double dx = b.x() - a.x(), dy = b.y() - a.y();
    const double length2 = dx * dx + dy * dy;
    double t = length2 > 0 ? ((p.x() - a.x()) * dx + (p.y() - a.y()) * dy) / length2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    return distance2(p, QPointF(a.x() + t * dx, a.y() + t * dy));
}
} // namespace

Geometry::Geometry(std::vector<QPointF> points) {
    auto data = std::make_shared<Data>();
    data->points = std::move(points);
    if (!data->points.empty())
        data->bounds = boundsOf(data->points, 0, data->points.size() - 1);
    if (data->points.size() > kPiece)
        data->pieces = pieceBounds(data->points);
    data_ = std::move(data);
}

const std::vector<QPointF>& Geometry::none() {
    static const std::vector<QPointF> empty;
    return empty;
}

const std::vector<QRectF>& Geometry::noPieces() {
    static const std::vector<QRectF> empty;
    return empty;
}

QRectF Geometry::boundsOf(const std::vector<QPointF>& points, size_t from, size_t to) {
    double left = points[from].x(), right = left, top = points[from].y(), bottom = top;
    for (size_t i = from + 1; i <= to; ++i) {
        left = std::min(left, points[i].x());
        right = std::max(right, points[i].x());
        top = std::min(top, points[i].y());
        bottom = std::max(bottom, points[i].y());
    }
    return QRectF(QPointF(left, top), QPointF(right, bottom));
}

std::vector<QRectF> Geometry::pieceBounds(const std::vector<QPointF>& points) {
    std::vector<QRectF> bounds;
    bounds.reserve(points.size() / (kPiece - 1) + 1);
    for (size_t from = 0; from + 1 < points.size(); from += kPiece - 1)
        bounds.push_back(boundsOf(points, from, std::min(points.size() - 1, from + kPiece - 1)));
    return bounds;
}

std::vector<QPointF> Geometry::simplify(const std::vector<QPointF>& points, double tolerance) {
    if (points.size() < 3)
        return points;
    const double tolerance2 = tolerance * tolerance;
    std::vector<QPointF> merged{points.front()};
    for (size_t i = 1; i + 1 < points.size(); ++i)
        if (distance2(points[i], merged.back()) >= tolerance2)
            merged.push_back(points[i]);
    merged.push_back(points.back());

    std::vector<char> keep(merged.size(), 0);
    std::vector<std::pair<size_t, size_t>> spans;
    for (size_t from = 0; from + 1 < merged.size(); from += kSimplifyRun) {
        const size_t to = std::min(merged.size() - 1, from + kSimplifyRun);
        keep[from] = keep[to] = 1;
        spans.push_back({from, to});
        while (!spans.empty()) {
            const auto [a, b] = spans.back();
            spans.pop_back();
            double farthest = tolerance2;
            size_t at = 0;
            for (size_t i = a + 1; i < b; ++i)
                if (const double d = segmentDistance2(merged[i], merged[a], merged[b]);
                    d > farthest) {
                    farthest = d;
                    at = i;
                }
            if (at == 0)
                continue;
            keep[at] = 1;
            spans.push_back({a, at});
            spans.push_back({at, b});
        }
    }
    std::vector<QPointF> result;
    for (size_t i = 0; i < merged.size(); ++i)
        if (keep[i])
            result.push_back(merged[i]);
    return result;
}

std::shared_ptr<const Geometry::Simplified> Geometry::simplified(double metresPerPixel) const {
    static const auto nothing = std::make_shared<const Simplified>();
    if (!data_)
        return nothing;
    const QMutexLocker lock(&data_->mutex);
    auto& kept = data_->byPixelSize;
    const auto found = std::find_if(kept.begin(), kept.end(),
                                    [&](const auto& k) { return k.first == metresPerPixel; });
    if (found != kept.end()) {
        std::rotate(found, found + 1, kept.end());
        return kept.back().second;
    }
    auto made = std::make_shared<Simplified>();
    made->points = simplify(data_->points, kTolerancePixels * metresPerPixel);
    made->pieces = pieceBounds(made->points);
    if (kept.size() >= kPixelSizesKept)
        kept.erase(kept.begin());
    kept.emplace_back(metresPerPixel, std::move(made));
    return kept.back().second;
}
