#pragma once

#include "StoreEngine.h"

#include <memory>

namespace vserver {

// The server's store, whichever engine keeps it: a SQLite file (the embedded default), or a
// PostgreSQL database named by a libpq connection URI ("postgresql://…", "postgres://…") for
// installations shared by several desks. The computation and the D-Bus service do not know
// which is behind it.
class Store {
public:
    static constexpr int kApplicationId = 0x56544c52; // "VTLR"
    static constexpr int kSchemaVersion = 3;

    enum class Opening { CreateIfMissing, Existing };
    // A missing SQLite file becomes a new store, unless `Existing` is asked (then it is refused).
    explicit Store(const QString& pathOrUri, Opening opening = Opening::CreateIfMissing);
    static bool isDatabaseUri(const QString& text);

    std::vector<Group> groups() const { return engine_->groups(); }
    std::vector<Car> cars(const QString& groupId) const { return engine_->cars(groupId); }
    std::vector<Car> allCars() const { return engine_->allCars(); }
    std::vector<Message> messages(int device, double from, double to, const CancelToken& cancel = {}) const {
        return engine_->messages(device, from, to, cancel);
    }
    void readMessages(int device, double from, double to, const CancelToken& cancel,
                      std::vector<Message>& into, const std::function<void(size_t)>& ready) const {
        engine_->readMessages(device, from, to, cancel, into, ready);
    }
    std::vector<StoredPosition> positions(int device, double from, double to, const CancelToken& cancel = {}) const {
        return engine_->positions(device, from, to, cancel);
    }
    std::vector<Checkpoint> checkpoints(const QString& listId) const { return engine_->checkpoints(listId); }
    qint64 messageCount() const { return engine_->messageCount(); }
    bool isEmpty() const { return groups().empty(); }
    bool readOnly() const { return engine_->readOnly(); }
    std::optional<Car> carOfDevice(int device) const { return engine_->carOfDevice(device); }

    void begin() { engine_->begin(); }
    void commit() { engine_->commit(); }
    void rollback() { engine_->rollback(); }
    void lockForWriters() { engine_->lockForWriters(); }

    void addGroup(const Group& group) { engine_->addGroup(group); }
    int addCar(const Car& car) { return engine_->addCar(car); }
    void addMessages(int device, const std::vector<Message>& messages) { engine_->addMessages(device, messages); }
    void addCheckpointList(const QString& listId, const std::vector<Checkpoint>& checkpoints) {
        engine_->addCheckpointList(listId, checkpoints);
    }
    QString ensureGroup(const QString& name) { return engine_->ensureGroup(name); }

    std::vector<Tracker> trackers() const { return engine_->trackers(); }
    void addTracker(const Tracker& tracker) { engine_->addTracker(tracker); }
    bool removeTracker(const QString& ident) { return engine_->removeTracker(ident); }
    void addLiveMessages(const std::vector<DeviceMessage>& messages) { engine_->addLiveMessages(messages); }

private:
    std::unique_ptr<StoreEngine> engine_;
};

} // namespace vserver
