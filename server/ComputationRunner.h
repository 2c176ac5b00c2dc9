#pragma once

#include "ServerTypes.h"

#include <QString>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace vserver {

class Store;

// Computes one vehicle's trips at a time on a thread of its own, with a store connection that
// stays open from one request to the next. Only the newest request is wanted: the one under way
// stops at its next check, and one still waiting is dropped without being started, so a burst of
// requests costs about what its last one does.
class ComputationRunner {
public:
    struct Request {
        Car car;
        double begin = 0, end = 0;
    };
    struct Outcome {
        quint64 generation = 0;
        std::shared_ptr<Result> result; // null when it failed or stopped
        QString error;
        bool cancelled = false; // stopped on the way by a newer request (or the server's end)
    };
    // Told on the runner's thread how each started request ended.
    using Finished = std::function<void(Outcome)>;
    // Told on the runner's thread when a request's messages are read, before its trips are made.
    using Read = std::function<void(quint64 generation)>;

    ComputationRunner(QString storePath, Finished finished, Read read = {});
    ~ComputationRunner();
    ComputationRunner(const ComputationRunner&) = delete;
    ComputationRunner& operator=(const ComputationRunner&) = delete;

    // Replaces whatever is waiting or under way; returns the request's generation.
    quint64 submit(const Request& request);
    // Stops whatever is waiting or under way (the server is closing).
    void cancel();

private:
    void run(std::stop_token stop);
    Outcome compute(const Request& request, quint64 generation);

    const QString storePath_;
    const Finished finished_;
    const Read read_;
    std::shared_ptr<std::atomic<quint64>> latest_ = std::make_shared<std::atomic<quint64>>(0);
    std::unique_ptr<Store> store_; // the runner thread's own connection
    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::optional<std::pair<quint64, Request>> waiting_;
    std::jthread thread_; // last: started once everything above is in place
};

} // namespace vserver
