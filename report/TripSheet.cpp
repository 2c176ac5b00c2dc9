#include "TripSheet.h"

#include "DateTimeValue.h"
#include "EntryQuery.h"
#include "IVantrelAutomation.h"
#include "VantrelError.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

namespace tripsheet {
namespace {

QString kilometres(double metres) { return QLocale().toString(metres / 1000, 'f', 1); }

} // namespace

TripSheet gather(IVantrelAutomation& server, const InfoPointDefinitions& definitions, const Request& request,
                 const std::function<void()>& wait) {
    TripSheet sheet;
    QString groupId;
    for (int g = 1; g <= server.GroupCount(); ++g) {
        server.SetGroupIndex(g);
        if (server.GroupId() == request.group || server.GroupName() == request.group) {
            groupId = server.GroupId();
            sheet.group = server.GroupName();
        }
    }
    if (groupId.isEmpty())
        throw VantrelError(QStringLiteral("Нет группы «%1»").arg(request.group));
    server.SelectGroup(groupId);
    int carId = -1;
    for (int c = 1; c <= server.CarCount(); ++c) {
        server.SetCarIndex(c);
        if (server.CarDeviceNumber() == request.device) {
            sheet.car = server.CarName();
            sheet.number = server.CarNumber();
            carId = c;
        }
    }
    if (carId < 0)
        throw VantrelError(QStringLiteral("В группе «%1» нет машины с прибором %2").arg(sheet.group).arg(request.device));
    sheet.device = request.device;
    const double from = datetime::parseText(request.from), to = datetime::parseText(request.to);
    datetime::checkPeriod(from, to);
    sheet.from = datetime::formatText(from);
    sheet.to = datetime::formatText(to);
    server.ComputeTrack(groupId, request.device, sheet.from, sheet.to, QStringLiteral("GSM"), 1);
    wait();
    if (server.ComputeStatus() != 0)
        throw VantrelError(QStringLiteral("Сервер не рассчитал рейсы за период"));
    readResult(server, definitions, request.trip, sheet);
    return sheet;
}

void readResult(IVantrelAutomation& server, const InfoPointDefinitions& definitions, int chosenTrip, TripSheet& sheet) {
    const tripsheet::Request request{QString(), sheet.device, sheet.from, sheet.to, chosenTrip};
    const int count = server.TripCount();
    if (count < 1)
        throw VantrelError(QStringLiteral("За период с %1 по %2 у машины «%3» нет рейсов").arg(sheet.from, sheet.to, sheet.car));
    if (request.trip < 0 || request.trip > count)
        throw VantrelError(QStringLiteral("Нет рейса %1: за период рейсов %2").arg(request.trip).arg(count));

    sheet.trips.title = QStringLiteral("Рейсы");
    sheet.trips.header = {QStringLiteral("№"), QStringLiteral("Начало"), QStringLiteral("Конец"),
                          QStringLiteral("Длительность"), QStringLiteral("Пробег, км"), QStringLiteral("Наибольшая скорость, км/ч")};
    for (int t = 1; t <= count; ++t) {
        server.SetTripIndex(t);
        const std::vector<double> track = server.TrackCrdsArray();
        double top = 0, mileage = 0;
        for (size_t k = 0; k + 4 < track.size(); k += 5) {
            mileage = std::max(mileage, track[k + 3]);
            if (std::isfinite(track[k + 4]))
                top = std::max(top, track[k + 4]);
        }
        sheet.trips.rows.push_back({QString::number(t), server.TripBegin(), server.TripEnd(), server.TripDuration(),
                                    kilometres(mileage), QLocale().toString(top, 'f', 1)});
        if (request.trip != 0 && request.trip != t)
            continue;
        TripSheet::Trip trip;
        trip.number = t;
        trip.trail = server.TrackLine();
        for (size_t k = 1; k < definitions.size(); ++k) {
            entryquery::SelectEntryQuery(server, definitions[k].query);
            const int entries = server.TripEntryCount();
            if (entries < 1)
                continue;
            const entryquery::ValueColumn column = entryquery::valueColumnFor(definitions[k].query);
            TripSheet::Table table;
            table.title = definitions[k].name;
            table.header = {QStringLiteral("№"), QStringLiteral("Начало"), QStringLiteral("Конец"), QStringLiteral("Длительность")};
            if (column != entryquery::ValueColumn::Duration)
                table.header << entryquery::valueColumnCaption(column);
            for (int e = 1; e <= entries; ++e) {
                server.SetTripEntryIndex(e);
                QStringList row = {QString::number(e), server.TripEntryBegin(), server.TripEntryEnd(), server.TripEntryDuration()};
                const auto one = [](double value) { return QLocale().toString(value, 'f', 1); };
                if (column == entryquery::ValueColumn::Speed)
                    row << one(server.TripEntrySpeed());
                else if (column == entryquery::ValueColumn::Tank1)
                    row << one(server.TripEntryTank1End() - server.TripEntryTank1Start());
                else if (column == entryquery::ValueColumn::Tank2)
                    row << one(server.TripEntryTank2End() - server.TripEntryTank2Start());
                table.rows.push_back(row);
            }
            trip.entries.push_back(std::move(table));
        }
        sheet.chosen.push_back(std::move(trip));
    }
    try {
        server.SelectCar(server.CurrentCarId());
        server.LoadCheckpoints(server.CheckpointListId());
        for (int c = 1; c <= server.CheckpointCount(); ++c) {
            server.SetCheckpointIndex(c);
            sheet.checkpoints.push_back({server.CheckpointName(), server.CheckpointLongitude(),
                                         server.CheckpointLatitude(), server.CheckpointRadius()});
        }
    } catch (const std::exception&) {
        // A sheet without checkpoints is still a sheet.
    }
}

} // namespace tripsheet
