#pragma once

#include "ServerTypes.h"

#include <QString>
#include <memory>
#include <vector>

struct sqlite3;

namespace vserver {

// The server's SQLite store: groups, cars, raw device messages and checkpoint lists. The
// schema is created on first open. Every failure throws VantrelError with SQLite's text.
class Store {
public:
    explicit Store(const QString& path);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    std::vector<Group> groups() const;
    std::vector<Car> cars(const QString& groupId) const;
    std::vector<Car> allCars() const;
    std::vector<Message> messages(int device, double from, double to) const;
    std::vector<Checkpoint> checkpoints(const QString& listId) const;
    qint64 messageCount() const;
    bool isEmpty() const { return groups().empty(); }

    // Writing happens inside one transaction: all of it is stored, or nothing.
    void begin();
    void commit();
    void rollback();

    void addGroup(const Group& group);
    // Stores the car; a car id of 0 takes the next free one. Returns the id.
    int addCar(const Car& car);
    void addMessages(int device, const std::vector<Message>& messages);
    void addCheckpointList(const QString& listId, const std::vector<Checkpoint>& checkpoints);

    // Finds a group by name, or creates it; finds the car of a device, or creates it.
    QString ensureGroup(const QString& name);
    int ensureCar(const QString& groupId, const QString& name, const QString& number, int device);

private:
    void exec(const char* sql) const;
    [[noreturn]] void fail(const QString& what) const;

    sqlite3* db_ = nullptr;
};

} // namespace vserver
