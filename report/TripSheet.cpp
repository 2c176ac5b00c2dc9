#include "TripSheet.h"

#include "DateTimeValue.h"
#include "EntryQuery.h"
#include "IVantrelAutomation.h"
#include "VantrelError.h"

#include <QEventLoop>
#include <QLocale>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace tripsheet {
namespace {

QString kilometres(double metres) {
    return QLocale().toString(metres / 1000, 'f', 1);
}

} // namespace

TripSheet gather(IVantrelAutomation& server, const InfoPointDefinitions& definitions,
                 const Request& request, const std::function<void()>& wait) {
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
        throw VantrelError(QStringLiteral("В группе «%1» нет машины с прибором %2")
                               .arg(sheet.group)
                               .arg(request.device));
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

void waitForComputation(IVantrelAutomation& server, int timeoutMs) {
    QEventLoop loop;
    QObject context;
    server.RegisterHandler(AutomationEvent::OnEndComputing, &context, [&loop] { loop.quit(); });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (server.ComputeStatus() == 1)
        loop.exec();
}

void readResult(IVantrelAutomation& server, const InfoPointDefinitions& definitions, int chosenTrip,
                TripSheet& sheet) {
    const tripsheet::Request request{QString(), sheet.device, sheet.from, sheet.to, chosenTrip};
    const int count = server.TripCount();
    if (count < 1)
        throw VantrelError(QStringLiteral("За период с %1 по %2 у машины «%3» нет рейсов")
                               .arg(sheet.from, sheet.to, sheet.car));
    if (request.trip < 0 || request.trip > count)
        throw VantrelError(
            QStringLiteral("Нет рейса %1: за период рейсов %2").arg(request.trip).arg(count));

    sheet.trips.title = QStringLiteral("Рейсы");
    sheet.trips.header = {
        QStringLiteral("№"),          QStringLiteral("Начало"),
        QStringLiteral("Конец"),      QStringLiteral("Длительность"),
        QStringLiteral("Пробег, км"), QStringLiteral("Наибольшая скорость, км/ч")};
    TripSheet::Totals& totals = sheet.totals;
    totals.trips = count;
    std::vector<int> kindCounts(definitions.size(), 0);
    for (int t = 1; t <= count; ++t) {
        server.SetTripIndex(t);
        const std::vector<double> track = server.TrackCrdsArray();
        double top = 0, first = NAN, last = NAN;
        for (size_t k = 0; k + 4 < track.size(); k += 5) {
            if (std::isfinite(track[k + 3])) {
                first = std::isfinite(first) ? first : track[k + 3];
                last = track[k + 3];
            }
            if (std::isfinite(track[k + 4]))
                top = std::max(top, track[k + 4]);
        }
        const double metres =
            std::isfinite(first) ? std::max(last - first, 0.0) : 0; // this trip's own
        const QString begin = server.TripBegin(), end = server.TripEnd();
        sheet.trips.rows.push_back({QString::number(t), begin, end, server.TripDuration(),
                                    kilometres(metres), QLocale().toString(top, 'f', 1)});
        totals.metres += metres;
        totals.topSpeed = std::max(totals.topSpeed, top);
        double stopped = 0;
        const bool chosen = request.trip == 0 || request.trip == t;
        TripSheet::Trip trip;
        trip.number = t;
        if (chosen)
            trip.trail = server.TrackLine();
        for (size_t k = 1; k < definitions.size(); ++k) {
            entryquery::SelectEntryQuery(server, definitions[k].query);
            const int entries = server.TripEntryCount();
            if (entries < 1)
                continue;
            kindCounts[k] += entries;
            const entryquery::ValueColumn column = entryquery::valueColumnFor(definitions[k].query);
            TripSheet::Table table;
            table.title = definitions[k].name;
            table.header = {QStringLiteral("№"), QStringLiteral("Начало"), QStringLiteral("Конец"),
                            QStringLiteral("Длительность")};
            if (column != entryquery::ValueColumn::Duration)
                table.header << entryquery::valueColumnCaption(column);
            for (int e = 1; e <= entries; ++e) {
                server.SetTripEntryIndex(e);
                const QString entryBegin = server.TripEntryBegin(),
                              entryEnd = server.TripEntryEnd();
                const double days = datetime::parseText(entryEnd) - datetime::parseText(entryBegin);
                if (definitions[k].query == QLatin1String("parks"))
                    stopped += days;
                else if (definitions[k].query == QLatin1String("over_speed"))
                    totals.overSpeedDays += days;
                QStringList row = {QString::number(e), entryBegin, entryEnd,
                                   server.TripEntryDuration()};
                const auto one = [](double value) { return QLocale().toString(value, 'f', 1); };
                if (column == entryquery::ValueColumn::Speed) {
                    row << one(server.TripEntrySpeed());
                } else if (column == entryquery::ValueColumn::Tank1 ||
                           column == entryquery::ValueColumn::Tank2) {
                    const int tank = column == entryquery::ValueColumn::Tank1 ? 0 : 1;
                    const double litres =
                        tank == 0 ? server.TripEntryTank1End() - server.TripEntryTank1Start()
                                  : server.TripEntryTank2End() - server.TripEntryTank2Start();
                    (litres >= 0 ? totals.filled : totals.drained)[tank] += std::abs(litres);
                    row << one(litres);
                }
                table.rows.push_back(row);
            }
            if (chosen)
                trip.entries.push_back(std::move(table));
        }
        const double duration = datetime::parseText(end) - datetime::parseText(begin);
        totals.stoppedDays += stopped;
        totals.drivingDays += std::max(duration - stopped, 0.0);
        if (chosen)
            sheet.chosen.push_back(std::move(trip));
    }
    for (size_t k = 1; k < definitions.size(); ++k)
        if (kindCounts[k] > 0)
            totals.kindCounts.emplace_back(definitions[k].name, kindCounts[k]);
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
