#include "SelectionController.h"

#include "DateTimeValue.h"
#include "IMapvexControl.h"
#include "IVantrelAutomation.h"
#include "InfoPointsController.h"
#include "IntegerText.h"
#include "MapController.h"
#include "MapLayers.h"
#include "PlaybackController.h"
#include "SpeedChart.h"
#include "TForm1.h"
#include "VantrelError.h"
#include "WaitCursor.h"

#include <QComboBox>
#include <QDateEdit>
#include <QSlider>
#include <QTimeEdit>
#include <QToolButton>
#include <QTreeWidget>

namespace {

int checkedCount(int count, const char* what) {
    if (count < 0)
        throw VantrelError(
            QStringLiteral("Сервер сообщил неверное число %1: %2").arg(QString::fromUtf8(what)).arg(count));
    return count;
}

} // namespace

void SelectionController::LoadGroups() {
    if (!f.server)
        return;
    IVantrelAutomation& server = *f.server;
    f.selectionState.GroupIds.clear();
    const int count = checkedCount(server.GroupCount(), "групп");
    for (int i = 1; i <= count; ++i) {
        server.SetGroupIndex(i);
        f.selectionState.GroupIds << server.GroupId();
        f.cmbGroupName->addItem(server.GroupName());
    }
    if (f.cmbGroupName->count() > 0)
        f.cmbGroupName->setCurrentIndex(0);
}

void SelectionController::cmbGroupNameChange() {
    const int group = f.cmbGroupName->currentIndex();
    if (!f.server || group < 0)
        return;
    for (QComboBox* combo : {f.cmbCarName, f.cmbCarNum, f.cmbCarDevice})
        combo->clear();
    RefreshGroup();
    IVantrelAutomation& server = *f.server;
    server.SelectGroup(f.selectionState.GroupIds.value(group));
    const int count = checkedCount(server.CarCount(), "машин");
    for (int i = 1; i <= count; ++i) {
        server.SetCarIndex(i);
        f.cmbCarName->addItem(server.CarName());
        f.cmbCarNum->addItem(server.CarNumber());
        f.cmbCarDevice->addItem(QString::number(server.CarDeviceNumber()));
    }
    // Filling a list selects its first item; no car is chosen until the user chooses one.
    for (QComboBox* combo : {f.cmbCarName, f.cmbCarNum, f.cmbCarDevice})
        combo->setCurrentIndex(-1);
}

void SelectionController::cmbChange(QComboBox* sender) {
    // The three boxes move together even after the server closed; only the request needs it.
    const int index = sender->currentIndex();
    for (QComboBox* combo : {f.cmbCarName, f.cmbCarNum, f.cmbCarDevice})
        combo->setCurrentIndex(index < combo->count() ? index : -1);
    if (!f.selectionState.RequestPending)
        RequestTrack();
}

void SelectionController::RefreshGroup() {
    if (!f.server || f.cmbCarDevice->currentIndex() >= 0)
        return;
    f.playback().btnStopClick();
    const int group = f.cmbGroupName->currentIndex();
    if (group >= 0)
        f.server->SelectGroup(f.selectionState.GroupIds.value(group));
}

void SelectionController::ServerEndComputing() {
    if (!f.server)
        return;
    IVantrelAutomation& server = *f.server;
    SelectionState& state = f.selectionState;
    if (!state.RequestPending) {
        // A computation started elsewhere: follow it to its group and car.
        server.SelectGroup(server.CurrentGroupId());
        server.SetPropertyName(QStringLiteral("Group_Name"));
        for (int i = 0; i < f.cmbGroupName->count(); ++i) {
            if (f.cmbGroupName->itemText(i) == server.PropertyValue()) {
                f.cmbGroupName->setCurrentIndex(i);
                cmbGroupNameChange();
            }
        }
        server.SelectCar(server.CurrentCarId());
        server.SetPropertyName(QStringLiteral("Car_Device"));
        for (int i = 0; i < f.cmbCarDevice->count(); ++i) {
            if (f.cmbCarDevice->itemText(i) == server.PropertyValue()) {
                f.cmbCarDevice->setCurrentIndex(i);
                state.RequestPending = true;
                cmbChange(f.cmbCarDevice);
            }
        }
    }
    state.RequestPending = false;
    state.CurrentTrip = 0;
    f.infoPoints().FillTripList();
    if (f.ToolButton1->isChecked())
        f.map().ShowCheckpoints();
    if (f.ToolButton2->isChecked())
        f.infoPoints().LoadInfoPointPositions();
}

void SelectionController::RequestTrack() {
    if (!f.server)
        return;
    const double begin = datetime::fromDateAndTime(f.DateBegin->date(), f.TimeBegin->time());
    const double end = datetime::fromDateAndTime(f.DateEnd->date(), f.TimeEnd->time());
    f.selectionState.RequestPending = true;
    try {
        const int device = parseInteger(f.cmbCarDevice->currentText());
        const int group = f.cmbGroupName->currentIndex();
        if (group < 0 || group >= f.selectionState.GroupIds.size())
            throw VantrelError(QStringLiteral("Не выбрана группа"));
        f.server->ComputeTrack(f.selectionState.GroupIds[group], device, datetime::formatText(begin),
                               datetime::formatText(end), QStringLiteral("GSM"), 1);
    } catch (...) {
        // Nothing was asked of the server, so no answer will come: the next choice may ask.
        f.selectionState.RequestPending = false;
        throw;
    }
    f.cmbInfoPoints->setCurrentIndex(-1);
    f.ListView1->clear();
}

void SelectionController::LoadTrack(int tripNumber) {
    if (!f.server)
        return;
    IVantrelAutomation& server = *f.server;
    const WaitCursor waiting;
    server.SetTripIndex(tripNumber);
    const int count = server.TrackPointCount();
    if (count < 0)
        throw VantrelError(QStringLiteral("Сервер сообщил неверное число точек трека: %1").arg(count));
    if (count < 1) {
        f.track.setEmpty();
    } else {
        server.SendTrackCallsAhead(f.selectionState.CurrentTrip);
        f.track.load(server.TrackCrdsArray(), count);
    }
    f.speedChart->setTrack(f.track);
    if (count < 1) {
        f.infoPoints().loadTripEvents();
        return;
    }
    f.mapLayers->shapes.count = 0;
    f.ToolButton4->setChecked(true);
    f.clock.PlayBase = f.track.TrackStartTime();
    const double last = f.track.time(f.track.PointCount);
    const qint64 seconds = datetime::secondsBetween(f.track.TrackStartTime(), last);
    f.TrackBar->setMinimum(0);
    f.TrackBar->setMaximum(static_cast<int>(std::min<qint64>(seconds, INT_MAX)));
    f.TrackBar->setTickInterval(std::max(1, f.TrackBar->maximum() / 20));
    f.playback().btnStopClick();
    f.map().RefreshLayers(1);
    f.mapControl->SetCurScale(20000.0);
    f.mapControl->CenterOn(f.track.data(3), f.track.data(2));
    f.infoPoints().loadTripEvents();
}
