#include "PlayerSession.h"

#include "DateTimeValue.h"
#include "EntryQuery.h"
#include "IVantrelAutomation.h"
#include "VantrelError.h"

#include <QTimer>
#include <utility>

namespace {

int checkedCount(int count, const char* what) {
    if (count < 0)
        throw VantrelError(QStringLiteral("Сервер сообщил неверное число %1: %2")
                               .arg(QString::fromUtf8(what))
                               .arg(count));
    return count;
}

} // namespace

PlayerSession::PlayerSession(PlaybackClock::Now now, QObject* parent)
    : QObject(parent), clock(std::move(now)) {
    clock.PlaySpeed = 600;
}

PlayerSession::~PlayerSession() = default;

void PlayerSession::attach(IVantrelAutomation* server) {
    server_ = server;
    if (!server_)
        return;
    server_->RegisterHandler(AutomationEvent::OnEndComputing, this,
                             [this] { delivered([this] { onEndComputing(); }); });
    server_->RegisterHandler(AutomationEvent::OnCloseServer, this, [this] {
        server_ = nullptr;
        delivered([this] { serverClosed.notify(); });
    });
    server_->RegisterHandler(AutomationEvent::OnReceiveOnlineData, this,
                             [this] { delivered([this] { onlineData.notify(); }); });
}

void PlayerSession::delivered(const std::function<void()>& work) {
    try {
        work();
    } catch (const std::exception& error) {
        if (reportError)
            reportError(error);
    }
}

IVantrelAutomation& PlayerSession::server() {
    if (!server_)
        throw VantrelError(QStringLiteral("Нет связи с сервером Vantrel"));
    return *server_;
}

QStringList PlayerSession::loadGroups() {
    IVantrelAutomation& s = server();
    selection.GroupIds.clear();
    QStringList names;
    const int count = checkedCount(s.GroupCount(), "групп");
    for (int i = 1; i <= count; ++i) {
        s.SetGroupIndex(i);
        selection.GroupIds << s.GroupId();
        names << s.GroupName();
    }
    return names;
}

std::vector<PlayerSession::Car> PlayerSession::carsOf(const QString& groupId) {
    IVantrelAutomation& s = server();
    s.SelectGroup(groupId);
    std::vector<Car> cars;
    const int count = checkedCount(s.CarCount(), "машин");
    for (int i = 1; i <= count; ++i) {
        s.SetCarIndex(i);
        Car car;
        car.name = s.CarName();
        car.number = s.CarNumber();
        car.device = s.CarDeviceNumber();
        cars.push_back(car);
    }
    return cars;
}

void PlayerSession::selectGroup(const QString& groupId) {
    server().SelectGroup(groupId);
}

void PlayerSession::selectComputedGroup() {
    IVantrelAutomation& s = server();
    s.SelectGroup(s.CurrentGroupId());
    s.SetPropertyName(QStringLiteral("Group_Name"));
}

void PlayerSession::selectComputedCar() {
    IVantrelAutomation& s = server();
    s.SelectCar(s.CurrentCarId());
    s.SetPropertyName(QStringLiteral("Car_Device"));
}

QString PlayerSession::propertyValue() {
    return server().PropertyValue();
}

QString PlayerSession::storePath() {
    try {
        IVantrelAutomation& s = server();
        s.SetPropertyName(QStringLiteral("Store_Path"));
        return s.PropertyValue();
    } catch (const std::exception&) {
        return QString();
    }
}

void PlayerSession::requestTrack(const QString& groupId, int device, double begin, double end) {
    server();
    replaceLoad();
    selection.RequestPending = true;
    requestedPeriod_ = Period{begin, end};
    const auto send = [this, groupId, device, begin, end](bool deferred) {
        try {
            server().ComputeTrack(groupId, device, datetime::formatText(begin),
                                  datetime::formatText(end), QStringLiteral("GSM"), 1);
        } catch (...) {
            // Nothing was asked of the server, so no answer will come: the next choice may ask.
            selection.RequestPending = false;
            if (deferred)
                emit computing(false);
            throw;
        }
        if (!deferred)
            emit computing(true);
    };
    if (deferWhileDroppedArrive([send] { send(true); }))
        emit computing(true);
    else
        send(false);
}

