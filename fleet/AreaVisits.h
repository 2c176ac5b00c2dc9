#pragma once

#include "Area.h"
#include "Fleet.h"
#include "ServerTypes.h"

#include <vector>

// Who was inside an area between two moments: one visit for each stay, from the vehicle's first
// position inside to its last before it left. A stay that had begun before `from` or lasts past
// `to` is cut there and says so.
struct AreaVisit {
    size_t vehicle = 0;         // index in the fleet's vehicles
    double entry = 0, exit = 0; // date-time values of the first and last position inside
    bool insideAtFrom = false, insideAtTo = false;
};

// Visits ordered by entry, then by vehicle. Throws VantrelError when `to` is not after `from`.
std::vector<AreaVisit> areaVisits(const Fleet& fleet, const Area& area, double from, double to,
                                  const vserver::CancelToken& cancel = {});
