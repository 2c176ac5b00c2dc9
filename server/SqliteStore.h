#pragma once

#include "StoreEngine.h"

struct sqlite3;

namespace vserver {

// The embedded engine: one SQLite file. A new or empty file gets the schema; an existing file
// must carry the store's application id (or be a store of the first version, which is
// migrated): anything else is refused untouched. A file that cannot be written is served
// read-only, leaving no files beside it.
class SqliteStore : public StoreEngine {
public:
    static constexpr int kApplicationId = 0x56544c52; // "VTLR"
    static constexpr int kSchemaVersion = 3;

    // With `mustExist`, a missing file is refused instead of made a new store.
    explicit SqliteStore(const QString& path, bool mustExist = false);
    ~SqliteStore() override;
    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    std::vector<Group> groups() const override;
    std::vector<Car> cars(const QString& groupId) const override;
    std::vector<Car> allCars() const override;
    std::vector<Message> messages(int device, double from, double to, const CancelToken& cancel) const override;
    void readMessages(int device, double from, double to, const CancelToken& cancel,
                      std::vector<Message>& into,
                      const std::function<void(size_t)>& ready) const override;
    std::vector<StoredPosition> positions(int device, double from, double to, const CancelToken& cancel) const override;
    std::vector<Checkpoint> checkpoints(const QString& listId) const override;
    qint64 messageCount() const override;
    bool readOnly() const override { return readOnly_; }
    std::optional<Car> carOfDevice(int device) const override;

    void begin() override;
    void commit() override;
    void rollback() override;

    void addGroup(const Group& group) override;
    int addCar(const Car& car) override;
    void addMessages(int device, const std::vector<Message>& messages) override;
    void addCheckpointList(const QString& listId, const std::vector<Checkpoint>& checkpoints) override;
    std::vector<Tracker> trackers() const override;
    void addTracker(const Tracker& tracker) override;
    bool removeTracker(const QString& ident) override;
    void addLiveMessages(const std::vector<DeviceMessage>& messages) override;

private:
    void open(const QString& path);
    void checkIdentity(const QString& path);
    void createSchema();
    int pragma(const char* name) const;
    void exec(const char* sql) const;
    [[noreturn]] void fail(const QString& what) const;
    void checkPresent() const;

    sqlite3* db_ = nullptr;
    bool readOnly_ = false;
    QString path_;
    quint64 inode_ = 0, device_ = 0; // of the file opened
};

} // namespace vserver
