#pragma once

#include "PlayerSession.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QMenu;
class QToolButton;
class ErrorReporter;
class IVantrelAutomation;
class QWidget;
struct WindowControls;
struct TripSheet;

// The «Экспорт» button in the map's corner: the current trip as GPX, KML or GeoJSON (written by
// the tracking server's own export, with progress and a cancel button), the map view as PNG,
// and the trip sheet as PDF or on a printer.
class ExportController : public QObject {
    Q_OBJECT
public:
    using SheetServerFactory =
        std::function<std::unique_ptr<IVantrelAutomation>(const QString& storePath)>;
    ExportController(PlayerSession& session, WindowControls& ui, ErrorReporter& errors,
                     QWidget& window, SheetServerFactory sheetServer);
    QToolButton* button() const { return button_; }

    void exportTrip(const QString& format);
    void saveMapImage(const QString& path);
    void saveSheet(const QString& path);
    void printSheet();

private:
    // What gathers the sheet of the trip on screen: read now, run on any thread.
    std::function<TripSheet()> sheetGathering();
    // Runs `work` on a thread of its own with a progress box; its error is thrown here.
    void offTheWindowsThread(const QString& title, const std::function<void()>& work);
    PlayerSession::Period shownPeriod() const;
    QString askPath(const QString& title, const QString& suffix, const QString& filter);

    PlayerSession& s;
    WindowControls& ui;
    ErrorReporter& errors_;
    QWidget& window_;
    SheetServerFactory sheetServer_;
    QToolButton* button_ = nullptr;
};
