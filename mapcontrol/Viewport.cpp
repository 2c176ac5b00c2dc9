#include "Viewport.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace mercator {

constexpr double kRadius = 6378137.0;

QPointF project(double longitude, double latitude) {
    const double clamped = std::clamp(latitude, -85.05112878, 85.05112878);
    const double phi = clamped * std::numbers::pi / 180;
    return {kRadius * longitude * std::numbers::pi / 180,
            kRadius * std::log(std::tan(std::numbers::pi / 4 + phi / 2))};
}

QPointF unproject(const QPointF& metres) {
    const double longitude = metres.x() / kRadius * 180 / std::numbers::pi;
    const double latitude =
        (2 * std::atan(std::exp(metres.y() / kRadius)) - std::numbers::pi / 2) * 180 / std::numbers::pi;
    return {longitude, latitude};
}

} // namespace mercator

double Viewport::metresPerPixel() const {
    // The centre's latitude in steps of a tenth of a degree (a scale error under 0.1 %): a pan
    // keeps the pixel size, so pieces of the map drawn before still fit the view.
    const double latitude =
        std::round(mercator::unproject(centre).y() * 10) / 10 * std::numbers::pi / 180;
    return scale * 0.0254 / dpi / std::max(std::cos(latitude), 1e-6);
}

QPointF Viewport::toScreen(const QPointF& metres) const {
    const double mpp = metresPerPixel();
    return {(metres.x() - centre.x()) / mpp + size.width() / 2.0,
            (centre.y() - metres.y()) / mpp + size.height() / 2.0};
}

QPointF Viewport::toMercator(const QPointF& screen) const {
    const double mpp = metresPerPixel();
    return {centre.x() + (screen.x() - size.width() / 2.0) * mpp,
            centre.y() - (screen.y() - size.height() / 2.0) * mpp};
}

QRectF Viewport::visibleMercator() const {
    const QPointF a = toMercator(QPointF(0, 0));
    const QPointF b = toMercator(QPointF(size.width(), size.height()));
    return QRectF(a, b).normalized();
}
