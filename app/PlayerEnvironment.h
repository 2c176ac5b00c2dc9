#pragma once

#include <QString>
#include <QStringList>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>

class IMapvexControl;
class IMessageSink;
class IVantrelAutomation;
class QWidget;

// What the window needs from outside: the server wrapper (owned by the application), the map
// control, the message boxes, the wall clock and the folder of the settings file.
struct PlayerEnvironment {
    struct MapParts {
        QWidget* widget = nullptr; // may be null when the control draws nowhere
        IMapvexControl* control = nullptr;
    };

    std::function<IVantrelAutomation*()> createServer;
    // A server of the sheet's own on the window's server's store, so that a sheet never moves
    // the window's server.
    std::function<std::unique_ptr<IVantrelAutomation>(const QString& storePath)> createSheetServer;
    std::function<MapParts(QWidget* parent)> createMap;
    IMessageSink* messages = nullptr;
    std::function<double()> now; // local wall clock as a date-time value
    QString settingsDirectory;
    // Track files given on the command line, opened once the window has started.
    QStringList filesToOpen;
    // --fleet: the fleet view opened at the start for a group (id or name) over a period.
    struct FleetStart {
        QString group;
        double from = 0, to = 0;
        double at = std::nan(""); // the moment shown first; NaN: the period's beginning
    };
    std::optional<FleetStart> fleetAtStart;
    // The one-second rest after a skipped stop; tests shorten it.
    int skipRestMs = 1000;
};
