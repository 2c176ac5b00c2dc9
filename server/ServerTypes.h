#pragma once

#include <QString>
#include <atomic>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

namespace vserver {

constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

// One raw message of a tracking device.
struct Message {
    double time = 0;        // date-time value, local time of the installation
    double lon = 0, lat = 0; // degrees, WGS 84; meaningful only with signal
    double speed = kNoValue; // km/h as the device sent it; NaN when it sent none
    bool signal = true;      // the position is valid
    bool power = true;       // the device runs on the vehicle's power
    double fuel1 = kNoValue, fuel2 = kNoValue; // litres in tanks 1 and 2; NaN without a gauge
    int sensors = 0;         // bit k: sensor k + 1 is on
};

// Where a device was: a message with a valid position, reduced to what a map of many
// vehicles needs.
struct StoredPosition {
    double time = 0, lon = 0, lat = 0;
    double speed = kNoValue;
};

struct Checkpoint {
    QString name, note;
    double lat = 0, lon = 0;
    int radius = 0; // metres
};

struct Car {
    int id = 0;
    QString groupId, name, number;
    int device = 0;
    QString checkpointList;
};

struct Group {
    QString id, name;
};

// A tracker identifier (an IMEI, a phone app's id) registered for the car of a device number.
struct Tracker {
    QString ident;
    int device = 0;
};

// A message and the device that sent it, as live trackers' batches carry them.
struct DeviceMessage {
    int device = 0;
    Message message;
};

// One entry of a trip's list: a stop, a gap, an event.
struct Entry {
    double begin = 0, end = 0;
    double speed = 0;
    double tank1Start = 0, tank1End = 0, tank2Start = 0, tank2End = 0;
    double lon = 0, lat = 0; // where it begins
};

struct TrackPoint {
    double time, lon, lat, mileage, speed;
};

struct Trip {
    double begin = 0, end = 0;
    std::vector<TrackPoint> points;
    // Keyed "parks", "blinds", "power_off", "over_speed", "tank-num1", "tank-num2",
    // "sensor_on-num1"…"sensor_on-num6", "checkpoints-stages".
    std::map<QString, std::vector<Entry>> entries;
};

// Thrown by long work whose result is no longer wanted.
struct Cancelled : std::runtime_error {
    Cancelled() : std::runtime_error("cancelled") {}
};

// Whether a piece of long work is still wanted: a newer request, or the server's end, moves the
// latest generation on, and the work stops at its next check. A default token never cancels.
class CancelToken {
public:
    CancelToken() = default;
    CancelToken(std::shared_ptr<const std::atomic<quint64>> latest, quint64 mine)
        : latest_(std::move(latest)), mine_(mine) {}
    bool cancelled() const { return latest_ && latest_->load(std::memory_order_relaxed) != mine_; }
    void check() const {
        if (cancelled())
            throw Cancelled();
    }

private:
    std::shared_ptr<const std::atomic<quint64>> latest_;
    quint64 mine_ = 0;
};

struct Result {
    QString groupId;
    int carId = 0;
    std::vector<Trip> trips;
};

} // namespace vserver
