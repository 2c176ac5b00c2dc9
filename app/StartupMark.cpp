#include "StartupMark.h"

#include "TMapvexControl.h"

#include <QEvent>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <ctime>

StartupMark::StartupMark(QTreeWidget& trips, TMapvexControl& map)
    : QObject(&map), trips_(trips), map_(map) {
    map.installEventFilter(this);
}

bool StartupMark::wanted() {
    return !qEnvironmentVariableIsEmpty("VANTREL_STARTUP_MARK");
}

bool StartupMark::eventFilter(QObject* watched, QEvent* event) {
    // Looked at once the frame is painted: a trip listed, a map read, and the frame drawn from an
    // image of the whole view, which the map is then up to date with.
    if (!written_ && !checkDue_ && event->type() == QEvent::Paint) {
        checkDue_ = true;
        QTimer::singleShot(0, this, [this] {
            checkDue_ = false;
            if (written_ || trips_.topLevelItemCount() == 0 || map_.mapsLoaded() == 0 ||
                !map_.upToDate())
                return;
            written_ = true;
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            std::fprintf(stderr, "vantrel-player: started %lld\n",
                         now.tv_sec * 1000000000LL + now.tv_nsec);
            std::fflush(stderr);
        });
    }
    return QObject::eventFilter(watched, event);
}
