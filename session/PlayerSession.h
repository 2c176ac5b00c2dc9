#pragma once

#include "InfoPointPositions.h"
#include "Notifier.h"
#include "PlaybackClock.h"
#include "SelectionState.h"
#include "TInfoPoints.h"
#include "TStops.h"
#include "TrackStore.h"
#include "TripEvents.h"

#include <QObject>
#include <QStringList>
#include <functional>
#include <optional>

class IVantrelAutomation;

// The player's state in one place, without a widget: the tracking server's client and the
// cursor-style state it keeps for the player (selected group, kind, trip, entry, the current
// computation), the selection, the loaded track, the playback clock, the stops and the info-point
// definitions. Every read of the server goes through here and sets what it reads right before it
// reads it, so that no part finds the server's cursors where another part left them.
//
// The window's areas observe it: the trip list follows `resultReady`, the map, the chart and the
// track bar follow `trackLoaded`, the marker and the chart follow `positionChanged`.
class PlayerSession : public QObject {
    Q_OBJECT
public:
    explicit PlayerSession(PlaybackClock::Now now, QObject* parent = nullptr);
    ~PlayerSession() override;

    // Takes the server's client (owned elsewhere) and listens to its events; null forgets it.
    void attach(IVantrelAutomation* server);
    bool hasServer() const { return server_ != nullptr; }
    // The client, for the few reads that have no entry cursor (groups, cars, checkpoints, trails).
    // Throws when there is none.
    IVantrelAutomation& server();

    struct Car {
        QString name, number;
        int device = 0;
    };
    struct Row {
        int serverIndex = 0; // the server's 1-based trip or entry number
        QString begin, end, duration;
        double speed = 0, tank1 = 0, tank2 = 0; // speed; litres gained (end − start) per tank
    };
    struct Period {
        double begin = 0, end = 0;
    };

    // Group names; their ids go to `selection.GroupIds`.
    QStringList loadGroups();
    std::vector<Car> carsOf(const QString& groupId);
    void selectGroup(const QString& groupId);
    // A computation started elsewhere: its group made current, "Group_Name" asked for; then its
    // car made current and "Car_Device" asked for. Each answer is read by `propertyValue`.
    void selectComputedGroup();
    void selectComputedCar();
    QString propertyValue();
    // The store the server computes on ("Store_Path"); empty when the server does not say.
    QString storePath();
    // Asks for the track of a vehicle over a period; the answer comes as `resultReady`.
    void requestTrack(const QString& groupId, int device, double begin, double end);
    // The period of the result on screen when it was the player's own request.
    std::optional<Period> computedPeriod() const { return computedPeriod_; }

    int computeStatus();
    int tripCount();
    std::vector<Row> trips();
    // The entries of a trip for a kind's query ("parks", "tank-num1"…), read as that kind.
    // Rows whose duration text `keep` refuses are skipped before the rest of them is read; each
    // other row goes to `add` as soon as it is read, so an error keeps the rows before it.
    void entries(int trip, const QString& query, const std::function<bool(const QString&)>& keep,
                 const std::function<void(const Row&)>& add);
    // The begin of one entry, read with its own trip and kind set first.
    double entryBegin(int trip, const QString& query, int serverEntry);
    // The trip's stops from the second definition's list, for stop skipping.
    void loadStops(int trip);
    // The events of the current trip for the kinds `wanted`; the list on screen keeps its kind.
    std::vector<TripEvent> tripEvents(const std::vector<bool>& wanted);
    void loadInfoPointPositions();

    // The kind the window's list shows ("" for the trip list): reads made for anything else
    // put it back, so that the server stays where the list expects it.
    void setShownQuery(const QString& query) { shownQuery_ = query; }

    // The trip-load sequence: the trip's checkpoints and info-point positions where the window
    // shows them, then its track.
    void chooseTrip(int trip);
    // Checkpoints and info-point positions of the current trip, where the window shows them.
    void refreshTripContext();
    // Reads the trip's track into the store; the window follows `trackLoaded`. The numbers
    // travel while the window goes on: the store is filled and `trackLoaded` told once they
    // are all here. A load asked for from a later event drops the one still under way.
    void loadTrack(int trip);
    // Runs `work` after the load under way, in the order asked, or at once when none is; a
    // load dropped for a newer one drops its work too.
    void afterLoad(std::function<void()> work);
    // The points of the trip under way, 0 when none is.
    int loadingPoints() const { return loading_ ? loadingPoints_ : 0; }
    // Whether a choice waits for a dropped trip's answers to arrive before it asks the server.
    bool waitingForDropped() const { return waitingForDropped_; }

    // Playback requests; the window's playback controls carry them out.
    void stop() { stopRequested.notify(); }
    void seek(double playTime) { seekRequested.notify(playTime); }
    // The vehicle's marker texts ("L E x y", heading style, caption) for the time shown.
    void showPosition(const QStringList& markerTexts, double playTime);
    void setPlaying(bool playing);
    bool playing() const { return playing_; }

    SelectionState selection;
    TrackStore track;
    PlaybackClock clock;
    int CurPoint = 1;
    QStringList CarMarkerTexts{QString(), QString(), QString()};
    InfoPointDefinitions definitions;
    int definitionCount = 0;
    std::vector<TStops> StopList;
    InfoPointPositions infoPointPositions;
    QString MapPath;
    // What the map's texts put before a trail's line: a trip's load has its lines made ready
    // behind it off the window's thread.
    QString trailLinePrefix;
    bool checkpointsShown = true;   // the checkpoints flag, saved as LoadKT
    bool infoPointsShown = false;   // the info-points button is down
    bool checkpointsButton = false; // the checkpoints button is down

    // Runs at each server event's delivery; errors are the caller's to report.
    std::function<void(const std::exception&)> reportError;

    // What changed, told to the window's areas in the order they observe it.
    // A computation ended: first `computationEnded` (so the selection may follow one started
    // elsewhere), then `resultReady` for the trip list.
    Notifier<bool> computationEnded; // true when it answered the player's own request
    Notifier<> resultReady;
    Notifier<> onlineData;
    Notifier<> serverClosed;
    Notifier<> checkpointsWanted;
    Notifier<int> trackLoaded; // a track of at least one point
    Notifier<> emptyTrackLoaded;
    Notifier<> stopRequested;
    Notifier<double> rewound; // playback stopped back at the trip's start
    Notifier<double> seekRequested;
    Notifier<double> positionChanged;

signals:
    void playStateChanged(bool playing);
    // A trip's track is being read: the window may show that it waits.
    void busy(bool waiting);
    // The server computes the player's own request, until its result comes.
    void computing(bool running);

private:
    void onEndComputing();
    void putBackShownQuery();
    void selectQuery(int trip, const QString& query);
    void delivered(const std::function<void()>& work);
    void replaceLoad();
    void dropLoad();
    bool deferWhileDroppedArrive(std::function<void()> work);
    void finishLoad(int count);

    bool loading_ = false;
    bool waitingForDropped_ = false;
    bool loadFromThisEvent_ = false; // started by the event being handled
    bool loadStarting_ = false;      // loadTrack is still on the stack
    int loadingPoints_ = 0;
    std::vector<std::function<void()>> afterLoad_;

    IVantrelAutomation* server_ = nullptr;
    QString shownQuery_;
    std::optional<Period> requestedPeriod_, computedPeriod_;
    bool playing_ = false;
};
