#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

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
    // The one-second rest after a skipped stop; tests shorten it.
    int skipRestMs = 1000;
};
