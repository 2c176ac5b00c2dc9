#pragma once

#include <QString>
#include <exception>
#include <functional>

class IMessageSink;

// The one error reporter: every handler's entry runs its work through `guarded`, and an error
// that leaves it is shown in a message box titled with the program's name; the window goes on.
class ErrorReporter {
public:
    explicit ErrorReporter(IMessageSink& messages) : messages_(messages) {}

    void guarded(const std::function<void()>& work);
    void report(const std::exception& error);
    IMessageSink& messages() { return messages_; }

private:
    IMessageSink& messages_;
};
