#pragma once

#include "TrackerPosition.h"

#include <QString>

namespace trackers {

// Why a decoded position must not be stored, or an empty text when it may: coordinates off the
// globe, a time before 2000 (a tracker whose clock was never set) or more than a day ahead of
// `nowMs`. Buffered positions of days or years ago are stored as sent.
QString refusalOf(const TrackerPosition& position, qint64 nowMs);

// The stored message of a checked position: local wall-clock time, km/h, fix as signal.
vserver::Message toMessage(const TrackerPosition& position);

} // namespace trackers
