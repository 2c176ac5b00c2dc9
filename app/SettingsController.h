#pragma once

#include <QString>
#include <functional>

class IMessageSink;
class PlayerSession;
class QAction;
struct WindowControls;

// The settings file beside the program: read once at start-up, written at every close; the
// kinds' menu items follow the definitions it holds.
class SettingsController {
public:
    SettingsController(PlayerSession& session, WindowControls& ui, IMessageSink& messages,
                       QString folder)
        : s(session), ui(ui), messages_(messages), folder_(std::move(folder)) {}

    // What the window does when the file restores a choice, and the chart's state.
    struct Hooks {
        std::function<void()> groupRestored; // the group box was set
        std::function<void()> carRestored;   // the car boxes and the period were set
        std::function<bool()> chartShown;
        std::function<void(bool)> setChartShown;
    } hooks;

    void LoadSettings();
    void SaveSettings();
    QAction* FindMenuItem(const QString& name) const;

    QString filePath() const;
    // True once every definition of the file was read in this run.
    bool definitionsRead() const { return definitionsRead_; }

private:
    // A guard that shows the error's own text under an empty title and goes on.
    void guard(const std::function<void()>& work);
    void load();
    void restoreSelection(class SettingsDocument& document);
    void save();

    PlayerSession& s;
    WindowControls& ui;
    IMessageSink& messages_;
    QString folder_;
    bool loadRan_ = false;
    bool definitionsRead_ = false;
};
