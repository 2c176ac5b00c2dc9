#pragma once

#include "PlayerEnvironment.h"

#include <QObject>
#include <QStringList>
#include <functional>
#include <optional>

// One player window per session: a launch with files or --fleet hands them to the window that
// already runs (the server keeps one current result, which two windows would take from each
// other) and ends; the running window opens them as if they were given to it.
class RunningPlayer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.vantrel.Player")

public:
    using Opener = std::function<void(const QStringList& files,
                                      const std::optional<PlayerEnvironment::FleetStart>& fleet)>;

    // Registers this window on the session bus; false when another one already is.
    bool registerOnSessionBus(Opener opener);

    // Hands the request to the window registered on the session bus; false when there is none.
    static bool forward(const QStringList& files,
                        const std::optional<PlayerEnvironment::FleetStart>& fleet);

public slots:
    void Open(const QStringList& files, const QString& fleetGroup, double from, double to,
              double at);

private:
    Opener opener_;
};
