#include "VehicleTrack.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

// The course from one position to the next, on the plane tangent at the first: over the few
// metres between positions it is the sphere's own to a small fraction of a degree, for one
// arctangent instead of six trigonometric functions.
double bearing(double lon1, double lat1, double lon2, double lat2) {
    constexpr double rad = M_PI / 180;
    const double east = std::remainder(lon2 - lon1, 360.0) * std::cos(lat1 * rad);
    const double degrees = std::atan2(east, lat2 - lat1) / rad;
    return degrees < 0 ? degrees + 360 : degrees;
}

// The course turning the short way from a to b, by the fraction f.
double turn(double a, double b, double f) {
    const double d = std::remainder(b - a, 360.0);
    const double c = a + d * f;
    return c < 0 ? c + 360 : c >= 360 ? c - 360 : c;
}

} // namespace

void VehicleTrack::append(float seconds, double lon, double lat, double speed) {
    if (!seconds_.empty() && seconds < seconds_.back())
        ordered_ = false;
    seconds_.push_back(seconds);
    lon_.push_back(float(lon));
    lat_.push_back(float(lat));
    speed_.push_back(std::isnan(speed) ? 0.f : float(speed));
}

void VehicleTrack::finish() {
    if (!ordered_) {
        std::vector<size_t> order(seconds_.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [this](size_t a, size_t b) { return seconds_[a] < seconds_[b]; });
        const auto permute = [&order](std::vector<float>& values) {
            std::vector<float> sorted(values.size());
            for (size_t i = 0; i < order.size(); ++i)
                sorted[i] = values[order[i]];
            values.swap(sorted);
        };
        permute(seconds_), permute(lon_), permute(lat_), permute(speed_);
        ordered_ = true;
    }
    // One position a moment: a repeated time keeps its first position.
    size_t kept = 0;
    for (size_t i = 0; i < seconds_.size(); ++i) {
        if (kept > 0 && seconds_[i] == seconds_[kept - 1])
            continue;
        seconds_[kept] = seconds_[i], lon_[kept] = lon_[i], lat_[kept] = lat_[i],
        speed_[kept] = speed_[i];
        ++kept;
    }
    for (auto* values : {&seconds_, &lon_, &lat_, &speed_}) {
        values->resize(kept);
        values->shrink_to_fit();
    }
    // The course towards the next position; a standing vehicle keeps its last one.
    course_.assign(kept, 0.f);
    float last = 0;
    for (size_t i = 0; i < kept; ++i) {
        if (i + 1 < kept && (lon_[i + 1] != lon_[i] || lat_[i + 1] != lat_[i]))
            last = float(bearing(lon_[i], lat_[i], lon_[i + 1], lat_[i + 1]));
        course_[i] = last;
    }
}

size_t VehicleTrack::firstAtOrAfter(double seconds) const {
    return size_t(std::lower_bound(seconds_.begin(), seconds_.end(), float(seconds)) -
                  seconds_.begin());
}

VehicleTrack::Place VehicleTrack::at(double seconds, double maxGap) const {
    Place place;
    if (seconds_.empty() || seconds < seconds_.front())
        return place;
    const size_t after = size_t(std::upper_bound(seconds_.begin(), seconds_.end(), float(seconds)) -
                                seconds_.begin());
    const size_t i = after - 1;
    place.lon = lon_[i], place.lat = lat_[i], place.speed = speed_[i], place.course = course_[i];
    place.since = seconds_[i];
    if (after == seconds_.size() || seconds_[after] - seconds_[i] > maxGap) {
        place.presence = seconds == seconds_[i] ? Presence::Moving : Presence::Stale;
        if (place.presence == Presence::Stale)
            place.speed = 0;
        return place;
    }
    place.presence = Presence::Moving;
    const double f = (seconds - seconds_[i]) / (seconds_[after] - seconds_[i]);
    place.lon = lon_[i] + (double(lon_[after]) - lon_[i]) * f;
    place.lat = lat_[i] + (double(lat_[after]) - lat_[i]) * f;
    place.speed = speed_[i] + (double(speed_[after]) - speed_[i]) * f;
    place.course = turn(course_[i], course_[after], f);
    return place;
}

std::vector<QPointF> VehicleTrack::tail(double seconds, double span, int maxPoints,
                                        double maxGap) const {
    std::vector<QPointF> points;
    const Place head = at(seconds, maxGap);
    if (head.presence != Presence::Moving || maxPoints < 2)
        return points;
    const size_t end = size_t(std::upper_bound(seconds_.begin(), seconds_.end(), float(seconds)) -
                              seconds_.begin());
    size_t begin = firstAtOrAfter(seconds - span);
    // Only the part after the last long gap.
    for (size_t i = end - 1; i > begin; --i)
        if (seconds_[i] - seconds_[i - 1] > maxGap) {
            begin = i;
            break;
        }
    const size_t count = end - begin;
    const size_t step =
        std::max<size_t>(1, (count + size_t(maxPoints) - 2) / size_t(maxPoints - 1));
    points.reserve(count / step + 2);
    for (size_t i = begin; i < end; i += step)
        points.emplace_back(lon_[i], lat_[i]);
    points.emplace_back(head.lon, head.lat);
    return points;
}
