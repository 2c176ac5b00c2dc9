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
#include <pwd.h>
#include <unistd.h>

namespace tripsheet {
namespace {

QString kilometres(double metres) {
    return QLocale().toString(metres / 1000, 'f', 1);
}

} // namespace

QString operatorName() {
    if (const passwd* user = ::getpwuid(::getuid())) {
        const QString full =
            QString::fromLocal8Bit(user->pw_gecos).section(QLatin1Char(','), 0, 0).trimmed();
        return full.isEmpty() ? QString::fromLocal8Bit(user->pw_name) : full;
    }
    return qEnvironmentVariable("USER");
}

TripSheet gather(IVantrelAutomation& server, const InfoPointDefinitions& definitions,
                 const Request& request, const std::function<void()>& wait,
                 const Progress& progress) {
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
    readResult(server, definitions, request.trip, sheet, progress);
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
                TripSheet& sheet, const Progress& progress) {
    const int count = server.TripCount();
    if (count < 1)
        throw VantrelError(QStringLiteral("За период с %1 по %2 у машины «%3» нет рейсов")
                               .arg(sheet.from, sheet.to, sheet.car));
    if (chosenTrip < 0 || chosenTrip > count)
        throw VantrelError(
            QStringLiteral("Нет рейса %1: за период рейсов %2").arg(chosenTrip).arg(count));

    sheet.trips.title = QStringLiteral("Рейсы");
    sheet.trips.header = {
        QStringLiteral("№"),          QStringLiteral("Начало"),
        QStringLiteral("Конец"),      QStringLiteral("Длительность"),
        QStringLiteral("Пробег, км"), QStringLiteral("Наибольшая скорость, км/ч")};
    TripSheet::Totals& totals = sheet.totals;
    totals.trips = count;
    std::vector<int> kindCounts(definitions.size(), 0);
    for (int t = 1; t <= count; ++t) {
        if (progress && !progress(t - 1, count))
            throw Cancelled();
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
        for (size_t k = 0; k < definitions.size(); ++k) {
            entryquery::SelectEntryQuery(server, definitions[k].query);
            const int entries = server.TripEntryCount();
            if (entries < 1)
                continue;
            kindCounts[k] += entries;
            const QString& query = definitions[k].query;
            const entryquery::ValueColumn column = entryquery::valueColumnFor(query);
            const bool tanks = column == entryquery::ValueColumn::Tank1 ||
                               column == entryquery::ValueColumn::Tank2;
            if (query != QLatin1String("parks") && query != QLatin1String("over_speed") && !tanks)
                continue;
            for (int e = 1; e <= entries; ++e) {
                server.SetTripEntryIndex(e);
                const double days = datetime::parseText(server.TripEntryEnd()) -
                                    datetime::parseText(server.TripEntryBegin());
                if (query == QLatin1String("parks"))
                    stopped += days;
                else if (query == QLatin1String("over_speed"))
                    totals.overSpeedDays += days;
                else {
                    const int tank = column == entryquery::ValueColumn::Tank1 ? 0 : 1;
                    const double litres =
                        tank == 0 ? server.TripEntryTank1End() - server.TripEntryTank1Start()
                                  : server.TripEntryTank2End() - server.TripEntryTank2Start();
                    (litres >= 0 ? totals.filled : totals.drained)[tank] += std::abs(litres);
                }
            }
        }
        const double duration = datetime::parseText(end) - datetime::parseText(begin);
        totals.stoppedDays += stopped;
        totals.drivingDays += std::max(duration - stopped, 0.0);
        if (chosenTrip == 0 || chosenTrip == t)
            sheet.chosen.push_back(t);
    }
    for (size_t k = 0; k < definitions.size(); ++k)
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

TripSheet::Trip readTrip(IVantrelAutomation& server, const InfoPointDefinitions& definitions,
                         int number) {
    server.SetTripIndex(number);
    TripSheet::Trip trip;
    trip.number = number;
    trip.trail = server.TrackLine();
    const auto one = [](double value) { return QLocale().toString(value, 'f', 1); };
    for (size_t k = 0; k < definitions.size(); ++k) {
        entryquery::SelectEntryQuery(server, definitions[k].query);
        const int entries = server.TripEntryCount();
        const entryquery::ValueColumn column = entryquery::valueColumnFor(definitions[k].query);
        for (int e = 1; e <= entries; ++e) {
            server.SetTripEntryIndex(e);
            TripSheet::Event event;
            event.kind = definitions[k].name;
            event.begin = server.TripEntryBegin();
            event.end = server.TripEntryEnd();
            event.duration = server.TripEntryDuration();
            try {
                event.time = datetime::parseText(event.begin);
            } catch (const std::exception&) {
                event.time = INFINITY; // an unreadable time goes last
            }
            event.lon = server.TripEntryCoordA();
            event.lat = server.TripEntryCoordB();
            // The server tells a point without a position as zeros or as nothing.
            if (!std::isfinite(event.lon) || !std::isfinite(event.lat) ||
                std::abs(event.lon) > 180 || std::abs(event.lat) > 90 ||
                (event.lon == 0 && event.lat == 0))
                event.lon = event.lat = NAN;
            if (column == entryquery::ValueColumn::Speed)
                event.value = one(server.TripEntrySpeed()) + QStringLiteral(" км/ч");
            else if (column == entryquery::ValueColumn::Tank1)
                event.value = one(server.TripEntryTank1End() - server.TripEntryTank1Start()) +
                              QStringLiteral(" л, бак 1");
            else if (column == entryquery::ValueColumn::Tank2)
                event.value = one(server.TripEntryTank2End() - server.TripEntryTank2Start()) +
                              QStringLiteral(" л, бак 2");
            trip.events.push_back(std::move(event));
        }
    }
    std::stable_sort(
        trip.events.begin(), trip.events.end(),
        [](const TripSheet::Event& a, const TripSheet::Event& b) { return a.time < b.time; });
    return trip;
}

} // namespace tripsheet
