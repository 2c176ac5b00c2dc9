#include "CheckpointShapes.h"

#include "FloatToMapStr.h"

#include <cmath>
#include <numbers>

QString checkpointCircle(double longitude, double latitude, int radiusMetres) {
    // Metres per degree along a meridian of a sphere whose half circumference is 20015159 m.
    const double radiusDegrees = radiusMetres * 180.0 / 20015159.0526516;
    const double latitudeFactor = std::cos(latitude * std::numbers::pi / 180.0);
    QString text;
    text.reserve(31 * 32);
    for (int k = 0; k <= 30; ++k) {
        const double theta = k * 12 * std::numbers::pi / 180.0;
        const double x = longitude + radiusDegrees * std::cos(theta) / latitudeFactor;
        const double y = latitude + radiusDegrees * std::sin(theta);
        text += FloatToMapStr(x) + QLatin1Char(' ') + FloatToMapStr(y) + QLatin1Char(',');
    }
    text.chop(1);
    return text;
}
