#pragma once

#include "TInfoPoints.h"
#include "TrackStore.h"

class IVantrelAutomation;

// Where each kind's entries of the current trip begin: per definition, one single-point
// array per server entry, and the entry count.
struct InfoPointPositions {
    TMapPointArrayss positions;
    std::vector<int> counts;

    // Rebuilds the kinds from 2 on whose VisibleIcon is set; the others keep what they held.
    void load(IVantrelAutomation& server, const InfoPointDefinitions& definitions, int trip);
};
