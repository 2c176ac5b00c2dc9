#include "InfoPointsController.h"

#include "DateTimeValue.h"
#include "EntryQuery.h"
#include "EventRibbon.h"
#include "IntegerText.h"
#include "MapLayers.h"
#include "PlayerSession.h"
#include "SpeedChart.h"
#include "VantrelError.h"
#include "WindowControls.h"

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
    auto* item = new QTreeWidgetItem(ui.ListView1, columns);
    item->setData(0, kServerIndexRole, serverIndex);
    for (int column = 0; column < columns.size();
         ++column) // the whole date-time, however narrow the column
        item->setToolTip(column, columns[column]);
}

void InfoPointsController::setValueCaption(const QString& caption) {
    ui.ListView1->headerItem()->setText(3, caption);
}

void InfoPointsController::FillInfoPointKinds() {
    ui.cmbInfoPoints->clear();
    ui.cmbInfoPoints->addItem(QStringLiteral("Список рейсов"), 0);
    for (size_t k = 0; k < s.definitions.size(); ++k)
        if (s.definitions[k].VisibleList)
            ui.cmbInfoPoints->addItem(s.definitions[k].name, int(k + 1));
    ui.cmbInfoPoints->setCurrentIndex(0);
    cmbInfoPointsChange();
}

void InfoPointsController::FillTripList() {
    ui.ListView1->clear();
    ui.cmbInfoPoints->setCurrentIndex(0);
    s.setShownQuery(QString());
    if (!s.hasServer() || s.computeStatus() != 0)
        return;
    const std::vector<PlayerSession::Row> trips = s.trips();
    if (trips.empty()) {
        ui.lblTripNum->setText(QStringLiteral("N/A"));
        return;
    }
    int& trip = s.selection.CurrentTrip;
    ui.lblTripNum->setText(QString::number(trip));
    setValueCaption(QStringLiteral("Прод-ть"));
    for (const PlayerSession::Row& row : trips)
        addRow({QString::number(row.serverIndex), row.begin, row.end, row.duration},
               row.serverIndex);
    if (trip <= 0) {
        trip = 1;
        ui.ListView1->setCurrentItem(ui.ListView1->topLevelItem(0));
        ui.lblTripNum->setText(QStringLiteral("1"));
    } else {
        QTreeWidgetItem* row = ui.ListView1->topLevelItem(trip - 1);
        ui.ListView1->setCurrentItem(row);
        ui.lblTripNum->setText(row ? QString::number(trip) : QStringLiteral("N/A"));
    }
    s.loadTrack(trip);
}

void InfoPointsController::cmbInfoPointsChange() {
    const int item = ui.cmbInfoPoints->currentIndex();
    if (!s.hasServer() || item < 0)
        return;
    if (s.tripCount() < 1)
        return;
    const int kind = ui.cmbInfoPoints->itemData(item).toInt();
    if (kind == 0) {
        FillTripList();
        return;
    }
    ui.ListView1->clear();
    const TInfoPoints definition = definitionOf(s.definitions, kind);
    const entryquery::ValueColumn column = entryquery::valueColumnFor(definition.query);
    setValueCaption(entryquery::valueColumnCaption(column));
    s.setShownQuery(definition.query);
    const auto keep = [this](const QString& duration) {
        const double days = entryquery::ParseEntryDuration(duration);
        const int minimum = parseInteger(ui.txtCont->text());
        // Whole milliseconds, so an entry lasting exactly the minimum is listed.
        return std::round(days * datetime::kSecondsPerDay * 1000) / 1000 >= minimum;
    };
    int counter = 0;
    s.entries(s.selection.CurrentTrip, definition.query, keep, [&](const PlayerSession::Row& row) {
        QString value;
        switch (column) {
        case entryquery::ValueColumn::Speed:
            value = entryquery::listNumber(row.speed);
            break;
        case entryquery::ValueColumn::Tank1:
            value = entryquery::listNumber(row.tank1);
            break;
        case entryquery::ValueColumn::Tank2:
            value = entryquery::listNumber(row.tank2);
            break;
        case entryquery::ValueColumn::Duration:
            value = row.duration;
            break;
        }
        addRow({QString::number(++counter), row.begin, row.end, value}, row.serverIndex);
    });
}

