#include "ErrorReporter.h"

#include "MessageSink.h"

#include <QCoreApplication>

void ErrorReporter::guarded(const std::function<void()>& work) {
    try {
        work();
    } catch (const std::exception& error) {
        report(error);
    }
}

void ErrorReporter::report(const std::exception& error) {
    messages_.showMessage(QString::fromUtf8(error.what()), QCoreApplication::applicationName());
}
