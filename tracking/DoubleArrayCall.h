#pragma once

#include <QDBusError>
#include <QSemaphore>
#include <atomic>
#include <memory>
#include <vector>

class QDBusConnection;
struct DBusPendingCall;

// A call without arguments whose answer is an array of doubles ("ad"), sent on Qt's own
// connection but read with libdbus: Qt hands such an answer over one number at a time, about
// half a second for a million-point trip, where libdbus gives the whole array at once. Qt's bus
// thread still does all the reading; this only waits for the answer.
class DoubleArrayCall {
public:
    DoubleArrayCall(const QDBusConnection& bus, const QString& service, const QString& path,
                    const QString& interface, const char* method);
    ~DoubleArrayCall();
    DoubleArrayCall(const DoubleArrayCall&) = delete;
    DoubleArrayCall& operator=(const DoubleArrayCall&) = delete;

    // The answer has come (or the call could not be sent): take() returns at once. Asks libdbus
    // nothing: its connection stays locked while Qt's bus thread reads a long answer.
    bool answered() const;
    // Waits up to timeoutMs for the answer without taking it.
    void wait(int timeoutMs);
    // Waits up to timeoutMs for the answer. A failure leaves `error` valid and returns nothing.
    std::vector<double> take(int timeoutMs, QDBusError& error);

private:
    struct Answer {
        QSemaphore came;
        std::atomic<bool> here{false};
    };
    DBusPendingCall* pending_ = nullptr;
    std::shared_ptr<Answer> answer_ = std::make_shared<Answer>();
};
