#pragma once

#include "AreaVisits.h"
#include "FleetCanvas.h"
#include "FleetLoader.h"
#include "FleetReplay.h"

#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <cmath>
#include <memory>

class ErrorReporter;
class GlyphButton;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QProgressBar;
class QPushButton;
class QSlider;
class QToolButton;
class QTreeWidget;
class TMapvexControl;

// The fleet view: every vehicle of a group on the base map, on one clock, with the questions a
// dispatcher asks (where was everyone at a moment, who was inside an area and when). Positions
// are read from the store in this process on a worker thread; the main window's state is not
// touched, except when the operator asks to open a vehicle there.
class FleetWindow : public QWidget {
    Q_OBJECT
public:
    struct Setup {
        QString storePath, mapPath;
        std::function<double()> now; // the wall clock as a date-time value
        // Opens a vehicle of the group in the main window at a moment of the period.
        std::function<void(const QString& groupId, int device, double begin, double end,
                           double moment)>
            openInMain;
    };
    FleetWindow(Setup setup, ErrorReporter& errors, QWidget* parent = nullptr);
    ~FleetWindow() override;

    // Reads the group's positions over the period, then shows them at `moment` (a date-time
    // value; NaN: the period's beginning); a newer request cancels it.
    void load(const FleetRequest& request, double moment = std::nan(""));
    bool loading() const { return loading_; }
    const FleetReplay& replay() const { return replay_; }
    FleetReplay& replay() { return replay_; }
    FleetCanvas& canvas() { return *canvas_; }
    TMapvexControl& map() { return *map_; }
    QTreeWidget& vehicleList() { return *vehicles_; }
    QTreeWidget& visitList() { return *visits_; }
    // Asks who was inside `area` between the two pickers' moments (in the background).
    void askArea(const Area& area);
    bool askingArea() const { return visitWatcher_.isRunning(); }
    // Shows the current moment everywhere (the list, the slider, the clock's label).
    void showMoment(bool withList = true);
    QString statusText() const;

private:
    struct Loaded {
        std::shared_ptr<const Fleet> fleet;
        QString error;
    };
    void buildControls();
    void showFleet(std::shared_ptr<const Fleet> fleet);
    void fitView();
    void frame();
    void setPlaying(bool playing);
    void areaDrawn(FleetCanvas::Tool tool, QPointF from, QPointF to);
    void centreOn(int row);
    void openSelectedInMain();
    void setStatus(const QString& text);

    Setup setup_;
    ErrorReporter& errors_;
    FleetReplay replay_;
    TMapvexControl* map_ = nullptr;
    FleetCanvas* canvas_ = nullptr;
    GlyphButton *play_ = nullptr, *pause_ = nullptr, *stop_ = nullptr;
    QComboBox* speed_ = nullptr;
    QSlider* slider_ = nullptr;
    QLabel *clock_ = nullptr, *title_ = nullptr, *status_ = nullptr, *areaText_ = nullptr;
    QDateTimeEdit *jump_ = nullptr, *areaFrom_ = nullptr, *areaTo_ = nullptr;
    QTreeWidget *vehicles_ = nullptr, *visits_ = nullptr;
    QToolButton *rectangle_ = nullptr, *circle_ = nullptr;
    QPushButton *openMain_ = nullptr, *cancel_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QTimer frameTimer_;
    QElapsedTimer listShown_;
    std::shared_ptr<std::atomic<quint64>> generation_ = std::make_shared<std::atomic<quint64>>(0);
    QFutureWatcher<Loaded> loadWatcher_;
    QFutureWatcher<std::vector<AreaVisit>> visitWatcher_;
    std::optional<Area> area_;
    bool loading_ = false;
    double startMoment_ = 0;
};
