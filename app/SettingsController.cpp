#include "SettingsController.h"

#include "DateTimeValue.h"
#include "ImageLists.h"
#include "InfoPointsController.h"
#include "MessageSink.h"
#include "SelectionController.h"
#include "SettingsDocument.h"
#include "SpeedText.h"
#include "TForm1.h"
#include "VantrelError.h"

#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTimeEdit>
#include <QToolButton>

QString SettingsController::filePath() const {
    return QDir(f.environment().settingsDirectory).filePath(SettingsDocument::kFileName);
}

void SettingsController::guard(const std::function<void()>& work) {
    try {
        work();
    } catch (const std::exception& error) {
        f.environment().messages->showMessage(QString::fromUtf8(error.what()), QString());
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
    f.definitionCount = document.infoPointsChildCount();
    if (f.definitionCount < 1) {
        // No definitions: the file is replaced by the default document, without a word.
        QFile::remove(path);
        SettingsDocument::saveFile(path, SettingsDocument::defaultDocument());
        document.loadFile(path);
        document.settings();
    }
    try {
        f.MapPath = document.text(QStringLiteral("MapPath"));
    } catch (const VantrelError& error) {
        // Said once; the rest of the file still loads, and the close writes the default map in
        // its place, so the next start loads fully.
        f.environment().messages->showMessage(error.text(), QString());
        f.MapPath = SettingsDocument::kDefaultMapPath;
    }
    f.checkpointsShown = document.boolean(QStringLiteral("LoadKT"));
    f.ToolButton2->setChecked(document.boolean(QStringLiteral("LoadIT")));
    try {
        restoreSelection(document);
    } catch (const std::exception&) {
        // The selection and period are restored as far as they go.
    }
    const int speed = document.speed(QStringLiteral("Speed"));
    if (speed > 0) {
        f.clock.PlaySpeed = speed;
        f.cmbSpeed->setEditText(speedtext::format(speed));
    }
    f.ToolButton3->setChecked(document.boolean(QStringLiteral("Stops")));
    f.setChartShown(document.boolean(QStringLiteral("ChartShown"), true));
    f.txtCont->setText(document.text(QStringLiteral("Cont")));
    f.ToolButton1->setChecked(f.checkpointsShown);

    f.definitionCount = document.infoPointsChildCount();
    f.definitions.assign(size_t(f.definitionCount), TInfoPoints{});
    for (int n = 1; n <= f.definitionCount; ++n) {
        TInfoPoints& definition = f.definitions[size_t(n - 1)];
        definition = document.definition(n);
        if (n < 2)
            continue;
        if (QAction* item = FindMenuItem(QStringLiteral("mnu%1").arg(n))) {
            item->setChecked(definition.VisibleIcon);
            item->setIcon(imagelists::menuImage(item->isChecked() ? n - 2 : n + 10));
        }
    }
    definitionsRead_ = true;
}

void SettingsController::restoreSelection(SettingsDocument& document) {
    const int group = document.integer(QStringLiteral("GroupID"));
    f.cmbGroupName->setCurrentIndex(group >= 0 && group < f.cmbGroupName->count() ? group : -1);
    f.selection().cmbGroupNameChange();
    if (f.cmbGroupName->currentIndex() >= 0) {
        const int car = document.integer(QStringLiteral("CarID"));
        f.cmbCarDevice->setCurrentIndex(car >= 0 && car < f.cmbCarDevice->count() ? car : -1);
    }
    const QDateTime begin = datetime::toQDateTime(document.dateTime(QStringLiteral("DateTimeBegin")));
    f.DateBegin->setDate(begin.date());
    f.TimeBegin->setTime(begin.time());
    const QDateTime end = datetime::toQDateTime(document.dateTime(QStringLiteral("DateTimeEnd")));
    f.DateEnd->setDate(end.date());
    f.TimeEnd->setTime(end.time());
    f.selectionState.RequestPending = false;
    f.selection().cmbChange(f.cmbCarDevice);
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
    values.mapPath = f.MapPath;
    values.loadKT = f.checkpointsShown;
    values.loadIT = f.ToolButton2->isChecked();
    values.groupId = f.cmbGroupName->currentIndex();
    values.carId = f.cmbCarDevice->currentIndex();
    values.periodBegin = datetime::fromDateAndTime(f.DateBegin->date(), f.TimeBegin->time());
    values.periodEnd = datetime::fromDateAndTime(f.DateEnd->date(), f.TimeEnd->time());
    values.speed = f.cmbSpeed->currentText();
    values.stops = f.ToolButton3->isChecked();
    values.chartShown = f.chartShown();
    values.cont = f.txtCont->text();
    values.infoPointsCount = f.definitionCount;
    values.definitions = f.definitions;

    SettingsDocument document;
    document.loadFile(path);
    // A load that stopped before the definitions must not make this save wipe the file's.
    document.write(values, !definitionsRead_);
    SettingsDocument::saveFile(path, document.toBytes());
}

void SettingsController::FillInfoPointKinds() {
    f.cmbInfoPoints->clear();
    f.cmbInfoPoints->addItem(QStringLiteral("Список рейсов"), 0);
    for (size_t k = 0; k < f.definitions.size(); ++k)
        if (f.definitions[k].VisibleList)
            f.cmbInfoPoints->addItem(f.definitions[k].name, int(k + 1));
    f.cmbInfoPoints->setCurrentIndex(0);
    f.infoPoints().cmbInfoPointsChange();
}

QAction* SettingsController::FindMenuItem(const QString& name) const {
    for (QAction* action : f.findChildren<QAction*>())
        if (action->objectName() == name)
            return action;
    return nullptr;
}
