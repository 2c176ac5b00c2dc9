#pragma once

#include <QStringList>

// What the player remembers of the server's groups and its own requests.
struct SelectionState {
    QStringList GroupIds;        // entry i is the id of item i of the group box
    bool RequestPending = false; // a track request of the player awaits its answer
    int CurrentTrip = 0;         // 1-based trip shown; 0 before any choice
};
