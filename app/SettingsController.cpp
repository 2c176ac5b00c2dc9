#include "SettingsController.h"

#include "DateTimeValue.h"
#include "ImageLists.h"
#include "MessageSink.h"
#include "PlayerSession.h"
#include "SettingsDocument.h"
#include "SpeedText.h"
#include "VantrelError.h"
#include "WindowControls.h"

#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QTimeEdit>
#include <QToolButton>

QString SettingsController::filePath() const {
    return QDir(folder_).filePath(SettingsDocument::kFileName);
}

void SettingsController::guard(const std::function<void()>& work) {
    try {
        work();
    } catch (const std::exception& error) {
        messages_.showMessage(QString::fromUtf8(error.what()), QString());
    }
}

void SettingsController::LoadSettings() {
    guard([this] { load(); });
}

void SettingsController::SaveSettings() {
    guard([this] { save(); });
}

void SettingsController::load() {
    loadRan_ = true;
    const QString path = filePath();
    if (!QFile::exists(path))
        SettingsDocument::saveFile(path, SettingsDocument::defaultDocument());
    if (!QFile::exists(path))
        return;
    SettingsDocument document;
    document.loadFile(path);
    document.settings();
    s.definitionCount = document.infoPointsChildCount();
    if (s.definitionCount < 1) {
        // No definitions: the file is replaced by the default document, without a word.
        QFile::remove(path);
        SettingsDocument::saveFile(path, SettingsDocument::defaultDocument());
        document.loadFile(path);
        document.settings();
    }
    try {
        s.MapPath = document.text(QStringLiteral("MapPath"));
    } catch (const VantrelError& error) {
        // Said once; the rest of the file still loads, and the close writes the default map in
        // its place, so the next start loads fully.
        messages_.showMessage(error.text(), QString());
        s.MapPath = SettingsDocument::kDefaultMapPath;
    }
    s.checkpointsShown = document.boolean(QStringLiteral("LoadKT"));
    ui.ToolButton2->setChecked(document.boolean(QStringLiteral("LoadIT")));
    try {
        restoreSelection(document);
    } catch (const std::exception&) {
        // The selection and period are restored as far as they go.
    }
    const int speed = document.speed(QStringLiteral("Speed"));
    if (speed > 0) {
        s.clock.PlaySpeed = speed;
        ui.cmbSpeed->setEditText(speedtext::format(speed));
    }
    ui.ToolButton3->setChecked(document.boolean(QStringLiteral("Stops")));
    ui.txtCont->setText(document.text(QStringLiteral("Cont")));
    ui.ToolButton1->setChecked(s.checkpointsShown);

    s.definitionCount = document.infoPointsChildCount();
    s.definitions.assign(size_t(s.definitionCount), TInfoPoints{});
    for (int n = 1; n <= s.definitionCount; ++n) {
        TInfoPoints& definition = s.definitions[size_t(n - 1)];
        definition = document.definition(n);
        if (n < 2)
            continue;
        if (QAction* item = FindMenuItem(QStringLiteral("mnu%1").arg(n))) {
            item->setChecked(definition.VisibleIcon);
            item->setIcon(imagelists::menuImage(item->isChecked() ? n - 2 : n + 10));
        }
    }
    definitionsRead_ = true;
    // Read after everything the file held before the chart existed, so that a bad value can
    // never keep those from loading; a value that does not read leaves the chart shown.
    bool chartShown = true;
    try {
        chartShown = document.boolean(QStringLiteral("ChartShown"), true);
    } catch (const std::exception&) {
    }
    if (hooks.setChartShown)
        hooks.setChartShown(chartShown);
}

void SettingsController::restoreSelection(SettingsDocument& document) {
    const int group = document.integer(QStringLiteral("GroupID"));
    ui.cmbGroupName->setCurrentIndex(group >= 0 && group < ui.cmbGroupName->count() ? group : -1);
    if (hooks.groupRestored)
        hooks.groupRestored();
    if (ui.cmbGroupName->currentIndex() >= 0) {
        const int car = document.integer(QStringLiteral("CarID"));
        ui.cmbCarDevice->setCurrentIndex(car >= 0 && car < ui.cmbCarDevice->count() ? car : -1);
    }
    const QDateTime begin =
        datetime::toQDateTime(document.dateTime(QStringLiteral("DateTimeBegin")));
    ui.DateBegin->setDate(begin.date());
    ui.TimeBegin->setTime(begin.time());
    const QDateTime end = datetime::toQDateTime(document.dateTime(QStringLiteral("DateTimeEnd")));
    ui.DateEnd->setDate(end.date());
    ui.TimeEnd->setTime(end.time());
    s.selection.RequestPending = false;
    if (hooks.carRestored)
        hooks.carRestored();
}

void SettingsController::save() {
    // A run whose start never reached the load (no server) knows none of the file's values:
    // the file stays as the user had it.
    if (!loadRan_)
        return;
    const QString path = filePath();
    if (!QFile::exists(path))
        SettingsDocument::saveFile(path, SettingsDocument::seedDocument());
    SettingsValues values;
    values.mapPath = s.MapPath;
    values.loadKT = s.checkpointsShown;
    values.loadIT = ui.ToolButton2->isChecked();
    values.groupId = ui.cmbGroupName->currentIndex();
    values.carId = ui.cmbCarDevice->currentIndex();
    values.periodBegin = datetime::fromDateAndTime(ui.DateBegin->date(), ui.TimeBegin->time());
    values.periodEnd = datetime::fromDateAndTime(ui.DateEnd->date(), ui.TimeEnd->time());
    values.speed = ui.cmbSpeed->currentText();
    values.stops = ui.ToolButton3->isChecked();
    values.chartShown = hooks.chartShown ? hooks.chartShown() : true;
    values.cont = ui.txtCont->text();
    values.infoPointsCount = s.definitionCount;
    values.definitions = s.definitions;

    SettingsDocument document;
    document.loadFile(path);
    // A load that stopped before the definitions must not make this save wipe the file's.
    document.write(values, !definitionsRead_);
    SettingsDocument::saveFile(path, document.toBytes());
}

QAction* SettingsController::FindMenuItem(const QString& name) const {
    for (QAction* action : ui.PopupMenu1->findChildren<QAction*>())
        if (action->objectName() == name)
            return action;
    return nullptr;
}