void InfoPointsController::ListView1Click() {
    QTreeWidgetItem* row = ui.ListView1->currentItem();
    const int item = ui.cmbInfoPoints->currentIndex();
    if (!row || item < 0)
        return;
    const int kind = ui.cmbInfoPoints->itemData(item).toInt();
    if (kind == 0)
        clickTrip(ui.ListView1->indexOfTopLevelItem(row));
    else
        clickEntry(kind);
}

void InfoPointsController::clickTrip(int row) {
    const int trip = row + 1;
    s.chooseTrip(trip);
    ui.lblTripNum->setText(QString::number(trip));
    s.afterLoad([this, trip] { s.loadStops(trip); });
}

void InfoPointsController::clickEntry(int kind) {
    const int entry = ui.ListView1->currentItem()->data(0, kServerIndexRole).toInt();
    try {
        s.stop();
        jumpToEntry(kind, entry);
    } catch (const std::exception&) {
        // Once, the trip's context is rebuilt on the server and the jump tried again.
        s.refreshTripContext();
        s.loadTrack(s.selection.CurrentTrip);
        s.afterLoad([this, kind, entry] { jumpToEntry(kind, entry); });
    }
}

void InfoPointsController::jumpToEntry(int kind, int serverEntry) {
    if (!s.hasServer())
        return;
    // The row is read as its own kind, whatever another read left on the server meanwhile.
    s.seek(s.entryBegin(s.selection.CurrentTrip, definitionOf(s.definitions, kind).query,
                        serverEntry));
}

void InfoPointsController::loadTripEvents() {
    std::vector<bool> wanted(s.definitions.size(), false);
    for (size_t k = 1; k < s.definitions.size(); ++k)
        wanted[k] = tripevents::onRibbon(s.definitions[k].query) ||
                    (ui.ToolButton2->isChecked() && s.definitions[k].VisibleIcon);
    events_ = s.tripEvents(wanted);
    showEvents();
}

void InfoPointsController::showEvents() {
    std::vector<TripEvent> ribbon;
    std::vector<MapLayers::EventIcon> icons;
    std::vector<std::pair<double, double>> overSpeed;
    iconEvents_.clear();
    for (size_t i = 0; i < events_.size(); ++i) {
        const TripEvent& event = events_[i];
        const TInfoPoints& definition = definitionOf(s.definitions, event.kind);
        if (tripevents::onRibbon(definition.query))
            ribbon.push_back(event);
        if (definition.query == QLatin1String("over_speed"))
            overSpeed.emplace_back(event.begin, event.end);
        if (ui.ToolButton2->isChecked() && definition.VisibleIcon && event.placed) {
            icons.push_back({event.lon, event.lat, definition.Icon,
                             tripevents::hoverText(event, s.definitions)});
            iconEvents_.push_back(i);
        }
    }
    ui.speedChart->setShaded(std::move(overSpeed));
    ui.eventRibbon->setEvents(
        std::move(ribbon), s.track.PointCount >= 1 ? s.track.TrackStartTime() : 0, s.definitions);
    if (layers_.hasTables())
        layers_.refreshEventIcons(icons);
}

void InfoPointsController::jumpToEvent(const TripEvent& event) {
    if (!s.hasServer())
        return;
    s.stop();
    jumpToEntry(event.kind, event.entry);
}

void InfoPointsController::clickIcon(int record) {
    if (record >= 0 && size_t(record) < iconEvents_.size())
        jumpToEvent(events_[iconEvents_[size_t(record)]]);
}
