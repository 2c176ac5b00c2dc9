#pragma once

#include "ErrorReporter.h"
#include "LiveFollow.h"
#include "PlayerEnvironment.h"
#include "WindowControls.h"

#include <QMainWindow>
#include <cmath>
#include <memory>
#include <optional>

class IMapvexControl;
class QToolButton;
class LoadProgress;
class MapLayers;
class PlayerSession;
class QKeyEvent;

class SelectionController;
class ExportController;
class PlaybackController;
class InfoPointsController;
class MapController;
class SettingsController;

// The player's one window. It owns every control, the session that holds the player's state, and
// the controllers of its areas; each handler is a slot that hands over to the controller of its
// area. Controllers never call one another: they observe the session, and the window wires them.
class FleetWindow;

class TForm1 : public QMainWindow, private WindowControls {
    Q_OBJECT
public:
    explicit TForm1(PlayerEnvironment environment, QWidget* parent = nullptr);
    ~TForm1() override;

    // Start-up, run once when the window is first shown.
    void FormShow();
    // Shutdown: stop playback, then save the settings. Runs once.
    void FormDestroy();
    // The server closed: forget it and disable the list.
    void ServerClosed();
    // Opens a map on the control's worker, the window answering meanwhile; `opened` runs once it
    // shows, a failure is said, and a map asked for later wins.
    void OpenMap(const QString& path, std::function<void()> opened = {});
    // Track files: stored through the server's import, then chosen and computed over their span.
    void openFiles(const QStringList& paths);
    // What a launch asked for: track files to open, then the fleet view; the window comes forward.
    void openRequested(const QStringList& files, const std::optional<PlayerEnvironment::FleetStart>& fleet);
    // The speed chart under the map, shown or hidden by its button; saved with the settings.
    bool chartShown() const;
    void setChartShown(bool shown);

    // The fleet view for a group (id or name) over a period, in a window of its own.
    // It starts at `moment` (NaN: the period's beginning).
    FleetWindow* openFleet(const QString& group, double from, double to,
                           double moment = std::nan(""));
    // A vehicle of the fleet view in this window: group, vehicle and period chosen and computed,
    // then the trip of `moment` shown with the track bar at it.
    void openFromFleet(const QString& groupId, int device, double begin, double end, double moment);

    // Runs a handler's work; an error that leaves it is shown by the one error reporter.
    void guarded(const std::function<void()>& work) { errors_.guarded(work); }

    PlayerSession& session() { return *session_; }
    WindowControls& ui() { return *this; }
    SelectionController& selection() { return *selection_; }
    PlaybackController& playback() { return *playback_; }
    InfoPointsController& infoPoints() { return *infoPoints_; }
    MapController& map() { return *map_; }
    SettingsController& settings() { return *settings_; }
    ExportController& exporter() { return *exporter_; }
    IMapvexControl& mapControl() { return *mapControl_; }
    MapLayers& mapLayers() { return *mapLayers_; }
    const PlayerEnvironment& environment() const { return environment_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createControls();
    void createSelectionBox();
    void createInfoPointsBox();
    void createPlayerBox();
    void createInfoPanel();
    void createPopupMenu1();
    void connectHandlers();
    void connectSession();
    void showWork();
    void makePlaybackControlsOpaque();
    void createSpeedChart();
    void connectEventHandlers();
    void placeChartButton();
    void createLiveButton();
    void createOpenButton();
    void createMapButton();
    // The map chosen with «Карта…»: opened, kept as MapPath and among the recent ones.
    void chooseMap(const QString& path);
    void mapOpened(const QString& path, int opening, int code, const std::function<void()>& opened);
    void showOpened(const struct OpenedFile& file);
    // New positions arrived: computed again where the live button asks for it.
    void followLive();
    // A live result: its last trip shown, the vehicle at its last position.
    void showLiveEnd();
    // «Весь парк» on the map's corner, under «Экспорт».
    void createFleetButton();
    void placeFleetButton();
    // The result asked for by openFromFleet: the trip of the moment, the track bar at it.
    void showFleetMoment(double moment);
    // The player's keys (Space, Home, arrows, + and −); false when the key is not one of them.
    bool playerKey(QWidget* receiver, const QKeyEvent& key);

    PlayerEnvironment environment_;
    ErrorReporter errors_;
    IMapvexControl* mapControl_ = nullptr;
    std::unique_ptr<MapLayers> mapLayers_;
    std::unique_ptr<PlayerSession> session_;
    std::unique_ptr<SelectionController> selection_;
    std::unique_ptr<PlaybackController> playback_;
    std::unique_ptr<InfoPointsController> infoPoints_;
    std::unique_ptr<MapController> map_;
    std::unique_ptr<SettingsController> settings_;
    ExportController* exporter_ = nullptr;
    QToolButton* btnLive_ = nullptr;
    QToolButton* btnOpen_ = nullptr;
    QToolButton* btnMap_ = nullptr;
    QToolButton* btnFleet_ = nullptr;
    std::optional<double> fleetMoment_; // the moment the result on its way is to be shown at
    LoadProgress* loadProgress_ = nullptr;
    LoadProgress* mapProgress_ = nullptr;
    int mapOpenings_ = 0; // OpenMap calls so far
    int mapUnderWay_ = 0; // the number of the opening not finished yet; 0: none
    LiveFollow live_;
    bool liveResult_ = false; // the result on its way was asked for by the live button
    bool shown_ = false;
    bool destroyed_ = false;
};
