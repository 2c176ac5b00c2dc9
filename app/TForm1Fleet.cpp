// The main window's side of the fleet view: its button, opening it, and a vehicle from it.
#include "DateTimeValue.h"
#include "ExportController.h"
#include "FleetWindow.h"
#include "LocalAutomation.h"
#include "PlaybackController.h"
#include "PlayerSession.h"
#include "SelectionController.h"
#include "TForm1.h"
#include "VantrelError.h"

#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QTimeEdit>
#include <QToolButton>
#include <QTreeWidget>
#include <algorithm>
#include <cmath>

void TForm1::createFleetButton() {
    if (!MapvexCtrl)
        return;
    btnFleet_ = new QToolButton(MapvexCtrl);
    btnFleet_->setObjectName(QStringLiteral("btnFleet"));
    btnFleet_->setText(QStringLiteral("Весь парк"));
    btnFleet_->setToolTip(QStringLiteral(
        "Все машины выбранной группы за этот период на одних часах, в отдельном окне"));
    btnFleet_->setAutoRaise(false);
    connect(btnFleet_, &QToolButton::clicked, this, [this] {
        guarded([this] {
            const int group = cmbGroupName->currentIndex();
            if (group < 0 || group >= session_->selection.GroupIds.size())
                throw VantrelError(QStringLiteral("Выберите группу машин"));
            double from = datetime::fromDateAndTime(DateBegin->date(), TimeBegin->time());
            double to = datetime::fromDateAndTime(DateEnd->date(), TimeEnd->time());
            // A period too long for the whole fleet (the settings' default spans two years)
            // opens on the day of the trip on screen, at its moment, rather than refusing.
            double moment = std::nan("");
            if (to - from > FleetLoader::kMaxDays && session_->track.PointCount > 0) {
                moment = session_->track.time(
                    std::clamp(session_->CurPoint, 1, session_->track.PointCount));
                from = std::floor(moment);
                to = from + 1;
            }
            openFleet(session_->selection.GroupIds[group], from, to, moment);
        });
    });
}

void TForm1::placeFleetButton() {
    // Under «Экспорт», so that no button of the row moves.
    QToolButton* exportButton = exporter_ ? exporter_->button() : nullptr;
    if (!btnFleet_ || !exportButton)
        return;
    btnFleet_->adjustSize();
    btnFleet_->move(exportButton->x() + exportButton->width() - btnFleet_->width(),
                    exportButton->y() + exportButton->height() + 4);
    btnFleet_->raise();
}

FleetWindow* TForm1::openFleet(const QString& group, double from, double to, double moment) {
    FleetLoader::checkPeriod(from, to); // refused at once, before a window opens
    QString store = session_->hasServer() ? session_->storePath() : QString();
    if (store.isEmpty())
        store = LocalAutomation::defaultStorePath();
    FleetWindow::Setup setup;
    setup.storePath = store;
    setup.mapPath = session_->MapPath;
    setup.now = environment_.now;
    setup.openInMain = [this](const QString& groupId, int device, double begin, double end,
                              double moment) {
        openFromFleet(groupId, device, begin, end, moment);
        raise();
        activateWindow();
    };
    auto* window = new FleetWindow(std::move(setup), errors_, this);
    window->show();
    window->load({group, from, to, {}}, moment);
    return window;
}

void TForm1::openFromFleet(const QString& groupId, int device, double begin, double end,
                           double moment) {
    if (!session_->hasServer())
        throw VantrelError(
            QStringLiteral("Нет связи с сервером Vantrel: открыть машину в главном окне нельзя"));
    const int group = int(session_->selection.GroupIds.indexOf(groupId));
    if (group < 0)
        throw VantrelError(QStringLiteral("Сервер не знает группы «%1»").arg(groupId));
    if (session_->playing())
        playback_->btnStopClick();
    cmbGroupName->setCurrentIndex(group);
    selection_->cmbGroupNameChange();
    const int car = cmbCarDevice->findText(QString::number(device));
    if (car < 0)
        throw VantrelError(QStringLiteral("Сервер не знает машины с прибором %1").arg(device));
    const QDateTime from = datetime::toQDateTime(begin), to = datetime::toQDateTime(end);
    DateBegin->setDate(from.date());
    TimeBegin->setTime(from.time());
    DateEnd->setDate(to.date());
    TimeEnd->setTime(to.time());
    cmbCarDevice->setCurrentIndex(car);
    session_->selection.RequestPending = false; // the operator's newest choice is asked for
    session_->selection.CurrentTrip = 0;
    fleetMoment_ = moment;
    selection_->cmbChange(cmbCarDevice);
}

void TForm1::showFleetMoment(double moment) {
    // The trip the moment falls in, else the last one begun before it, else the first.
    int chosen = 0;
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = ListView1->topLevelItem(i);
        if (datetime::parseText(row->text(1)) <= moment + datetime::kOneSecond / 2)
            chosen = i;
    }
    if (ListView1->topLevelItemCount() < 1)
        return;
    if (chosen + 1 != session_->selection.CurrentTrip) {
        ListView1->setCurrentItem(ListView1->topLevelItem(chosen));
        session_->chooseTrip(chosen + 1);
        lblTripNum->setText(QString::number(chosen + 1));
    }
    const TrackStore& track = session_->track;
    if (track.PointCount >= 1)
        playback_->seekTo(
            std::clamp(moment, track.time(1), track.time(track.PointCount) - datetime::kOneSecond));
}
