#pragma once

#include "TripEvents.h"

#include <QStringList>

class MapLayers;
class PlayerSession;
struct WindowControls;

// The trip list and the info-point lists below the kind box, the kinds' icons on the map and
// the ribbon of the current trip's events under the track bar.
class InfoPointsController {
public:
    InfoPointsController(PlayerSession& session, WindowControls& ui, MapLayers& layers)
        : s(session), ui(ui), layers_(layers) {}

    // The kind box: the trip list first, then every kind whose list is shown.
    void FillInfoPointKinds();
    void FillTripList();
    void cmbInfoPointsChange();
    void ListView1Click();

    // The current trip's events for the ribbon under the track bar and, while the info-points
    // button is down, as icons of the kinds whose VisibleIcon is set.
    void loadTripEvents();
    void showEvents();
    // Playback to an event's beginning, as clicking its row in the kind's list does.
    void jumpToEvent(const TripEvent& event);
    // The event an icon of the map shows, by its record.
    void clickIcon(int record);

private:
    void addRow(const QStringList& columns, int serverIndex);
    void setValueCaption(const QString& caption);
    void clickTrip(int row);
    void clickEntry(int kind);
    void jumpToEntry(int kind, int serverEntry);

    PlayerSession& s;
    WindowControls& ui;
    MapLayers& layers_;
    std::vector<TripEvent> events_;
    std::vector<size_t> iconEvents_; // the event of each icon record
};
