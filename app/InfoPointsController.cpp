#include "InfoPointsController.h"

#include "DateTimeValue.h"
#include "EventRibbon.h"
#include "EntryQuery.h"
#include "IVantrelAutomation.h"
#include "IntegerText.h"
#include "MapController.h"
#include "MapLayers.h"
#include "PlaybackController.h"
#include "SelectionController.h"
#include "SpeedChart.h"
#include "TForm1.h"
#include "VantrelError.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QTreeWidget>
#include <cmath>

namespace {
constexpr int kServerIndexRole = Qt::UserRole; // which server trip or entry a row shows

const TInfoPoints& definitionOf(const InfoPointDefinitions& definitions, int kind) {
    if (kind < 1 || size_t(kind) > definitions.size())
        throw VantrelError(QStringLiteral("Нет описания вида информационных точек %1").arg(kind));
    return definitions[size_t(kind - 1)];
}
} // namespace

void InfoPointsController::addRow(const QStringList& columns, int serverIndex) {
    auto* item = new QTreeWidgetItem(f.ListView1, columns);
    item->setData(0, kServerIndexRole, serverIndex);
    for (int column = 0; column < columns.size(); ++column) // the whole date-time, however narrow the column
        item->setToolTip(column, columns[column]);
}

void InfoPointsController::setValueCaption(const QString& caption) {
    f.ListView1->headerItem()->setText(3, caption);
}

void InfoPointsController::FillTripList() {
    f.ListView1->clear();
    f.cmbInfoPoints->setCurrentIndex(0);
    if (!f.server)
        return;
    IVantrelAutomation& server = *f.server;
    if (server.ComputeStatus() != 0)
        return;
    const int count = server.TripCount();
    if (count < 1) {
        f.lblTripNum->setText(QStringLiteral("N/A"));
        return;
    }
    int& trip = f.selectionState.CurrentTrip;
    f.lblTripNum->setText(QString::number(trip));
    for (int b = 1; b <= count; ++b) {
        server.SetTripIndex(b);
        setValueCaption(QStringLiteral("Прод-ть"));
        addRow({QString::number(b), server.TripBegin(), server.TripEnd(), server.TripDuration()}, b);
    }
    if (f.ListView1->topLevelItemCount() == 0)
        return;
    if (trip <= 0) {
        trip = 1;
        f.ListView1->setCurrentItem(f.ListView1->topLevelItem(0));
        f.lblTripNum->setText(QStringLiteral("1"));
    } else {
        QTreeWidgetItem* row = f.ListView1->topLevelItem(trip - 1);
        f.ListView1->setCurrentItem(row);
        f.lblTripNum->setText(row ? QString::number(trip) : QStringLiteral("N/A"));
    }
    f.selection().LoadTrack(trip);
}

void InfoPointsController::cmbInfoPointsChange() {
    const int item = f.cmbInfoPoints->currentIndex();
    if (!f.server || item < 0)
        return;
    IVantrelAutomation& server = *f.server;
    if (server.TripCount() < 1)
        return;
    const int kind = f.cmbInfoPoints->itemData(item).toInt();
    if (kind == 0) {
        FillTripList();
        return;
    }
    int counter = 0;
    server.SetTripIndex(f.selectionState.CurrentTrip);
    f.ListView1->clear();
    const TInfoPoints definition = definitionOf(f.definitions, kind);
    entryquery::SelectEntryQuery(server, definition.query);
    const entryquery::ValueColumn column = entryquery::valueColumnFor(definition.query);
    setValueCaption(entryquery::valueColumnCaption(column));
    const int count = server.TripEntryCount();
    for (int k = 1; k <= count; ++k) {
        server.SetTripEntryIndex(k);
        const double days = entryquery::ParseEntryDuration(server.TripEntryDuration());
        const int minimum = parseInteger(f.txtCont->text());
        // Whole milliseconds, so an entry lasting exactly the minimum is listed.
        if (std::round(days * datetime::kSecondsPerDay * 1000) / 1000 < minimum)
            continue;
        ++counter;
        const QString begin = server.TripEntryBegin();
        const QString end = server.TripEntryEnd();
        QString value;
        switch (column) {
        case entryquery::ValueColumn::Speed:
            value = entryquery::listNumber(server.TripEntrySpeed());
            break;
        case entryquery::ValueColumn::Tank1:
            value = entryquery::listNumber(server.TripEntryTank1End() - server.TripEntryTank1Start());
            break;
        case entryquery::ValueColumn::Tank2:
            value = entryquery::listNumber(server.TripEntryTank2End() - server.TripEntryTank2Start());
            break;
        case entryquery::ValueColumn::Duration:
            value = server.TripEntryDuration();
            break;
        }
        addRow({QString::number(counter), begin, end, value}, k);
    }
}

void InfoPointsController::ListView1Click() {
    QTreeWidgetItem* row = f.ListView1->currentItem();
    const int item = f.cmbInfoPoints->currentIndex();
    if (!row || item < 0)
        return;
    const int kind = f.cmbInfoPoints->itemData(item).toInt();
    if (kind == 0)
        clickTrip(f.ListView1->indexOfTopLevelItem(row));
    else
        clickEntry(kind);
}

