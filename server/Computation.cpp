#include "Computation.h"

#include "LargePages.h"

#include <QStringList>
#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <numbers>
#include <optional>
#include <thread>

namespace vserver {
namespace {

constexpr double kDay = 86400.0;

struct Position {
    size_t message; // index into the messages
    double time, lon, lat, speed, mileage;
};

struct Span {
    size_t first, last; // inclusive indexes
};

// Maximal runs of consecutive indexes in [from, to] for which `inside` holds.
template <typename Predicate> std::vector<Span> runs(size_t from, size_t to, Predicate inside) {
    std::vector<Span> result;
    for (size_t i = from; i <= to && to != size_t(-1); ++i) {
        if (!inside(i))
            continue;
        size_t j = i;
        while (j + 1 <= to && inside(j + 1))
            ++j;
        result.push_back({i, j});
        i = j;
    }
    return result;
}

// The places a vehicle could have been at, message by message, fed in time order: fixes with a
// signal, with the mileage driven to each; a GPS jump is kept for the trail at the last plausible
// speed and mileage.
class PositionTrail {
public:
    explicit PositionTrail(const Rules& rules) : rules_(rules) {}

    void add(const Message* messages, size_t from, size_t to, const CancelToken& cancel) {
        for (size_t m = from; m < to; ++m) {
            if (m % 65536 == 0)
                cancel.check();
            add(messages[m], m);
        }
    }
    std::vector<Position>& positions() { return positions_; }

private:
    void add(const Message& message, size_t m) {
        if (!message.signal || !std::isfinite(message.lon) || !std::isfinite(message.lat))
            return;
        double speed = message.speed;
        if (!last_) {
            if (!std::isfinite(speed) || speed < 0)
                speed = 0;
            positions_.push_back({m, message.time, message.lon, message.lat, speed, mileage_});
            last_ = positions_.size() - 1;
            return;
        }
        const Position plausible = positions_[*last_];
        const double metres =
            distanceMetres(plausible.lon, plausible.lat, message.lon, message.lat);
        const double seconds = (message.time - plausible.time) * kDay;
        if (metres > (seconds > 0 ? rules_.jumpSpeed / 3.6 * seconds : 0) && metres > 1) {
            // Out of reach: kept for the trail, at the last plausible speed and mileage. Jumps that
            // agree with the one before are where the vehicle is after all, from the last of them.
            const Position& before = positions_.back();
            const double hop = distanceMetres(before.lon, before.lat, message.lon, message.lat);
            const double hopSeconds = (message.time - before.time) * kDay;
            agreeingJumps_ =
                hop <= rules_.jumpSpeed / 3.6 * std::max(hopSeconds, 0.0) ? agreeingJumps_ + 1 : 1;
            positions_.push_back(
                {m, message.time, message.lon, message.lat, plausible.speed, mileage_});
            if (agreeingJumps_ >= size_t(std::max(rules_.jumpsToMoveOn, 1))) {
                agreeingJumps_ = 0;
                last_ = positions_.size() - 1;
            }
            return;
        }
        agreeingJumps_ = 0;
        mileage_ += metres;
        if (!std::isfinite(speed) || speed < 0)
            speed = seconds > 0 ? metres / seconds * 3.6 : plausible.speed;
        speed = std::min(speed, rules_.jumpSpeed); // a device's own speed is bounded the same way
        positions_.push_back({m, message.time, message.lon, message.lat, speed, mileage_});
        last_ = positions_.size() - 1;
    }

    const Rules& rules_;
    std::vector<Position> positions_;
    double mileage_ = 0;
    std::optional<size_t> last_; // the last position the vehicle could have driven to
    size_t agreeingJumps_ = 0;
};

class TripBuilder {
public:
    TripBuilder(const std::vector<Message>& messages, const std::vector<Position>& positions,
                const std::vector<Checkpoint>& checkpoints, const Rules& rules)
        : messages_(messages), positions_(positions), checkpoints_(checkpoints), rules_(rules) {}

