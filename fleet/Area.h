#pragma once

#include <QString>

// A place drawn on the map: a rectangle between two longitudes and two latitudes, or a circle of
// a radius in metres about a centre. A rectangle may cross the antimeridian: its longitudes run
// eastwards from `west` for `width` degrees, whatever side of ±180 they end on.
class Area {
public:
    enum class Shape { Rectangle, Circle };

    // From two opposite corners as drawn; longitudes need not be wrapped (170 to 190 crosses
    // ±180). Throws VantrelError for a rectangle without width or height.
    static Area rectangle(double lon1, double lat1, double lon2, double lat2);
    // Throws VantrelError for a radius that is not above zero.
    static Area circle(double lon, double lat, double radiusMetres);

    bool contains(double lon, double lat) const;
    Shape shape() const { return shape_; }
    // The rectangle: western edge (wrapped to -180…180), width eastwards, southern and northern
    // edges. The circle: centre and radius.
    double west() const { return west_; }
    double width() const { return width_; }
    double south() const { return south_; }
    double north() const { return north_; }
    double centreLon() const { return lon_; }
    double centreLat() const { return lat_; }
    double radius() const { return radius_; }
    // Great-circle distance in metres.
    static double metresBetween(double lon1, double lat1, double lon2, double lat2);
    // For people: «прямоугольник 1,2 × 0,8 км», «круг радиусом 350 м».
    QString description() const;

private:
    Shape shape_ = Shape::Rectangle;
    double west_ = 0, width_ = 0, south_ = 0, north_ = 0;
    double lon_ = 0, lat_ = 0, radius_ = 0;
    double latBand_ = 0; // the circle's radius in degrees of latitude, for a quick test
};
