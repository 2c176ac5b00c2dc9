#pragma once

#include "StoreEngine.h"

typedef struct pg_conn PGconn;

namespace vserver {

// The store in a PostgreSQL database, for installations whose desks share one: the same tables
// as the SQLite file, messages indexed by device and time, streamed out and written in with
// COPY. A database without tables gets the schema; one holding other tables is refused
// untouched. A connection that fails or is lost says so in Russian; a lost one is made again by
// the next call outside a transaction, waiting at most a few seconds for the database.
class PostgresStore : public StoreEngine {
public:
    explicit PostgresStore(const QString& uri);
    ~PostgresStore() override;
    PostgresStore(const PostgresStore&) = delete;
    PostgresStore& operator=(const PostgresStore&) = delete;

    std::vector<Group> groups() const override;
    std::vector<Car> cars(const QString& groupId) const override;
    std::vector<Car> allCars() const override;
    std::vector<Message> messages(int device, double from, double to, const CancelToken& cancel) const override;
    std::vector<Checkpoint> checkpoints(const QString& listId) const override;
    qint64 messageCount() const override;
    bool readOnly() const override { return false; }
    std::optional<Car> carOfDevice(int device) const override;

    void begin() override;
    void commit() override;
    void rollback() override;
    void lockForWriters() override;

    void addGroup(const Group& group) override;
    int addCar(const Car& car) override;
    void addMessages(int device, const std::vector<Message>& messages) override;
    void addCheckpointList(const QString& listId, const std::vector<Checkpoint>& checkpoints) override;
    std::vector<Tracker> trackers() const override;
    void addTracker(const Tracker& tracker) override;
    bool removeTracker(const QString& ident) override;
    void addLiveMessages(const std::vector<DeviceMessage>& messages) override;

private:
    void checkIdentity();
    PGconn* db() const; // the connection, made again when it broke outside a transaction

    PGconn* db_ = nullptr;
    bool inTransaction_ = false;
    bool messagesAdded_ = false; // in the open transaction
    QString where_; // the database, without its password, for messages
};

} // namespace vserver