    Trip build(size_t first, size_t last, const CancelToken& cancel) const {
        Trip trip;
        trip.begin = positions_[first].time;
        trip.end = positions_[last].time;
        largepages::reserve(trip.points, last - first + 1);
        for (size_t p = first; p <= last; ++p) {
            const Position& q = positions_[p];
            trip.points.push_back({q.time, q.lon, q.lat, q.mileage, q.speed});
        }
        // The trip's messages: every message from its first to its last position.
        // A trip of years is many passes over millions of points: a newer request stops it
        // between them.
        const size_t m0 = positions_[first].message, m1 = positions_[last].message;
        cancel.check();
        addStops(trip, first, last);
        addBlinds(trip, first, last);
        addOverSpeed(trip, first, last);
        cancel.check();
        addPowerOff(trip, m0, m1);
        addFuel(trip, m0, m1, 1);
        addFuel(trip, m0, m1, 2);
        cancel.check();
        for (int sensor = 1; sensor <= 6; ++sensor)
            addSensor(trip, m0, m1, sensor);
        cancel.check();
        addCheckpoints(trip, first, last);
        return trip;
    }

private:
    Entry entryAt(double begin, double end) const {
        Entry entry;
        entry.begin = begin;
        entry.end = end;
        const Position& where = positionAt(begin);
        entry.lon = where.lon;
        entry.lat = where.lat;
        return entry;
    }

    // The last position at or before a time (the first one before any).
    const Position& positionAt(double time) const {
        auto after = std::upper_bound(positions_.begin(), positions_.end(), time,
                                      [](double t, const Position& p) { return t < p.time; });
        return after == positions_.begin() ? positions_.front() : *(after - 1);
    }

    bool standing(size_t p) const { return positions_[p].speed <= rules_.stopSpeed; }

    void addStops(Trip& trip, size_t first, size_t last) const {
        auto& list = trip.entries[QStringLiteral("parks")];
        for (const Span& run : runs(first, last, [&](size_t p) { return standing(p); })) {
            const double begin = positions_[run.first].time;
            const double end = run.last < last ? positions_[run.last + 1].time : positions_[run.last].time;
            if ((end - begin) * kDay >= rules_.stopSeconds)
                list.push_back(entryAt(begin, end));
        }
    }

    void addBlinds(Trip& trip, size_t first, size_t last) const {
        auto& list = trip.entries[QStringLiteral("blinds")];
        for (size_t p = first; p < last; ++p)
            if ((positions_[p + 1].time - positions_[p].time) * kDay > rules_.blindSeconds)
                list.push_back(entryAt(positions_[p].time, positions_[p + 1].time));
    }

    void addOverSpeed(Trip& trip, size_t first, size_t last) const {
        auto& list = trip.entries[QStringLiteral("over_speed")];
        for (const Span& run :
             runs(first, last, [&](size_t p) { return positions_[p].speed > rules_.speedLimit; })) {
            const double end = run.last < last ? positions_[run.last + 1].time : positions_[run.last].time;
            Entry entry = entryAt(positions_[run.first].time, end);
            for (size_t p = run.first; p <= run.last; ++p)
                entry.speed = std::max(entry.speed, positions_[p].speed);
            list.push_back(entry);
        }
    }

    template <typename Predicate>
    void addMessageRuns(std::vector<Entry>& list, size_t m0, size_t m1, Predicate on) const {
        for (const Span& run : runs(m0, m1, on)) {
            const double end = run.last < m1 ? messages_[run.last + 1].time : messages_[run.last].time;
            list.push_back(entryAt(messages_[run.first].time, end));
        }
    }

    void addPowerOff(Trip& trip, size_t m0, size_t m1) const {
        addMessageRuns(trip.entries[QStringLiteral("power_off")], m0, m1,
                       [&](size_t m) { return !messages_[m].power; });
    }

    void addSensor(Trip& trip, size_t m0, size_t m1, int sensor) const {
        addMessageRuns(trip.entries[QStringLiteral("sensor_on-num%1").arg(sensor)], m0, m1,
                       [&](size_t m) { return (messages_[m].sensors >> (sensor - 1)) & 1; });
    }

    void addFuel(Trip& trip, size_t m0, size_t m1, int tank) const {
        auto& list = trip.entries[QStringLiteral("tank-num%1").arg(tank)];
        const auto level = [&](size_t m) { return tank == 1 ? messages_[m].fuel1 : messages_[m].fuel2; };
        std::vector<size_t> samples;
        for (size_t m = m0; m <= m1; ++m)
            if (std::isfinite(level(m)))
                samples.push_back(m);
        const auto fill = [&](Entry& entry, size_t a, size_t b) {
            const auto value = [](double v) { return std::isfinite(v) ? v : 0.0; };
            entry.tank1Start = value(messages_[a].fuel1);
            entry.tank1End = value(messages_[b].fuel1);
            entry.tank2Start = value(messages_[a].fuel2);
            entry.tank2End = value(messages_[b].fuel2);
        };
        for (size_t i = 1; i < samples.size(); ++i) {
            const double step = level(samples[i]) - level(samples[i - 1]);
            if (std::abs(step) < rules_.fuelStepLitres)
                continue;
            const double sign = step > 0 ? 1 : -1;
            size_t j = i;
            while (j + 1 < samples.size()) {
                const double next = level(samples[j + 1]) - level(samples[j]);
                if (next * sign < rules_.fuelStepLitres)
                    break;
                ++j;
            }
            const size_t a = samples[i - 1], b = samples[j];
            if (std::abs(level(b) - level(a)) >= rules_.fuelEventLitres) {
                Entry entry = entryAt(messages_[a].time, messages_[b].time);
                fill(entry, a, b);
                list.push_back(entry);
            }
            i = j;
        }
    }

