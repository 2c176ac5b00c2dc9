#pragma once

#include <QString>
#include <functional>

class QAction;
class TForm1;

// The settings file beside the program: read once at start-up, written at every close; the
// info-point kind box and the kinds' menu items follow the definitions it holds.
class SettingsController {
public:
    explicit SettingsController(TForm1& form) : f(form) {}

    void LoadSettings();
    void SaveSettings();
    void FillInfoPointKinds();
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

    TForm1& f;
    bool loadRan_ = false;
    bool definitionsRead_ = false;
};
