#include "StartupMark.h"

#include "TMapvexControl.h"

#include <QEvent>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <ctime>

StartupMark::StartupMark(QTreeWidget& trips, TMapvexControl& map) : QObject(&map), trips_(trips), map_(map) {
    map.installEventFilter(this);
}

bool StartupMark::wanted() {
    return !qEnvironmentVariableIsEmpty("VANTREL_STARTUP_MARK");
}

bool StartupMark::eventFilter(QObject* watched, QEvent* event) {
    // A frame about to be painted from an image of the whole view, a map read and a trip listed:
    // once it is on the screen, the start is over.
    if (written_ || event->type() != QEvent::Paint || trips_.topLevelItemCount() == 0 ||
        map_.mapsLoaded() == 0 || !map_.upToDate())
        return QObject::eventFilter(watched, event);
    written_ = true;
    QTimer::singleShot(0, this, [] {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        std::fprintf(stderr, "vantrel-player: started %lld\n", now.tv_sec * 1000000000LL + now.tv_nsec);
        std::fflush(stderr);
    });
    return QObject::eventFilter(watched, event);
}
