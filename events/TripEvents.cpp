#include "TripEvents.h"

#include "DateTimeValue.h"
#include "EntryQuery.h"
#include "IVantrelAutomation.h"

#include <QLocale>
#include <cmath>

namespace {
// A hover text's value, as the trip sheet writes it: 112,7 rather than 112,676865642755.
QString oneDecimal(double value) { return QLocale().toString(value, 'f', 1); }
} // namespace

namespace tripevents {

std::vector<TripEvent> load(IVantrelAutomation& server, const InfoPointDefinitions& definitions, int trip,
                            const std::vector<bool>& wanted) {
    std::vector<TripEvent> events;
    server.SetTripIndex(trip);
    for (size_t index = 1; index < definitions.size(); ++index) {
        if (index >= wanted.size() || !wanted[index])
            continue;
        const QString& query = definitions[index].query;
        entryquery::SelectEntryQuery(server, query);
        const entryquery::ValueColumn column = entryquery::valueColumnFor(query);
        const int count = std::max(server.TripEntryCount(), 0);
        for (int entry = 1; entry <= count; ++entry) {
            server.SetTripEntryIndex(entry);
            TripEvent event;
            event.kind = int(index) + 1;
            event.entry = entry;
            event.beginText = server.TripEntryBegin();
            event.endText = server.TripEntryEnd();
            event.begin = datetime::parseText(event.beginText);
            event.end = datetime::parseText(event.endText);
            event.duration = server.TripEntryDuration();
            event.lon = server.TripEntryCoordA();
            event.lat = server.TripEntryCoordB();
            event.placed = std::isfinite(event.lon) && std::isfinite(event.lat) && std::abs(event.lat) <= 90 &&
                           std::abs(event.lon) <= 180 && (event.lon != 0 || event.lat != 0);
            switch (column) {
            case entryquery::ValueColumn::Speed:
                event.value = oneDecimal(server.TripEntrySpeed()) + QStringLiteral(" км/ч");
                break;
            case entryquery::ValueColumn::Tank1:
                event.value = oneDecimal(server.TripEntryTank1End() - server.TripEntryTank1Start()) +
                              QStringLiteral(" л");
                break;
            case entryquery::ValueColumn::Tank2:
                event.value = oneDecimal(server.TripEntryTank2End() - server.TripEntryTank2Start()) +
                              QStringLiteral(" л");
                break;
            case entryquery::ValueColumn::Duration:
                break;
            }
            events.push_back(std::move(event));
        }
    }
    return events;
}

bool onRibbon(const QString& query) {
    return query == QLatin1String("parks") || query == QLatin1String("blinds") || query == QLatin1String("power_off") ||
           query == QLatin1String("over_speed") || query.startsWith(QLatin1String("tank"));
}

QColor ribbonColour(const QString& query) {
    if (query == QLatin1String("parks"))
        return QColor(40, 110, 220);
    if (query == QLatin1String("blinds"))
        return QColor(140, 140, 140);
    if (query == QLatin1String("power_off"))
        return QColor(30, 30, 30);
    if (query == QLatin1String("over_speed"))
        return QColor(220, 30, 30);
    return QColor(0, 150, 70); // fuel
}

QString hoverText(const TripEvent& event, const InfoPointDefinitions& definitions) {
    const QString kind = event.kind >= 1 && size_t(event.kind) <= definitions.size()
                             ? definitions[size_t(event.kind - 1)].name
                             : QStringLiteral("Информационная точка");
    QString text = kind + QStringLiteral("\nНачало: ") + event.beginText + QStringLiteral("\nКонец: ") +
                   event.endText + QStringLiteral("\nДлительность: ") + event.duration;
    if (!event.value.isEmpty())
        text += QStringLiteral("\nЗначение: ") + event.value;
    return text;
}

} // namespace tripevents
