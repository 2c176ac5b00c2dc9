#pragma once

#include "TripEvents.h"

#include <QStringList>

class TForm1;

// The trip list and the info-point lists below the kind box, the stop list of the chosen trip
// and the entry positions of each kind.
class InfoPointsController {
public:
    explicit InfoPointsController(TForm1& form) : f(form) {}

    void FillTripList();
    void cmbInfoPointsChange();
    void ListView1Click();
    void LoadInfoPointPositions();

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
    void jumpToEntry(int serverEntry);
    void loadStopList();

    TForm1& f;
    std::vector<TripEvent> events_;
    std::vector<size_t> iconEvents_; // the event of each icon record
};
