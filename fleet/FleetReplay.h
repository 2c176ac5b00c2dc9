#pragma once

#include "Fleet.h"
#include "PlaybackClock.h"

#include <memory>

// The fleet's one clock: every vehicle is shown at the same moment, which runs with the wall
// clock at the player's factors (600x … 1x), pauses, stops back at the beginning, and jumps to
// any moment of the period. Stop skipping is off: the whole period plays.
class FleetReplay {
public:
    explicit FleetReplay(PlaybackClock::Now now) : clock_(std::move(now)) {
        clock_.PlaySpeed = speeds().front();
    }

    static const std::vector<int>& speeds();

    void setFleet(std::shared_ptr<const Fleet> fleet);
    const Fleet* fleet() const { return fleet_.get(); }
    std::shared_ptr<const Fleet> sharedFleet() const { return fleet_; }

    // Seconds from the period's beginning, and the same as a date-time value.
    double seconds() const { return seconds_; }
    double moment() const { return fleet_ ? fleet_->momentAt(seconds_) : 0; }
    double length() const { return fleet_ ? (fleet_->end - fleet_->begin) * 86400.0 : 0; }

    bool playing() const { return playing_; }
    int speed() const { return clock_.PlaySpeed; }
    void play();
    void pause();
    // Pauses back at the period's beginning.
    void stop();
    // To a moment of the period (clamped to it); playing goes on from there.
    void seekSeconds(double seconds);
    void seekMoment(double moment) { seekSeconds(fleet_ ? fleet_->secondsAt(moment) : 0); }
    void setSpeed(int factor);
    // Reads the wall clock while playing; at the period's end it pauses there. True when the
    // moment moved.
    bool tick();

    // What the list says of a vehicle at the current moment: its speed and where it is, or since
    // when it is silent, or that it has not yet been heard.
    QString speedText(const VehicleTrack::Place& place) const;
    QString placeText(const VehicleTrack::Place& place) const;

private:
    std::shared_ptr<const Fleet> fleet_;
    PlaybackClock clock_;
    double seconds_ = 0;
    bool playing_ = false;
};