void PlayerSession::onEndComputing() {
    if (!server_)
        return;
    replaceLoad(); // a new result replaces the trip still arriving from the old one
    const bool own = selection.RequestPending;
    computationEnded.notify(own);
    // A computation started elsewhere is followed without knowing its period.
    computedPeriod_ = own ? requestedPeriod_ : std::nullopt;
    selection.RequestPending = false;
    emit computing(false);
    selection.CurrentTrip = 0;
    resultReady.notify();
    afterLoad([this] { refreshTripContext(); });
}

int PlayerSession::computeStatus() {
    return server().ComputeStatus();
}

int PlayerSession::tripCount() {
    return server().TripCount();
}

std::vector<PlayerSession::Row> PlayerSession::trips() {
    IVantrelAutomation& s = server();
    std::vector<Row> rows;
    const int count = s.TripCount();
    for (int b = 1; b <= count; ++b) {
        s.SetTripIndex(b);
        Row row;
        row.serverIndex = b;
        row.begin = s.TripBegin();
        row.end = s.TripEnd();
        row.duration = s.TripDuration();
        rows.push_back(row);
    }
    return rows;
}

void PlayerSession::selectQuery(int trip, const QString& query) {
    server().SetTripIndex(trip);
    entryquery::SelectEntryQuery(server(), query);
}

void PlayerSession::entries(int trip, const QString& query,
                            const std::function<bool(const QString&)>& keep,
                            const std::function<void(const Row&)>& add) {
    IVantrelAutomation& s = server();
    selectQuery(trip, query);
    const entryquery::ValueColumn column = entryquery::valueColumnFor(query);
    const int count = s.TripEntryCount();
    for (int k = 1; k <= count; ++k) {
        s.SetTripEntryIndex(k);
        Row row;
        row.serverIndex = k;
        row.duration = s.TripEntryDuration();
        if (!keep(row.duration))
            continue;
        row.begin = s.TripEntryBegin();
        row.end = s.TripEntryEnd();
        if (column == entryquery::ValueColumn::Speed) {
            row.speed = s.TripEntrySpeed();
        } else if (column == entryquery::ValueColumn::Tank1) {
            const double last = s.TripEntryTank1End();
            row.tank1 = last - s.TripEntryTank1Start();
        } else if (column == entryquery::ValueColumn::Tank2) {
            const double last = s.TripEntryTank2End();
            row.tank2 = last - s.TripEntryTank2Start();
        }
        add(row);
    }
}

double PlayerSession::entryBegin(int trip, const QString& query, int serverEntry) {
    selectQuery(trip, query);
    server().SetTripEntryIndex(serverEntry);
    return datetime::parseText(server().TripEntryBegin());
}

void PlayerSession::loadStops(int trip) {
    // Stops are the entries of the second kind; without one there is nothing to skip.
    if (definitions.size() < 2) {
        StopList.clear();
        return;
    }
    if (!server_)
        return;
    IVantrelAutomation& s = *server_;
    selectQuery(trip, definitions[1].query);
    const int count = std::max(s.TripEntryCount(), 0);
    std::vector<TStops> stops(size_t(count), TStops{});
    for (int k = 1; k <= count; ++k) {
        s.SetTripEntryIndex(k);
        TStops& stop = stops[size_t(k - 1)];
        stop.BeginTime = datetime::parseText(s.TripEntryBegin());
        stop.EndTime = datetime::parseText(s.TripEntryEnd());
        stop.DurationText = s.TripEntryDuration();
    }
    StopList = std::move(stops);
}

std::vector<TripEvent> PlayerSession::tripEvents(const std::vector<bool>& wanted) {
    if (!server_ || server_->ComputeStatus() != 0 || selection.CurrentTrip < 1 ||
        track.PointCount < 1)
        return {};
    std::vector<TripEvent> events =
        tripevents::load(*server_, definitions, selection.CurrentTrip, wanted);
    putBackShownQuery();
    return events;
}

void PlayerSession::loadInfoPointPositions() {
    if (!infoPointsShown || !server_ || server_->ComputeStatus() == 1)
        return;
    infoPointPositions.load(*server_, definitions, selection.CurrentTrip);
    putBackShownQuery();
}

