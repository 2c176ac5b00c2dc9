#pragma once

#include "TrackerPosition.h"

#include <QByteArrayView>
#include <QString>
#include <optional>

namespace trackers {

// What a phone's HTTP report decodes to: a position, or the reason it was refused.
struct OsmAndResult {
    std::optional<IdentifiedPosition> position;
    QString refusal; // Russian, short; empty when a position was decoded
};

// Decodes the phones' HTTP tracker protocol, without any socket: the query string of a GET, or
// a form or JSON body of a POST. Parameters: id or deviceid, lat, lon, timestamp (Unix seconds,
// Unix milliseconds or ISO 8601), optional speed (knots), bearing or heading, altitude, batt,
// valid. The JSON body: {"device_id", "location": {"timestamp", "coords": {"latitude",
// "longitude", "speed" (m/s), "heading", "altitude"}}}. A parameter given twice is refused.
// The position is not checked against the globe or the clock here (see PositionCheck).
class OsmAndDecoder {
public:
    static constexpr qsizetype kMaxRequestBytes = 64 * 1024;

    static OsmAndResult decode(QByteArrayView query, QByteArrayView contentType, QByteArrayView body);
    // Unix seconds, Unix milliseconds (from 10^11 on) or ISO 8601 (UTC unless an offset is given).
    static std::optional<qint64> parseTimestamp(QByteArrayView text);
};

} // namespace trackers
