#pragma once

#include "TrackerServer.h"

#include <QCommandLineParser>
#include <functional>
#include <memory>

namespace trackers {

using Print = std::function<void(const QString&)>;

// The server's options for live trackers, read from its command line.
struct ListenOptions {
    std::vector<ListenAddress> addresses;
    int idleSeconds = TrackerServer::kDefaultIdleSeconds;
    bool verbose = false;
};

// Adds --listen, --idle-close, --verbose and the options of `device` and `simulate`.
void addOptions(QCommandLineParser& parser);
// Throws VantrelError on a value that is not usable.
ListenOptions listenOptions(const QCommandLineParser& parser);
// The listeners of a running server, or none when no --listen was given.
std::unique_ptr<TrackerServer> openListeners(const QString& storePath, const ListenOptions& options, const Print& print);

// vantrel-server device add|list|remove …
int deviceCommand(const QCommandLineParser& parser, const QString& storePath, const Print& print);
// vantrel-server simulate --protocol osmand|codec8 --to HOST:PORT --devices N --rate R --duration S [--register]
int simulateCommand(const QCommandLineParser& parser, const QString& storePath, const Print& print);

} // namespace trackers
