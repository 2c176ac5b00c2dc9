#pragma once

#include "ServerTypes.h"

#include <QString>
#include <memory>
#include <optional>
#include <vector>

struct sqlite3;

namespace vserver {

// The server's SQLite store: groups, cars, raw device messages and checkpoint lists. A new or
// empty file gets the schema; an existing file must carry the store's application id (or be a
// store of the first version, which is migrated): anything else is refused untouched. A file
// that cannot be written is served read-only, leaving no files beside it. Every failure throws
// VantrelError with a readable text.
class Store {
public:
    static constexpr int kApplicationId = 0x56544c52; // "VTLR"
    static constexpr int kSchemaVersion = 2;

    explicit Store(const QString& path);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    std::vector<Group> groups() const;
    std::vector<Car> cars(const QString& groupId) const;
    std::vector<Car> allCars() const;
    // The device's messages over [from, to], in ascending time; stops early when cancelled.
    std::vector<Message> messages(int device, double from, double to, const CancelToken& cancel = {}) const;
    std::vector<Checkpoint> checkpoints(const QString& listId) const;
    qint64 messageCount() const;
    bool isEmpty() const { return groups().empty(); }
    bool readOnly() const { return readOnly_; }
    std::optional<Car> carOfDevice(int device) const;

    // Writing happens inside one transaction: all of it is stored, or nothing.
    void begin();
    void commit();
    void rollback();

    void addGroup(const Group& group);
    // Stores the car; a car id of 0 takes the next free one. Returns the id.
    int addCar(const Car& car);
    void addMessages(int device, const std::vector<Message>& messages);
    void addCheckpointList(const QString& listId, const std::vector<Checkpoint>& checkpoints);

    // Finds a group by name, or creates it.
    QString ensureGroup(const QString& name);

private:
    void open(const QString& path);
    void checkIdentity(const QString& path);
    void createSchema();
    int pragma(const char* name) const;
    void exec(const char* sql) const;
    [[noreturn]] void fail(const QString& what) const;

    sqlite3* db_ = nullptr;
    bool readOnly_ = false;
};

} // namespace vserver
