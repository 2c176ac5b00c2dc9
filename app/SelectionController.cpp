#include "SelectionController.h"

#include "DateTimeValue.h"
#include "IntegerText.h"
#include "PlayerSession.h"
#include "VantrelError.h"
#include "WindowControls.h"

#include <QComboBox>
#include <QDateEdit>
#include <QTimeEdit>
#include <QTreeWidget>

void SelectionController::LoadGroups() {
    if (!s.hasServer())
        return;
    ui.cmbGroupName->addItems(s.loadGroups());
    if (ui.cmbGroupName->count() > 0)
        ui.cmbGroupName->setCurrentIndex(0);
}

void SelectionController::cmbGroupNameChange() {
    const int group = ui.cmbGroupName->currentIndex();
    if (!s.hasServer() || group < 0)
        return;
    for (QComboBox* combo : {ui.cmbCarName, ui.cmbCarNum, ui.cmbCarDevice})
        combo->clear();
    RefreshGroup();
    for (const PlayerSession::Car& car : s.carsOf(s.selection.GroupIds.value(group))) {
        ui.cmbCarName->addItem(car.name);
        ui.cmbCarNum->addItem(car.number);
        ui.cmbCarDevice->addItem(QString::number(car.device));
    }
    // Filling a list selects its first item; no car is chosen until the user chooses one.
    for (QComboBox* combo : {ui.cmbCarName, ui.cmbCarNum, ui.cmbCarDevice})
        combo->setCurrentIndex(-1);
}

void SelectionController::cmbChange(QComboBox* sender) {
    // The three boxes move together even after the server closed; only the request needs it.
    const int index = sender->currentIndex();
    for (QComboBox* combo : {ui.cmbCarName, ui.cmbCarNum, ui.cmbCarDevice})
        combo->setCurrentIndex(index < combo->count() ? index : -1);
    if (!s.selection.RequestPending)
        RequestTrack();
}

void SelectionController::RefreshGroup() {
    if (!s.hasServer() || ui.cmbCarDevice->currentIndex() >= 0)
        return;
    s.stop();
    const int group = ui.cmbGroupName->currentIndex();
    if (group >= 0)
        s.selectGroup(s.selection.GroupIds.value(group));
}

void SelectionController::followComputation(bool ownRequest) {
    if (ownRequest || !s.hasServer())
        return;
    s.selectComputedGroup();
    for (int i = 0; i < ui.cmbGroupName->count(); ++i) {
        if (ui.cmbGroupName->itemText(i) == s.propertyValue()) {
            ui.cmbGroupName->setCurrentIndex(i);
            cmbGroupNameChange();
        }
    }
    s.selectComputedCar();
    for (int i = 0; i < ui.cmbCarDevice->count(); ++i) {
        if (ui.cmbCarDevice->itemText(i) == s.propertyValue()) {
            ui.cmbCarDevice->setCurrentIndex(i);
            s.selection.RequestPending = true;
            cmbChange(ui.cmbCarDevice);
        }
    }
}

void SelectionController::RequestTrack() {
    if (!s.hasServer())
        return;
    const double begin = datetime::fromDateAndTime(ui.DateBegin->date(), ui.TimeBegin->time());
    const double end = datetime::fromDateAndTime(ui.DateEnd->date(), ui.TimeEnd->time());
    const int device = parseInteger(ui.cmbCarDevice->currentText());
    const int group = ui.cmbGroupName->currentIndex();
    if (group < 0 || group >= s.selection.GroupIds.size())
        throw VantrelError(QStringLiteral("Не выбрана группа"));
    s.requestTrack(s.selection.GroupIds[group], device, begin, end);
    ui.cmbInfoPoints->setCurrentIndex(-1);
    ui.ListView1->clear();
}
