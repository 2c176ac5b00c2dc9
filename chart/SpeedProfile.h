#pragma once

#include <vector>

// The speed of a trip over its time, reduced to what a chart of a given width can show: for
// each pixel column the lowest and highest speed of the points in it, so that a million points
// draw as fast as a thousand and no peak is lost.
namespace speedprofile {

struct Column {
    double low = 0, high = 0;
    double first = 0, last = 0; // the speeds of its first and last point, to join the columns
    bool empty = true; // no point falls in this column
};

// Maps track time (days) to chart x (pixels) and back over [x0, x1].
struct TimeAxis {
    double begin = 0, end = 0; // track time of the first and last point
    double x0 = 0, x1 = 1;
    double xAt(double time) const;
    double timeAt(double x) const; // clamped to the trip
};

// `times` and `speeds` of the points in order; one column per pixel of the axis.
std::vector<Column> columns(const std::vector<double>& times, const std::vector<double>& speeds,
                            const TimeAxis& axis);

// A round top for the speed scale, at least `highest`: 10, 20, 50, 100… km/h steps.
double scaleTop(double highest);

} // namespace speedprofile
