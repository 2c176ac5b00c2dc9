#pragma once

#include <QString>

// Where the player's message boxes go. The program shows plain boxes (an OK button, no icon,
// no owner); tests install a sink that records them.
class IMessageSink {
public:
    virtual ~IMessageSink() = default;
    virtual void showMessage(const QString& text, const QString& title) = 0;
};

class BoxMessageSink : public IMessageSink {
public:
    void showMessage(const QString& text, const QString& title) override;
};
