#include "FleetReplay.h"

#include "DateTimeValue.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

const std::vector<int>& FleetReplay::speeds() {
    static const std::vector<int> factors{600, 300, 100, 60, 30, 10, 6, 3, 1};
    return factors;
}

void FleetReplay::setFleet(std::shared_ptr<const Fleet> fleet) {
    fleet_ = std::move(fleet);
    playing_ = false;
    seconds_ = 0;
}

void FleetReplay::play() {
    if (!fleet_ || playing_)
        return;
    if (seconds_ >= length())
        seconds_ = 0;
    playing_ = true;
    clock_.rebase(seconds_ / 86400.0);
}

void FleetReplay::pause() {
    tick();
    playing_ = false;
}

void FleetReplay::stop() {
    playing_ = false;
    seconds_ = 0;
}

void FleetReplay::seekSeconds(double seconds) {
    seconds_ = std::clamp(std::isfinite(seconds) ? seconds : 0.0, 0.0, length());
    clock_.rebase(seconds_ / 86400.0);
}

void FleetReplay::setSpeed(int factor) {
    tick();
    clock_.PlaySpeed = std::max(1, factor);
    clock_.rebase(seconds_ / 86400.0);
}

bool FleetReplay::tick() {
    if (!playing_ || !fleet_)
        return false;
    const double before = seconds_;
    seconds_ = std::min(clock_.advance() * 86400.0, length());
    if (seconds_ >= length())
        playing_ = false;
    return seconds_ != before;
}

QString FleetReplay::speedText(const VehicleTrack::Place& place) const {
    if (place.presence != VehicleTrack::Presence::Moving)
        return QStringLiteral("—");
    return QLocale().toString(place.speed, 'f', 0) + QStringLiteral(" км/ч");
}

QString FleetReplay::placeText(const VehicleTrack::Place& place) const {
    if (place.presence == VehicleTrack::Presence::BeforeFirst)
        return QStringLiteral("ещё нет позиций");
    const QString where = QStringLiteral("%1, %2").arg(QLocale().toString(place.lat, 'f', 5),
                                                       QLocale().toString(place.lon, 'f', 5));
    if (place.presence == VehicleTrack::Presence::Moving || !fleet_)
        return where;
    return QStringLiteral("%1 (молчит с %2)")
        .arg(where, datetime::formatLabel(fleet_->momentAt(place.since)));
}
