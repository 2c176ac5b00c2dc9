#pragma once

#include "ServerTypes.h"

#include "WalCheckpointer.h"

#include <QObject>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace vserver {
class Store;
}

namespace trackers {

// Stores live positions in batches on a thread of its own, with a store connection of its own:
// whatever was submitted while the last batch was written goes into the next one, in one
// transaction. Each submission's completion runs on the owner's thread once its batch is
// committed (true) or has failed and was rolled back (false): an acknowledgement is sent only
// after that. A position its device already has at the same millisecond (a tracker resending
// after a lost acknowledgement) is stored once; the store hands positions out in time order,
// whatever order they arrived in.
class PositionWriter : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(bool stored)>;

    explicit PositionWriter(const QString& storePath, QObject* parent = nullptr);
    ~PositionWriter() override; // writes what was submitted, then stops
    PositionWriter(const PositionWriter&) = delete;
    PositionWriter& operator=(const PositionWriter&) = delete;

    void submit(std::vector<vserver::DeviceMessage> messages, Done done);

signals:
    // After a committed batch: how many positions were new and how many were already stored.
    void batchStored(int added, int duplicates);
    void batchFailed(const QString& reason);

private:
    struct Job {
        std::vector<vserver::DeviceMessage> messages;
        Done done;
    };
    void run();
    // Drops positions the batch repeats or the store already has; returns how many it dropped.
    int dropDuplicates(vserver::Store& store, std::vector<vserver::DeviceMessage>& batch);

    QString storePath_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Job> pending_;
    bool stopping_ = false;
    std::unordered_map<int, qint64> lastStoredMs_; // per device, on the writer's thread only
    std::unique_ptr<WalCheckpointer> checkpointer_; // for a SQLite file
    std::thread thread_;
};

} // namespace trackers
