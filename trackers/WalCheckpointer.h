#pragma once

#include <QString>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace trackers {

// Copies a SQLite store's write-ahead log into the file from a connection and thread of its own,
// a few times a second, without waiting for anyone (a passive checkpoint). Left to the writer,
// every thousandth page of log made one commit copy four megabytes first, and the live batches
// behind it waited 40-50 ms; this way the writer's commits stay short.
class WalCheckpointer {
public:
    explicit WalCheckpointer(const QString& path, int intervalMs = 250);
    ~WalCheckpointer();
    WalCheckpointer(const WalCheckpointer&) = delete;
    WalCheckpointer& operator=(const WalCheckpointer&) = delete;

private:
    void run(const QString& path, int intervalMs);

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace trackers
