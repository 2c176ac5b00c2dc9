#include "DoubleArrayCall.h"

#include "LargePages.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <dbus/dbus.h>

namespace {

template <typename Answer> void releaseAnswered(DBusPendingCall*, void* answer) {
    Answer& came = **static_cast<std::shared_ptr<Answer>*>(answer);
    came.here = true;
    came.came.release();
}

template <typename Answer> void forgetAnswered(void* answer) {
    delete static_cast<std::shared_ptr<Answer>*>(answer);
}

QDBusError errorOf(DBusMessage* reply) {
    const char* text = nullptr;
    dbus_message_get_args(reply, nullptr, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID);
    return QDBusError(QDBusMessage::createError(QString::fromUtf8(dbus_message_get_error_name(reply)),
                                                QString::fromUtf8(text ? text : "")));
}

std::vector<double> numbersOf(DBusMessage* reply, QDBusError& error) {
    DBusMessageIter answer, array;
    if (!dbus_message_iter_init(reply, &answer) || dbus_message_iter_get_arg_type(&answer) != DBUS_TYPE_ARRAY ||
        dbus_message_iter_get_element_type(&answer) != DBUS_TYPE_DOUBLE) {
        error = QDBusError(QDBusError::InvalidSignature,
                           QStringLiteral("ответ сервера не массив чисел: «%1»")
                               .arg(QString::fromUtf8(dbus_message_get_signature(reply))));
        return {};
    }
    dbus_message_iter_recurse(&answer, &array);
    const double* numbers = nullptr;
    int count = 0;
    dbus_message_iter_get_fixed_array(&array, &numbers, &count);
    std::vector<double> values;
    largepages::reserve(values, size_t(std::max(count, 0)));
    values.assign(numbers, numbers + count);
    return values;
}

} // namespace

DoubleArrayCall::DoubleArrayCall(const QDBusConnection& bus, const QString& service, const QString& path,
                                 const QString& interface, const char* method) {
    auto* connection = static_cast<DBusConnection*>(bus.internalPointer());
    if (!connection)
        return;
    DBusMessage* call = dbus_message_new_method_call(service.toUtf8().constData(), path.toUtf8().constData(),
                                                     interface.toUtf8().constData(), method);
    // Without a timeout of libdbus's own: that would make libdbus ask Qt for a timer from this
    // thread, which Qt refuses. take() keeps the time limit instead.
    // An answer that came before the notification was set is seen right after.
    if (call &&
        dbus_connection_send_with_reply(connection, call, &pending_, DBUS_TIMEOUT_INFINITE) &&
        pending_) {
        dbus_pending_call_set_notify(pending_, releaseAnswered<Answer>,
                                     new std::shared_ptr<Answer>(answer_), forgetAnswered<Answer>);
        if (dbus_pending_call_get_completed(pending_))
            answer_->here = true;
    }
    if (call)
        dbus_message_unref(call);
}

DoubleArrayCall::~DoubleArrayCall() {
    if (pending_) {
        dbus_pending_call_cancel(pending_);
        dbus_pending_call_unref(pending_);
    }
}

bool DoubleArrayCall::answered() const {
    return !pending_ || answer_->here;
}

void DoubleArrayCall::wait(int timeoutMs) {
    QElapsedTimer waited;
    waited.start();
    while (!answered() && waited.elapsed() < timeoutMs)
        answer_->came.tryAcquire(1, 50);
}

std::vector<double> DoubleArrayCall::take(int timeoutMs, QDBusError& error) {
    if (!pending_) {
        error = QDBusError(QDBusError::Disconnected, QStringLiteral("the connection to the bus is closed"));
        return {};
    }
    wait(timeoutMs);
    if (!dbus_pending_call_get_completed(pending_)) {
        error = QDBusError(QDBusError::NoReply,
                           QStringLiteral("no answer within %1 ms").arg(timeoutMs));
        return {};
    }
    DBusMessage* reply = dbus_pending_call_steal_reply(pending_);
    dbus_pending_call_unref(pending_);
    pending_ = nullptr;
    if (!reply) {
        error = QDBusError(QDBusError::NoReply, QStringLiteral("the call ended without an answer"));
        return {};
    }
    std::vector<double> numbers;
    if (dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_ERROR)
        error = errorOf(reply);
    else
        numbers = numbersOf(reply, error);
    dbus_message_unref(reply);
    return numbers;
}
