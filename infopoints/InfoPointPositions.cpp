#include "InfoPointPositions.h"

#include "EntryQuery.h"
#include "IVantrelAutomation.h"

void InfoPointPositions::load(IVantrelAutomation& server, const InfoPointDefinitions& definitions,
                              int trip) {
    positions.resize(definitions.size());
    counts.resize(definitions.size());
    server.SetTripIndex(trip);
    for (size_t kind = 1; kind < definitions.size(); ++kind) {
        if (!definitions[kind].VisibleIcon)
            continue;
        entryquery::SelectEntryQuery(server, definitions[kind].query);
        const int count = std::max(server.TripEntryCount(), 0);
        positions[kind].assign(count, TMapPointArray(1));
        counts[kind] = count;
        for (int f = 1; f <= count; ++f) {
            server.SetTripEntryIndex(f);
            positions[kind][f - 1][0] = {server.TripEntryCoordA(), server.TripEntryCoordB()};
        }
    }
}