    void addCheckpoints(Trip& trip, size_t first, size_t last) const {
        auto& list = trip.entries[QStringLiteral("checkpoints-stages")];
        for (const Checkpoint& checkpoint : checkpoints_) {
            const auto inside = [&](size_t p) {
                return distanceMetres(positions_[p].lon, positions_[p].lat, checkpoint.lon,
                                      checkpoint.lat) <= checkpoint.radius;
            };
            for (const Span& run : runs(first, last, inside)) {
                const double end = run.last < last ? positions_[run.last + 1].time : positions_[run.last].time;
                list.push_back(entryAt(positions_[run.first].time, end));
            }
        }
        std::stable_sort(list.begin(), list.end(),
                         [](const Entry& a, const Entry& b) { return a.begin < b.begin; });
    }

    const std::vector<Message>& messages_;
    const std::vector<Position>& positions_;
    const std::vector<Checkpoint>& checkpoints_;
    const Rules& rules_;
};

} // namespace

double distanceMetres(double lon1, double lat1, double lon2, double lat2) {
    constexpr double kEarthRadius = 6371008.8;
    const double toRad = std::numbers::pi / 180;
    const double dLat = (lat2 - lat1) * toRad, dLon = (lon2 - lon1) * toRad;
    const double a = std::sin(dLat / 2) * std::sin(dLat / 2) +
                     std::cos(lat1 * toRad) * std::cos(lat2 * toRad) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2 * kEarthRadius * std::asin(std::min(1.0, std::sqrt(a)));
}

QString durationText(double days) {
    const long long total = std::llround(std::max(days, 0.0) * kDay);
    const long long d = total / 86400, h = total % 86400 / 3600, m = total % 3600 / 60, s = total % 60;
    const auto two = [](long long n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    const QString time = two(h) + QLatin1Char(':') + two(m) + QLatin1Char(':') + two(s);
    return d > 0 ? QString::number(d) + QLatin1Char(' ') + time : time;
}

QString trackLine(const std::vector<TrackPoint>& points) {
    // std::to_chars writes "." whatever the process's locale; printf would follow LC_NUMERIC.
    std::string line;
    line.reserve(points.size() * 36);
    char buffer[32];
    const auto append = [&](double value) {
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, value,
                                       std::chars_format::general, 15).ptr;
        line.append(buffer, end);
    };
    for (size_t i = 0; i < points.size(); ++i) {
        if (i)
            line += ',';
        append(points[i].lon);
        line += ' ';
        append(points[i].lat);
    }
    return QString::fromLatin1(line.data(), qsizetype(line.size()));
}

namespace {

// The trips between the parkings along a trail of positions.
std::vector<Trip> tripsAlong(const std::vector<Message>& messages,
                             const std::vector<Position>& positions,
                             const std::vector<Checkpoint>& checkpoints, const Rules& rules,
                             const CancelToken& cancel) {
    if (positions.size() < 2)
        return {};

    // Parkings: long standstills, and long silences over which the vehicle hardly moved.
    std::vector<Span> parkings;
    const auto standing = [&](size_t p) { return positions[p].speed <= rules.stopSpeed; };
    for (const Span& run : runs(0, positions.size() - 1, standing))
        if ((positions[run.last].time - positions[run.first].time) * kDay >= rules.parkingSeconds)
            parkings.push_back(run);
    for (size_t p = 1; p < positions.size(); ++p) {
        const Position &a = positions[p - 1], &b = positions[p];
        const double silence = (b.time - a.time) * kDay;
        if ((silence >= rules.parkingSeconds && distanceMetres(a.lon, a.lat, b.lon, b.lat) < rules.gapMoveMetres) ||
            silence >= rules.longSilenceSeconds)
            parkings.push_back({p - 1, p});
    }
    cancel.check();
    std::sort(parkings.begin(), parkings.end(),
              [](const Span& a, const Span& b) { return a.first < b.first; });
    std::vector<Span> merged;
    for (const Span& parking : parkings) {
        if (!merged.empty() && parking.first <= merged.back().last)
            merged.back().last = std::max(merged.back().last, parking.last);
        else
            merged.push_back(parking);
    }

    // The spans between parkings in which the vehicle moved are trips, built by two threads.
    std::vector<Span> spans;
    const auto addSpan = [&](size_t first, size_t last) {
        if (last <= first)
            return;
        for (size_t p = first; p <= last; ++p)
            if (!standing(p)) {
                spans.push_back({first, last});
                return;
            }
    };
    size_t start = 0;
    for (const Span& parking : merged) {
        addSpan(start, parking.first);
        start = parking.last;
    }
    addSpan(start, positions.size() - 1);

    const TripBuilder builder(messages, positions, checkpoints, rules);
    std::vector<Trip> trips(spans.size());
    std::atomic<size_t> next = 0;
    const auto build = [&] {
        for (size_t i = next++; i < spans.size(); i = next++) {
            cancel.check();
            trips[i] = builder.build(spans[i].first, spans[i].last, cancel);
        }
    };
    std::exception_ptr helperFailed;
    {
        std::jthread helper([&] {
            try {
                build();
            } catch (...) {
                helperFailed = std::current_exception();
                next = spans.size(); // the other thread stops too
            }
        });
        try {
            build();
        } catch (...) {
            next = spans.size();
            throw; // the helper is joined on the way out
        }
    }
    if (helperFailed)
        std::rethrow_exception(helperFailed);
    return trips;
}

bool earlier(const Message& a, const Message& b) {
    return a.time < b.time;
}

} // namespace

std::vector<Trip> computeTrips(std::vector<Message> messages,
                               const std::vector<Checkpoint>& checkpoints, const Rules& rules,
                               const CancelToken& cancel) {
    if (!std::is_sorted(messages.begin(), messages.end(), earlier)) // the store's are in order
        std::stable_sort(messages.begin(), messages.end(), earlier);
    PositionTrail trail(rules);
    largepages::reserve(trail.positions(), messages.size());
    trail.add(messages.data(), 0, messages.size(), cancel);
    return tripsAlong(messages, trail.positions(), checkpoints, rules, cancel);
}

std::vector<Trip> computeTripsWhileReading(const ReadMessages& read,
                                           const std::vector<Checkpoint>& checkpoints,
                                           const Rules& rules, const CancelToken& cancel) {
    // What the reading has put in place so far, for the thread that follows it. The follower
    // touches only the elements said to be in place, through the pointer, never the vector.
    struct Progress {
        std::mutex mutex;
        std::condition_variable changed;
        const Message* data = nullptr;
        size_t ready = 0, total = 0;
        bool over = false;
    } progress;
    PositionTrail trail(rules);
    std::exception_ptr followerFailed;
    std::jthread follower([&] {
        try {
            size_t done = 0;
            for (;;) {
                std::unique_lock lock(progress.mutex);
                progress.changed.wait(lock, [&] { return progress.ready > done || progress.over; });
                const Message* data = progress.data;
                const size_t ready = progress.ready, total = progress.total;
                lock.unlock();
                if (ready == done)
                    break;
                if (done == 0)
                    largepages::reserve(trail.positions(), total);
                trail.add(data, done, ready, cancel);
                done = ready;
            }
        } catch (...) {
            followerFailed = std::current_exception();
        }
    });
    const auto over = [&] {
        const std::lock_guard lock(progress.mutex);
        progress.over = true;
        progress.changed.notify_one();
    };
    std::vector<Message> messages;
    try {
        read(messages, [&](size_t ready) {
            const std::lock_guard lock(progress.mutex);
            progress.data = messages.data();
            progress.total = messages.size();
            progress.ready = ready;
            progress.changed.notify_one();
        });
    } catch (...) {
        over();
        follower.join();
        throw;
    }
    over();
    follower.join();
    if (followerFailed)
        std::rethrow_exception(followerFailed);
    if (!std::is_sorted(messages.begin(), messages.end(), earlier)) // followed in the wrong order
        return computeTrips(std::move(messages), checkpoints, rules, cancel);
    return tripsAlong(messages, trail.positions(), checkpoints, rules, cancel);
}

} // namespace vserver
