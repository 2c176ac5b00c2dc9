#include "AreaVisits.h"

#include "VantrelError.h"

#include <algorithm>
#include <cmath>
#include <optional>

std::vector<AreaVisit> areaVisits(const Fleet& fleet, const Area& area, double from, double to,
                                  const vserver::CancelToken& cancel) {
    if (!(to > from))
        throw VantrelError(QStringLiteral("Конец промежутка должен быть позже его начала"));
    // To the millisecond, as moments are kept: a moment given as a date-time value is not lost
    // to the arithmetic's last digit.
    const auto seconds = [&fleet](double moment) {
        return std::round(fleet.secondsAt(moment) * 1000) / 1000;
    };
    const double first = seconds(from), last = seconds(to);
    std::vector<AreaVisit> visits;
    for (size_t v = 0; v < fleet.vehicles.size(); ++v) {
        cancel.check();
        const VehicleTrack& track = fleet.vehicles[v];
        std::optional<AreaVisit> open;
        const auto close = [&](size_t lastInside, bool atTo) {
            open->exit = fleet.momentAt(track.seconds(lastInside));
            open->insideAtTo = atTo;
            visits.push_back(*open);
            open.reset();
        };
        size_t i = track.firstAtOrAfter(first);
        for (; i < track.size() && track.seconds(i) <= last; ++i) {
            const bool inside = area.contains(track.lon(i), track.lat(i));
            if (inside && !open) {
                open = AreaVisit{v, fleet.momentAt(track.seconds(i)), 0, false, false};
                // Inside already at `from`: its position before it, if the vehicle was here then.
                if (i > 0 && first - track.seconds(i - 1) <= fleet.maxGap &&
                    track.seconds(i - 1) < first)
                    open->insideAtFrom = area.contains(track.lon(i - 1), track.lat(i - 1));
                else if (track.seconds(i) == first)
                    open->insideAtFrom = true;
            } else if (!inside && open) {
                close(i - 1, false);
            }
        }
        if (open) {
            // Inside at `to` as well when its next position, soon after, is inside too.
            const bool next =
                i < track.size() && track.seconds(i) - track.seconds(i - 1) <= fleet.maxGap;
            close(i - 1, (next && area.contains(track.lon(i), track.lat(i))) ||
                             track.seconds(i - 1) == last);
        }
    }
    std::stable_sort(visits.begin(), visits.end(), [](const AreaVisit& a, const AreaVisit& b) {
        return a.entry != b.entry ? a.entry < b.entry : a.vehicle < b.vehicle;
    });
    return visits;
}
