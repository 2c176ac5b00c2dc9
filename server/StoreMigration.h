#pragma once

#include <QtGlobal>

namespace vserver {

class Store;

struct MigrationCounts {
    qint64 groups = 0, cars = 0, messages = 0, checkpoints = 0;
};

// Copies every group, car, checkpoint list and the cars' messages into an empty store, in one
// transaction: all of it arrives, or nothing does.
MigrationCounts migrateStore(const Store& from, Store& to);

} // namespace vserver
