#include "WalCheckpointer.h"

#include <sqlite3.h>

namespace trackers {

WalCheckpointer::WalCheckpointer(const QString& path, int intervalMs)
    : thread_([this, path, intervalMs] { run(path, intervalMs); }) {}

WalCheckpointer::~WalCheckpointer() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void WalCheckpointer::run(const QString& path, int intervalMs) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        sqlite3_close(db); // the writer reports the store's problems; commits then checkpoint themselves
        return;
    }
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::milliseconds(intervalMs), [this] { return stopping_; }))
        sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    sqlite3_close(db);
}

} // namespace trackers
