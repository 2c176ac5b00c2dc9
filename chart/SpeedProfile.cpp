#include "SpeedProfile.h"

#include <algorithm>
#include <cmath>

namespace speedprofile {

double TimeAxis::xAt(double time) const {
    if (end <= begin)
        return x0;
    return x0 + (x1 - x0) * (time - begin) / (end - begin);
}

double TimeAxis::timeAt(double x) const {
    if (x1 <= x0)
        return begin;
    return begin + (end - begin) * std::clamp((x - x0) / (x1 - x0), 0.0, 1.0);
}

std::vector<Column> columns(const std::vector<double>& times, const std::vector<double>& speeds,
                            const TimeAxis& axis) {
    const int width = std::max(0, int(std::ceil(axis.x1 - axis.x0)));
    std::vector<Column> result(size_t(width) + 1);
    const size_t n = std::min(times.size(), speeds.size());
    for (size_t i = 0; i < n; ++i) {
        if (!std::isfinite(speeds[i]))
            continue;
        const int column = std::clamp(int(axis.xAt(times[i]) - axis.x0), 0, width);
        Column& c = result[size_t(column)];
        c.low = c.empty ? speeds[i] : std::min(c.low, speeds[i]);
        c.high = c.empty ? speeds[i] : std::max(c.high, speeds[i]);
        if (c.empty)
            c.first = speeds[i];
        c.last = speeds[i];
        c.empty = false;
    }
    return result;
}

double scaleTop(double highest) {
    if (!(highest > 0))
        return 10;
    const double power = std::pow(10.0, std::floor(std::log10(highest)));
    for (const double step : {1.0, 2.0, 5.0, 10.0})
        if (power * step >= highest)
            return power * step;
    return power * 10;
}

} // namespace speedprofile
