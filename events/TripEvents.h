#pragma once

#include "TInfoPoints.h"

#include <QColor>
#include <QString>
#include <vector>

class IVantrelAutomation;

// The info-point entries of one trip with what the map, the ribbon under the track bar and
// their hover texts show: kind, begin, end, duration, value and where it began.
struct TripEvent {
    int kind = 0;  // 1-based place of its definition
    int entry = 0; // the server's 1-based entry number within the kind
    double begin = 0, end = 0;
    QString beginText, endText, duration;
    QString value;  // the highest speed or the litres, where the kind has one
    double lon = 0, lat = 0;
    bool placed = false; // the server gave a position on the globe
};

namespace tripevents {

// Kinds 2 on (checkpoints, the first, have their own layers) for which `wanted` holds.
std::vector<TripEvent> load(IVantrelAutomation& server, const InfoPointDefinitions& definitions, int trip,
                            const std::vector<bool>& wanted);

// The kinds the ribbon under the track bar shows: stops, no signal, power off, over-speed, fuel.
bool onRibbon(const QString& query);
QColor ribbonColour(const QString& query);

// "Список остановок\nНачало: …\nКонец: …\nДлительность: …" and the value's line where there is one.
QString hoverText(const TripEvent& event, const InfoPointDefinitions& definitions);

} // namespace tripevents
