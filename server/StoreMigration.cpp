#include "StoreMigration.h"

#include "Store.h"
#include "VantrelError.h"

#include <QSet>
#include <limits>

namespace vserver {

MigrationCounts migrateStore(const Store& from, Store& to) {
    if (!to.isEmpty())
        throw VantrelError(QStringLiteral("Хранилище, в которое переносятся данные, не пусто; ничего не перенесено"));
    MigrationCounts counts;
    to.begin();
    try {
        for (const Group& group : from.groups()) {
            to.addGroup(group);
            ++counts.groups;
        }
        QSet<QString> lists;
        constexpr double kAll = std::numeric_limits<double>::max();
        for (const Car& car : from.allCars()) {
            to.addCar(car);
            ++counts.cars;
            const std::vector<Message> messages = from.messages(car.device, -kAll, kAll);
            to.addMessages(car.device, messages);
            counts.messages += qint64(messages.size());
            if (!car.checkpointList.isEmpty() && !lists.contains(car.checkpointList)) {
                lists.insert(car.checkpointList);
                const std::vector<Checkpoint> checkpoints = from.checkpoints(car.checkpointList);
                to.addCheckpointList(car.checkpointList, checkpoints);
                counts.checkpoints += qint64(checkpoints.size());
            }
        }
        for (const Tracker& tracker : from.trackers())
            to.addTracker(tracker);
        to.commit();
    } catch (...) {
        try {
            to.rollback();
        } catch (const std::exception&) {
            // The connection is gone: the database dropped the transaction itself.
        }
        throw;
    }
    return counts;
}

} // namespace vserver