void InfoPointsController::clickTrip(int row) {
    int& trip = f.selectionState.CurrentTrip;
    trip = row + 1;
    if (f.ToolButton1->isChecked())
        f.map().ShowCheckpoints();
    if (f.ToolButton2->isChecked())
        LoadInfoPointPositions();
    f.selection().LoadTrack(trip);
    f.lblTripNum->setText(QString::number(trip));
    loadStopList();
}

void InfoPointsController::loadStopList() {
    // Stops are the entries of the second kind; without one there is nothing to skip.
    if (f.definitions.size() < 2) {
        f.StopList.clear();
        return;
    }
    if (!f.server)
        return;
    IVantrelAutomation& server = *f.server;
    entryquery::SelectEntryQuery(server, f.definitions[1].query);
    const int count = std::max(server.TripEntryCount(), 0);
    f.StopList.assign(size_t(count), TStops{});
    for (int k = 1; k <= count; ++k) {
        server.SetTripEntryIndex(k);
        TStops& stop = f.StopList[size_t(k - 1)];
        stop.BeginTime = datetime::parseText(server.TripEntryBegin());
        stop.EndTime = datetime::parseText(server.TripEntryEnd());
        stop.DurationText = server.TripEntryDuration();
    }
}

void InfoPointsController::clickEntry(int kind) {
    const int entry = f.ListView1->currentItem()->data(0, kServerIndexRole).toInt();
    try {
        f.playback().btnStopClick();
        jumpToEntry(entry);
    } catch (const std::exception&) {
        // Once, the trip's context is rebuilt on the server and the jump tried again.
        if (f.ToolButton1->isChecked())
            f.map().ShowCheckpoints();
        if (f.ToolButton2->isChecked())
            LoadInfoPointPositions();
        f.selection().LoadTrack(f.selectionState.CurrentTrip);
        if (f.server)
            entryquery::SelectEntryQuery(*f.server, definitionOf(f.definitions, kind).query);
        jumpToEntry(entry);
    }
}

void InfoPointsController::jumpToEntry(int serverEntry) {
    if (!f.server)
        return;
    f.server->SetTripEntryIndex(serverEntry);
    const double begin = datetime::parseText(f.server->TripEntryBegin());
    const qint64 seconds = datetime::secondsBetween(f.track.TrackStartTime(), begin);
    f.playback().setTrackBarPosition(static_cast<int>(std::clamp<qint64>(seconds, INT_MIN, INT_MAX)));
}

void InfoPointsController::loadTripEvents() {
    events_.clear();
    if (f.server && f.server->ComputeStatus() == 0 && f.selectionState.CurrentTrip >= 1 && f.track.PointCount >= 1) {
        std::vector<bool> wanted(f.definitions.size(), false);
        for (size_t k = 1; k < f.definitions.size(); ++k)
            wanted[k] = tripevents::onRibbon(f.definitions[k].query) ||
                        (f.ToolButton2->isChecked() && f.definitions[k].VisibleIcon);
        events_ = tripevents::load(*f.server, f.definitions, f.selectionState.CurrentTrip, wanted);
    }
    showEvents();
}

void InfoPointsController::showEvents() {
    std::vector<TripEvent> ribbon;
    std::vector<MapLayers::EventIcon> icons;
    std::vector<std::pair<double, double>> overSpeed;
    iconEvents_.clear();
    for (size_t i = 0; i < events_.size(); ++i) {
        const TripEvent& event = events_[i];
        const TInfoPoints& definition = definitionOf(f.definitions, event.kind);
        if (tripevents::onRibbon(definition.query))
            ribbon.push_back(event);
        if (definition.query == QLatin1String("over_speed"))
            overSpeed.emplace_back(event.begin, event.end);
        if (f.ToolButton2->isChecked() && definition.VisibleIcon && event.placed) {
            icons.push_back({event.lon, event.lat, definition.Icon, tripevents::hoverText(event, f.definitions)});
            iconEvents_.push_back(i);
        }
    }
    f.speedChart->setShaded(std::move(overSpeed));
    f.eventRibbon->setEvents(std::move(ribbon), f.track.PointCount >= 1 ? f.track.TrackStartTime() : 0, f.definitions);
    if (f.mapLayers->hasTables())
        f.mapLayers->refreshEventIcons(icons);
}

void InfoPointsController::jumpToEvent(const TripEvent& event) {
    if (!f.server)
        return;
    f.playback().btnStopClick();
    f.server->SetTripIndex(f.selectionState.CurrentTrip);
    entryquery::SelectEntryQuery(*f.server, definitionOf(f.definitions, event.kind).query);
    jumpToEntry(event.entry);
}

void InfoPointsController::clickIcon(int record) {
    if (record >= 0 && size_t(record) < iconEvents_.size())
        jumpToEvent(events_[iconEvents_[size_t(record)]]);
}

void InfoPointsController::LoadInfoPointPositions() {
    if (!f.ToolButton2->isChecked() || !f.server || f.server->ComputeStatus() == 1)
        return;
    f.infoPointPositions.load(*f.server, f.definitions, f.selectionState.CurrentTrip);
}
