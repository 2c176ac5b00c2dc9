#pragma once

class EventRibbon;
class GlyphButton;
class PlaybackTimer;
class SpeedChart;
class UpDown;
class ValueLabel;
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
class QWidget;

// The main window's controls, named as the window's design names them. The window creates and
// owns them; each area's controller is handed the ones it drives.
struct WindowControls {
    QWidget* Panel2;
    QSplitter* Splitter1;
    QWidget* Panel1;
    QWidget* MapvexCtrl = nullptr;
    QSplitter* ChartSplitter = nullptr; // under the map: the speed chart
    SpeedChart* speedChart = nullptr;
    QToolButton* btnChart = nullptr;
    EventRibbon* eventRibbon = nullptr; // under the track bar
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
};
