#include "PositionWriter.h"

#include "DateTimeValue.h"
#include "Store.h"

#include <QMetaObject>
#include <algorithm>
#include <memory>
#include <optional>
#include <unordered_set>

namespace trackers {

PositionWriter::PositionWriter(const QString& storePath, QObject* parent)
    : QObject(parent), storePath_(storePath), thread_([this] { run(); }) {
    if (!vserver::Store::isDatabaseUri(storePath))
        checkpointer_ = std::make_unique<WalCheckpointer>(storePath);
}

PositionWriter::~PositionWriter() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void PositionWriter::submit(std::vector<vserver::DeviceMessage> messages, Done done) {
    {
        const std::lock_guard lock(mutex_);
        pending_.push_back({std::move(messages), std::move(done)});
    }
    wake_.notify_one();
}

int PositionWriter::dropDuplicates(vserver::Store& store, std::vector<vserver::DeviceMessage>& batch) {
    const auto key = [](const vserver::DeviceMessage& d) { return datetime::milliseconds(d.message.time); };
    std::stable_sort(batch.begin(), batch.end(), [&](const auto& a, const auto& b) {
        return a.device != b.device ? a.device < b.device : key(a) < key(b);
    });
    const size_t before = batch.size();
    std::vector<vserver::DeviceMessage> kept;
    kept.reserve(batch.size());
    for (size_t from = 0; from < batch.size();) {
        size_t to = from;
        while (to < batch.size() && batch[to].device == batch[from].device)
            ++to;
        const int device = batch[from].device;
        const qint64 first = key(batch[from]);
        // A device whose positions all follow its last stored one needs no look at the store.
        std::unordered_set<qint64> stored;
        const auto last = lastStoredMs_.find(device);
        if (last == lastStoredMs_.end() || first <= last->second) {
            const double slack = datetime::kOneSecond / 1000;
            for (const vserver::Message& m : store.messages(device, batch[from].message.time - slack,
                                                            batch[to - 1].message.time + slack))
                stored.insert(datetime::milliseconds(m.time));
        }
        std::optional<qint64> previous;
        for (size_t i = from; i < to; ++i) {
            const qint64 k = key(batch[i]);
            if (k == previous || stored.count(k))
                continue;
            previous = k;
            kept.push_back(batch[i]);
        }
        from = to;
    }
    batch.swap(kept);
    return int(before - batch.size());
}

void PositionWriter::run() {
    std::unique_ptr<vserver::Store> store;
    for (;;) {
        std::vector<Job> jobs;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
            if (pending_.empty())
                return;
            jobs.swap(pending_);
        }
        std::vector<vserver::DeviceMessage> batch;
        for (Job& job : jobs)
            batch.insert(batch.end(), job.messages.begin(), job.messages.end());
        bool stored = false;
        int added = 0, duplicates = 0;
        QString failure;
        try {
            if (!store)
                store = std::make_unique<vserver::Store>(storePath_);
            store->begin();
            try {
                duplicates = dropDuplicates(*store, batch);
                store->addLiveMessages(batch);
                store->commit();
            } catch (...) {
                lastStoredMs_.clear();
                try {
                    store->rollback();
                } catch (const std::exception&) {
                    // The connection is gone: the database dropped the transaction itself.
                }
                throw;
            }
            for (const vserver::DeviceMessage& d : batch) {
                qint64& last = lastStoredMs_[d.device];
                last = std::max(last, datetime::milliseconds(d.message.time));
            }
            added = int(batch.size());
            stored = true;
        } catch (const std::exception& error) {
            failure = QString::fromUtf8(error.what());
            store.reset(); // a lost connection is opened again for the next batch
        }
        std::vector<Done> dones;
        for (Job& job : jobs)
            dones.push_back(std::move(job.done));
        QMetaObject::invokeMethod(this, [this, dones = std::move(dones), stored, added, duplicates, failure] {
            for (const Done& done : dones)
                done(stored);
            if (stored)
                emit batchStored(added, duplicates);
            else
                emit batchFailed(failure);
        }, Qt::QueuedConnection);
    }
}

} // namespace trackers
