#pragma once

// Whether the window follows a vehicle live: when its trackers report new positions and the
// period on screen reaches the present, the trips are computed again, at most once a second
// and never over a request still unanswered. Off by default: the window then does only what
// it always did on new positions.
class LiveFollow {
public:
    bool enabled() const { return enabled_; }
    void setEnabled(bool on) { enabled_ = on; }

    // New positions arrived at `now` (date-time values, as `periodEnd`).
    bool wantsRecompute(double periodEnd, double now, bool vehicleChosen,
                        bool requestPending) const {
        constexpr double kSecond = 1.0 / 86400;
        return enabled_ && vehicleChosen && !requestPending && periodEnd >= now - kSecond &&
               now - lastRequest_ >= kSecond;
    }
    void requested(double now) { lastRequest_ = now; }

private:
    bool enabled_ = false;
    double lastRequest_ = -1e9;
};
