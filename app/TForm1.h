#pragma once

#include "InfoPointPositions.h"
#include "PlaybackClock.h"
#include "PlayerEnvironment.h"
#include "SelectionState.h"
#include "TInfoPoints.h"
#include "TStops.h"
#include "TrackStore.h"
#include "ValueLabel.h"

#include <QMainWindow>
#include <memory>

class GlyphButton;
class IMapvexControl;
class IVantrelAutomation;
class MapLayers;
class PlaybackTimer;
class UpDown;
class QAction;
class QKeyEvent;
class QComboBox;
class QDateEdit;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QSlider;
class QSplitter;
class QTimeEdit;
class QToolBar;
class QToolButton;
class QTreeWidget;

class SelectionController;
class SpeedChart;
class EventRibbon;
class ExportController;
class PlaybackController;
class InfoPointsController;
class MapController;
class SettingsController;

// The player's one window. It owns every control and the program-wide state; each handler is a
// slot that hands over to the controller of its area.
class TForm1 : public QMainWindow {
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
    bool OpenMap(const QString& path);
    // The speed chart under the map, shown or hidden by its button; saved with the settings.
    bool chartShown() const;
    void setChartShown(bool shown);

    // Runs a handler's work; an error that leaves it is shown by the one error reporter.
    void guarded(const std::function<void()>& work);
    void reportError(const std::exception& error);

    SelectionController& selection() { return *selection_; }
    PlaybackController& playback() { return *playback_; }
    InfoPointsController& infoPoints() { return *infoPoints_; }
    MapController& map() { return *map_; }
    SettingsController& settings() { return *settings_; }
    const PlayerEnvironment& environment() const { return environment_; }

    // Controls, named as the window's design names them.
    QWidget* Panel2;
    QSplitter* Splitter1;
    QWidget* Panel1;
    QWidget* MapvexCtrl = nullptr;
    QSplitter* ChartSplitter = nullptr; // under the map: the speed chart
    SpeedChart* speedChart = nullptr;
    QToolButton* btnChart = nullptr;
    EventRibbon* eventRibbon = nullptr; // under the track bar
    ExportController* exporter = nullptr; // its button beside the chart's
    QGroupBox* GroupBox3;
    QLabel* Label12;
    QDateEdit* DateBegin;
    QTimeEdit* TimeBegin;
    QLabel* Label14;
    QDateEdit* DateEnd;
    QTimeEdit* TimeEnd;
    QFrame* Bevel4;
    QLabel* Label2;
    QComboBox* cmbGroupName;
    QLabel* Label4;
    QComboBox* cmbCarName;
    QLabel* Label5;
    QComboBox* cmbCarNum;
    QLabel* Label6;
    QComboBox* cmbCarDevice;
    QLabel* Label13;
    QLabel* lblTripNum;
    QGroupBox* GroupBox2;
    QComboBox* cmbInfoPoints;
    QTreeWidget* ListView1;
    QLabel* Label15;
    QLineEdit* txtCont;
    UpDown* UpDown2;
    QGroupBox* GroupBox4;
    GlyphButton* btnPlay;
    GlyphButton* btnStop;
    QFrame* Bevel2;
    QToolBar* ToolBar1;
    QToolButton* ToolButton4;
    QToolButton* ToolButton1;
    QToolButton* ToolButton2;
    GlyphButton* SpeedButton1;
    QToolButton* ToolButton3;
    QToolButton* btnSettings;
    QFrame* Bevel3;
    QLabel* Label8;
    QComboBox* cmbSpeed;
    UpDown* UpDown1;
    QFrame* Bevel1;
    QLabel* Label9;
    QSlider* TrackBar;
    QGroupBox* GroupBox5;
    QLabel* Label1;
    ValueLabel* lblDate;
    QLabel* Label7;
    ValueLabel* lblSpeed;
    QLabel* Label3;
    ValueLabel* lblDistance;
    ValueLabel* Label10;
    PlaybackTimer* Timer1;
    QMenu* PopupMenu1;

    // Program-wide state.
    IVantrelAutomation* server = nullptr; // empty without a server
    IMapvexControl* mapControl = nullptr;
    SelectionState selectionState;
    TrackStore track;
    PlaybackClock clock;
    int CurPoint = 1;
    bool TrackBarActive = true;
    QStringList CarMarkerTexts{QString(), QString(), QString()};
    InfoPointDefinitions definitions;
    int definitionCount = 0;
    std::vector<TStops> StopList;
    InfoPointPositions infoPointPositions;
    QString MapPath;
    bool checkpointsShown = true; // the checkpoints flag, saved as LoadKT
    std::unique_ptr<MapLayers> mapLayers;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void createSelectionBox();
    void createInfoPointsBox();
    void createPlayerBox();
    void createInfoPanel();
    void createPopupMenu1();
    void connectHandlers();
    void makePlaybackControlsOpaque();
    void createSpeedChart();
    void connectEventHandlers();
    void placeChartButton();
    // The player's keys (Space, Home, arrows, + and −); false when the key is not one of them.
    bool playerKey(QWidget* receiver, const QKeyEvent& key);

    PlayerEnvironment environment_;
    std::unique_ptr<SelectionController> selection_;
    std::unique_ptr<PlaybackController> playback_;
    std::unique_ptr<InfoPointsController> infoPoints_;
    std::unique_ptr<MapController> map_;
    std::unique_ptr<SettingsController> settings_;
    bool shown_ = false;
    bool destroyed_ = false;
};
