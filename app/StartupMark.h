#pragma once

#include <QObject>

class QTreeWidget;
class TMapvexControl;

// With VANTREL_STARTUP_MARK set, the player writes one line on stderr the first time the window
// shows a trip listed over a painted map: "vantrel-player: started <CLOCK_MONOTONIC ns>", so
// that a benchmark that started it knows how long the start took as the operator sees it.
class StartupMark : public QObject {
public:
    StartupMark(QTreeWidget& trips, TMapvexControl& map);
    static bool wanted();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTreeWidget& trips_;
    TMapvexControl& map_;
    bool written_ = false;
    bool checkDue_ = false;
};
