#pragma once

#include "ServerTypes.h"

#include <QString>
#include <functional>
#include <optional>
#include <vector>

namespace vserver {

// What a store engine keeps: groups, cars, raw device messages and checkpoint lists. Every
// failure throws VantrelError with a readable text.
class StoreEngine {
public:
    virtual ~StoreEngine() = default;

    virtual std::vector<Group> groups() const = 0;
    virtual std::vector<Car> cars(const QString& groupId) const = 0;
    virtual std::vector<Car> allCars() const = 0;
    // The device's messages over [from, to], in ascending time; stops early when cancelled.
    virtual std::vector<Message> messages(int device, double from, double to, const CancelToken& cancel) const = 0;
    // The same messages written into `into` as they are read: sized once, then `ready(n)` says the
    // first n are in place, so that work on them starts while the rest are read.
    virtual void readMessages(int device, double from, double to, const CancelToken& cancel,
                              std::vector<Message>& into,
                              const std::function<void(size_t)>& ready) const {
        into = messages(device, from, to, cancel);
        ready(into.size());
    }
    // Only the messages with signal, only time, place and speed: what the fleet view reads for
    // a hundred vehicles at once. An engine may read it more cheaply than `messages`.
    virtual std::vector<StoredPosition> positions(int device, double from, double to, const CancelToken& cancel) const {
        std::vector<StoredPosition> result;
        for (const Message& m : messages(device, from, to, cancel))
            if (m.signal)
                result.push_back({m.time, m.lon, m.lat, m.speed});
        return result;
    }
    virtual std::vector<Checkpoint> checkpoints(const QString& listId) const = 0;
    virtual qint64 messageCount() const = 0;
    virtual bool readOnly() const = 0;
    virtual std::optional<Car> carOfDevice(int device) const = 0;

    // Writing happens inside one transaction: all of it is stored, or nothing.
    virtual void begin() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;
    // Inside a transaction: other writers wait until it ends, so that what this one looks up
    // before adding (a group by name, a vehicle by device) stays as it found it.
    virtual void lockForWriters() {}

    virtual void addGroup(const Group& group) = 0;
    // Stores the car; a car id of 0 takes the next free one. Returns the id.
    virtual int addCar(const Car& car) = 0;
    virtual void addMessages(int device, const std::vector<Message>& messages) = 0;
    virtual void addCheckpointList(const QString& listId, const std::vector<Checkpoint>& checkpoints) = 0;

    // Live trackers: their identifiers, and their messages stored in batches of many devices.
    virtual std::vector<Tracker> trackers() const = 0;
    virtual void addTracker(const Tracker& tracker) = 0;
    // False when the identifier was not registered.
    virtual bool removeTracker(const QString& ident) = 0;
    // Many devices' messages at once; frequent small batches refresh no planner statistics.
    virtual void addLiveMessages(const std::vector<DeviceMessage>& messages) = 0;

    // Finds a group by name, or creates it.
    QString ensureGroup(const QString& name) {
        const std::vector<Group> known = groups();
        for (const Group& group : known)
            if (group.name == name)
                return group.id;
        const QString id = QStringLiteral("grp-%1").arg(known.size() + 1);
        addGroup({id, name});
        return id;
    }
};

} // namespace vserver
