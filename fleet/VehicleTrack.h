#pragma once

#include <QPointF>
#include <QString>
#include <vector>

// One vehicle's positions over the fleet's period, kept compact (20 bytes a position) so that a
// hundred vehicles' day at one-second sampling fits in memory: seconds from the period's
// beginning, longitude, latitude, speed (km/h) and course (degrees clockwise from north).
class VehicleTrack {
public:
    enum class Presence { BeforeFirst, Moving, Stale };
    // Where the vehicle is at a moment: interpolated between its positions, or, after its last
    // one or inside a gap longer than the fleet's limit, still at the last position it sent.
    struct Place {
        Presence presence = Presence::BeforeFirst;
        double lon = 0, lat = 0, speed = 0, course = 0;
        float since = 0; // seconds of the position it is at (the earlier one when interpolated)
    };

    QString name, number;
    int device = 0;

    // Adds a position; times must not decrease (equal times keep the first position).
    void append(float seconds, double lon, double lat, double speed);
    // Sorts positions added out of order and fills the courses; called once after appending.
    void finish();

    size_t size() const { return seconds_.size(); }
    bool empty() const { return seconds_.empty(); }
    float seconds(size_t i) const { return seconds_[i]; }
    double lon(size_t i) const { return lon_[i]; }
    double lat(size_t i) const { return lat_[i]; }
    double speed(size_t i) const { return speed_[i]; }
    double course(size_t i) const { return course_[i]; }

    // The place at `seconds`; a gap between positions longer than `maxGap` seconds counts as
    // having no position (shown at the last one).
    Place at(double seconds, double maxGap) const;
    // The index of the first position at or after `seconds`.
    size_t firstAtOrAfter(double seconds) const;
    // The way driven over (seconds − span, seconds], oldest first, at most `maxPoints` points
    // (every k-th kept), ending at the place of the moment; empty when there is none. A gap
    // longer than `maxGap` cuts the tail.
    std::vector<QPointF> tail(double seconds, double span, int maxPoints, double maxGap) const;

private:
    std::vector<float> seconds_, lon_, lat_, speed_, course_;
    bool ordered_ = true;
};
