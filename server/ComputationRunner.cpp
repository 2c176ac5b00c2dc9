#include "ComputationRunner.h"

#include "Computation.h"
#include "Store.h"

namespace vserver {

ComputationRunner::ComputationRunner(QString storePath, Finished finished, Read read)
    : storePath_(std::move(storePath)), finished_(std::move(finished)), read_(std::move(read)),
      thread_([this](std::stop_token stop) { run(stop); }) {}

ComputationRunner::~ComputationRunner() {
    cancel();
    thread_.request_stop(); // wakes the thread through the condition's stop token
    thread_.join();
}

quint64 ComputationRunner::submit(const Request& request) {
    const std::lock_guard lock(mutex_);
    const quint64 generation = ++*latest_; // the one under way stops at its next check
    waiting_.emplace(generation, request);
    wake_.notify_one();
    return generation;
}

void ComputationRunner::cancel() {
    const std::lock_guard lock(mutex_);
    ++*latest_;
    waiting_.reset();
}

void ComputationRunner::run(std::stop_token stop) {
    for (;;) {
        std::optional<std::pair<quint64, Request>> next;
        {
            std::unique_lock lock(mutex_);
            if (!wake_.wait(lock, stop, [&] { return waiting_.has_value(); }))
                return;
            next.swap(waiting_);
        }
        finished_(compute(next->second, next->first));
    }
}

ComputationRunner::Outcome ComputationRunner::compute(const Request& request, quint64 generation) {
    Outcome outcome;
    outcome.generation = generation;
    const CancelToken cancel(latest_, generation);
    try {
        if (!store_) // a store removed meanwhile is not made anew
            store_ = std::make_unique<Store>(storePath_, Store::Opening::Existing);
        const std::vector<Checkpoint> checkpoints = store_->checkpoints(request.car.checkpointList);
        auto result = std::make_shared<Result>();
        result->groupId = request.car.groupId;
        result->carId = request.car.id;
        result->trips = computeTripsWhileReading(
            [&](std::vector<Message>& messages, const std::function<void(size_t)>& ready) {
                store_->readMessages(request.car.device, request.begin, request.end, cancel,
                                     messages, ready);
                if (read_)
                    read_(generation);
            },
            checkpoints, {}, cancel);
        outcome.result = std::move(result);
    } catch (const Cancelled&) {
        outcome.cancelled = true;
    } catch (const std::exception& error) {
        outcome.error = QString::fromUtf8(error.what());
        store_.reset(); // a store removed, replaced or gone away is opened anew next time
    }
    return outcome;
}

} // namespace vserver
