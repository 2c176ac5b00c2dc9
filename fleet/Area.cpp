#include "Area.h"

#include "VantrelError.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

namespace {

constexpr double kEarthRadius = 6371008.8;
constexpr double kRad = M_PI / 180;

double wrapped(double lon) {
    const double w = std::remainder(lon, 360.0);
    return w == 180 ? -180 : w;
}

} // namespace

double Area::metresBetween(double lon1, double lat1, double lon2, double lat2) {
    const double dLat = (lat2 - lat1) * kRad, dLon = std::remainder(lon2 - lon1, 360.0) * kRad;
    const double h =
        std::sin(dLat / 2) * std::sin(dLat / 2) +
        std::cos(lat1 * kRad) * std::cos(lat2 * kRad) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2 * kEarthRadius * std::asin(std::min(1.0, std::sqrt(h)));
}

namespace {

QString distance(double metres) {
    return metres < 1000
               ? QStringLiteral("%1 м").arg(QLocale().toString(std::round(metres), 'f', 0))
               : QStringLiteral("%1 км").arg(QLocale().toString(metres / 1000, 'f', 1));
}

} // namespace

Area Area::rectangle(double lon1, double lat1, double lon2, double lat2) {
    if (!std::isfinite(lon1) || !std::isfinite(lat1) || !std::isfinite(lon2) ||
        !std::isfinite(lat2) || lon1 == lon2 || lat1 == lat2)
        throw VantrelError(
            QStringLiteral("Прямоугольник нулевого размера: растяните его мышью, чтобы у него были "
                           "и ширина, и высота"));
    Area area;
    area.shape_ = Shape::Rectangle;
    area.width_ = std::min(360.0, std::abs(lon2 - lon1));
    area.west_ = wrapped(std::min(lon1, lon2));
    area.south_ = std::max(-90.0, std::min(lat1, lat2));
    area.north_ = std::min(90.0, std::max(lat1, lat2));
    return area;
}

Area Area::circle(double lon, double lat, double radiusMetres) {
    if (!std::isfinite(lon) || !std::isfinite(lat) || !(radiusMetres > 0))
        throw VantrelError(QStringLiteral("Круг нулевого радиуса: растяните его мышью от центра"));
    Area area;
    area.shape_ = Shape::Circle;
    area.lon_ = wrapped(lon);
    area.lat_ = lat;
    area.radius_ = radiusMetres;
    area.latBand_ = radiusMetres / kEarthRadius / kRad;
    return area;
}

bool Area::contains(double lon, double lat) const {
    if (shape_ == Shape::Rectangle) {
        if (lat < south_ || lat > north_)
            return false;
        double east = lon - west_; // degrees east of the western edge, 0…360
        east -= 360 * std::floor(east / 360);
        return east <= width_;
    }
    if (std::abs(lat - lat_) > latBand_)
        return false;
    // Far enough east or west by the narrowest measure of a degree in the band: outside.
    const double nearestLat = std::abs(lat_) + latBand_;
    if (nearestLat < 90 &&
        std::abs(std::remainder(lon - lon_, 360.0)) * std::cos(nearestLat * kRad) >
            latBand_ * 1.0001)
        return false;
    return metresBetween(lon_, lat_, lon, lat) <= radius_;
}

QString Area::description() const {
    if (shape_ == Shape::Circle)
        return QStringLiteral("круг радиусом %1").arg(distance(radius_));
    const double middle = (south_ + north_) / 2;
    const double across = metresBetween(west_, middle, west_ + width_ / 2, middle) * 2;
    const double high = metresBetween(west_, south_, west_, north_);
    return QStringLiteral("прямоугольник %1 × %2").arg(distance(across), distance(high));
}
