#pragma once

#include "ServerTypes.h"

#include <QString>
#include <functional>

namespace vserver {

// The thresholds of the computation; the README's "Trip computation" section explains them.
struct Rules {
    double stopSpeed = 3;        // km/h: at or below, the vehicle stands
    double parkingSeconds = 600; // a standstill (or a silent gap) this long ends a trip
    double gapMoveMetres = 200;  // a silent gap over which the vehicle moved less is a standstill
    double longSilenceSeconds = 3600; // a silence this long ends a trip wherever the vehicle went
    double stopSeconds = 120;    // a standstill this long inside a trip is a stop
    double blindSeconds = 60;    // messages further apart than this leave a period without signal
    double speedLimit = 90;      // km/h
    // A position reached from the last plausible one faster than this is a GPS jump: drawn on
    // the trail, but no part of the mileage, the speeds or over-speeding.
    double jumpSpeed = 250;     // km/h
    int jumpsToMoveOn = 3;      // this many jumps that agree with each other are where it really is
    double fuelStepLitres = 0.5; // a change this fast between two messages is no consumption
    double fuelEventLitres = 5;  // the least refuelling or draining reported
};

// Computes trips, tracks and entries from a device's messages over a period; messages out of
// time order are sorted first. Throws Cancelled when `cancel` says the result is not wanted.
std::vector<Trip> computeTrips(std::vector<Message> messages, const std::vector<Checkpoint>& checkpoints,
                               const Rules& rules = {}, const CancelToken& cancel = {});

// Fills `messages` with a device's messages in time order, sizing the vector once before the first
// call of `ready(n)`, which says the first n are in place; the vector is not reallocated after it.
using ReadMessages =
    std::function<void(std::vector<Message>& messages, const std::function<void(size_t)>& ready)>;

// As computeTrips, over messages that `read` delivers on the calling thread while a second thread
// works out the positions along those already in place: reading and computing overlap.
std::vector<Trip> computeTripsWhileReading(const ReadMessages& read,
                                           const std::vector<Checkpoint>& checkpoints,
                                           const Rules& rules = {}, const CancelToken& cancel = {});

// Distance in metres between two points in degrees (haversine on the mean earth radius).
double distanceMetres(double lon1, double lat1, double lon2, double lat2);

// "hh:mm:ss" under a day; from one day on "d hh:mm:ss".
QString durationText(double days);

// "lon lat,lon lat,…" with at most 15 significant digits.
QString trackLine(const std::vector<TrackPoint>& points);

} // namespace vserver