void PlayerSession::putBackShownQuery() {
    if (shownQuery_.isEmpty() || selection.CurrentTrip < 1 || !server_)
        return;
    selectQuery(selection.CurrentTrip, shownQuery_);
}

void PlayerSession::chooseTrip(int trip) {
    replaceLoad(); // before the trip changes: a load finished now reads its own trip
    selection.CurrentTrip = trip;
    const auto load = [this, trip] {
        refreshTripContext();
        loadTrack(trip);
    };
    if (!deferWhileDroppedArrive(load))
        load();
}

// A dropped trip's answers still travel: a call now would wait behind them, the window frozen
// for seconds. The choice is made once they are in; work queued after it waits as after a load.
bool PlayerSession::deferWhileDroppedArrive(std::function<void()> work) {
    if (!server_ || !server_->droppedInFlight())
        return false;
    afterLoad_.clear(); // what an earlier waiting choice queued is stale now
    if (!waitingForDropped_) {
        waitingForDropped_ = true;
        emit busy(true);
    }
    server_->whenDroppedArrived([this, work = std::move(work)] {
        waitingForDropped_ = false;
        std::vector<std::function<void()>> after = std::exchange(afterLoad_, {});
        emit busy(false);
        delivered([&] {
            work();
            for (auto& next : after)
                afterLoad(std::move(next));
        });
    });
    return true;
}

void PlayerSession::refreshTripContext() {
    if (checkpointsButton)
        checkpointsWanted.notify();
    loadInfoPointPositions();
}

void PlayerSession::loadTrack(int trip) {
    if (!server_)
        return;
    IVantrelAutomation& s = *server_;
    replaceLoad();
    s.SetTripIndex(trip);
    const int count = s.TrackPointCount();
    if (count < 0)
        throw VantrelError(
            QStringLiteral("Сервер сообщил неверное число точек трека: %1").arg(count));
    if (count < 1) {
        track.setEmpty();
        emptyTrackLoaded.notify();
        return;
    }
    s.SendTrackCallsAhead(selection.CurrentTrip, count, trailLinePrefix);
    loading_ = true;
    loadingPoints_ = count;
    loadFromThisEvent_ = true;
    QTimer::singleShot(0, this, [this] { loadFromThisEvent_ = false; });
    emit busy(true);
    // Answered at once, its errors reach the caller as the load's own; later, they are reported.
    struct Starting {
        bool& flag;
        explicit Starting(bool& starting) : flag(starting) { flag = true; }
        ~Starting() { flag = false; }
    } starting(loadStarting_);
    s.whenAheadAnswered([this, count] {
        if (loadStarting_)
            finishLoad(count);
        else
            delivered([this, count] { finishLoad(count); });
    });
}

void PlayerSession::finishLoad(int count) {
    if (!loading_)
        return; // dropped meanwhile
    struct Done {
        PlayerSession& session;
        ~Done() {
            session.loading_ = false;
            emit session.busy(false);
        }
    } done{*this};
    std::vector<std::function<void()>> after = std::exchange(afterLoad_, {});
    if (!server_)
        return;
    server_->TrackCrdsInto(track, count);
    clock.PlayBase = track.TrackStartTime();
    loading_ = false;
    trackLoaded.notify(count);
    for (const auto& work : after)
        work();
}

// A load asked for by an earlier event gives way to a newer request; one asked for by the
// event being handled is finished first, as its calls came first.
void PlayerSession::replaceLoad() {
    if (!loading_ || !server_)
        return;
    if (loadFromThisEvent_)
        server_->answerAhead();
    else
        dropLoad();
}

void PlayerSession::dropLoad() {
    if (server_)
        server_->dropAhead();
    afterLoad_.clear();
    loading_ = false;
    emit busy(false);
}

void PlayerSession::afterLoad(std::function<void()> work) {
    if (loading_ || waitingForDropped_)
        afterLoad_.push_back(std::move(work));
    else
        work();
}

void PlayerSession::showPosition(const QStringList& markerTexts, double playTime) {
    CarMarkerTexts = markerTexts;
    positionChanged.notify(playTime);
}

void PlayerSession::setPlaying(bool playing) {
    if (playing_ == playing)
        return;
    playing_ = playing;
    emit playStateChanged(playing);
}
