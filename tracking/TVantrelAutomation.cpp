#include "TVantrelAutomation.h"

#include "VantrelError.h"
#include "automation_interface.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <QUuid>
#include <QtConcurrent>
#include <algorithm>
#include <cstring>
#include <dbus/dbus.h>

namespace {

QString describe(const QDBusError& error) {
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
        return QStringLiteral("Сервер Vantrel не запущен: %1").arg(error.message());
    case QDBusError::NoReply:
    case QDBusError::Timeout:
        return QStringLiteral("Сервер Vantrel не ответил: %1").arg(error.message());
    case QDBusError::Disconnected:
        return QStringLiteral("Нет связи с сеансовой шиной D-Bus: %1").arg(error.message());
    default:
        return error.message().isEmpty() ? error.name() : error.message();
    }
}

template <typename T> T take(QDBusPendingReply<T> reply) {
    reply.waitForFinished();
    if (reply.isError())
        throw VantrelError(describe(reply.error()));
    return reply.value();
}

void take(QDBusPendingReply<> reply) {
    reply.waitForFinished();
    if (reply.isError())
        throw VantrelError(describe(reply.error()));
}

// libdbus stops reading a connection while the answers it has received and not yet freed pass
// 63 MB, and Qt cannot start it again when the answer is freed on another thread than the bus's:
// the connection then hangs. A long trip's three answers sent together pass that, so the limit
// is raised above the largest three answers D-Bus allows (128 MB each).
void holdLargeAnswers(const QDBusConnection& bus) {
    if (auto* connection = static_cast<DBusConnection*>(bus.internalPointer()))
        dbus_connection_set_max_received_size(connection, 1L << 30);
}

} // namespace

TVantrelAutomation::TVantrelAutomation(QObject* parent) : TVantrelAutomation(Options{}, parent) {}

TVantrelAutomation::TVantrelAutomation(Options options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {}

TVantrelAutomation::~TVantrelAutomation() {
    if (bus_ && !options_.busAddress.isEmpty())
        QDBusConnection::disconnectFromBus(bus_->name());
}

QDBusConnection TVantrelAutomation::bus() {
    if (!bus_) {
        bus_ = std::make_unique<QDBusConnection>(
            options_.busAddress.isEmpty()
                ? QDBusConnection::sessionBus()
                : QDBusConnection::connectToBus(
                      options_.busAddress,
                      QStringLiteral("vantrel-client-") + QUuid::createUuid().toString()));
        holdLargeAnswers(*bus_);
    }
    if (!bus_->isConnected()) {
        const QString reason = bus_->lastError().message();
        throw VantrelError(QStringLiteral("Нет связи с сеансовой шиной D-Bus%1")
                               .arg(reason.isEmpty() ? QString() : QStringLiteral(": ") + reason));
    }
    return *bus_;
}

OrgVantrelAutomationInterface& TVantrelAutomation::server() {
    answerAhead(); // work waiting for the calls sent ahead comes first, as it would without them
    settleAhead();
    QDBusConnection connection = bus();
    if (!proxy_) {
        proxy_ = std::make_unique<OrgVantrelAutomationInterface>(kService, kPath, connection);
        proxy_->setTimeout(options_.callTimeoutMs);
    }
    if (owner_.isEmpty())
        rememberOwner();
    subscribe();
    return *proxy_;
}

std::optional<TVantrelAutomation::AheadCall> TVantrelAutomation::takeAhead(const char* method, int argument) {
    if (ahead_.empty() || std::strcmp(ahead_.front().method, method) != 0 || ahead_.front().argument != argument)
        return std::nullopt;
    AheadCall call = std::move(ahead_.front());
    ahead_.pop_front();
    return call;
}

// A call other than the next one sent ahead first waits out what was sent, in order, and drops
// the answers: the server has done those calls already. Each answer is let go before the next
// is waited for.
void TVantrelAutomation::settleAhead() {
    while (!ahead_.empty()) {
        AheadCall call = std::move(ahead_.front());
        ahead_.pop_front();
        QDBusError ignored;
        if (call.numbers)
            call.numbers->take(options_.callTimeoutMs, ignored);
        else if (call.reply)
            call.reply->waitForFinished();
    }
}

std::unique_ptr<DoubleArrayCall> TVantrelAutomation::callForNumbers() {
    server(); // connected, subscribed, and nothing sent ahead left unanswered
    for (QDBusPendingCall& call : std::exchange(dropped_, {}))
        call.waitForFinished();
    return std::make_unique<DoubleArrayCall>(bus(), kService, kPath, kService, "TrackCrdsArray");
}

void TVantrelAutomation::SendTrackCallsAhead(int tripNumber, int pointCount,
                                             const QString& linePrefix) {
    std::unique_ptr<DoubleArrayCall> numbers = callForNumbers();
    aheadPoints_ = pointCount;
    aheadPrefix_ = linePrefix;
    aheadDropped_ = std::make_shared<std::atomic<bool>>(false);
    OrgVantrelAutomationInterface& proxy = *proxy_;
    ahead_.push_back({"TrackCrdsArray", 0, std::nullopt, nullptr, std::move(numbers), {}, {}});
    ahead_.push_back(sentAhead("SetTripIndex", tripNumber, proxy.SetTripIndex(tripNumber)));
    ahead_.push_back(sentAhead("TrackLine", 0, proxy.TrackLine()));
    ahead_.push_back(sentAhead("TrackLine", 0, proxy.TrackLine()));
}

// The reply's coming is noted on the window's thread by a watcher's queued signal.
TVantrelAutomation::AheadCall TVantrelAutomation::sentAhead(const char* method, int argument,
                                                            const QDBusPendingCall& reply) {
    auto replied = std::make_shared<std::atomic<bool>>(false);
    auto* watcher = new QDBusPendingCallWatcher(reply, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [replied, watcher] {
        *replied = true;
        watcher->deleteLater();
    });
    return {method, argument, reply, replied, nullptr, {}, {}};
}

// Each answer that came is made ready on a worker as soon as it is seen: the numbers read (into
// a store), the lines put behind their prefix. The calls are answered once those are done too.
bool TVantrelAutomation::aheadAnswered() {
    bool answered = true;
    const AheadCall* firstLine = nullptr;
    for (AheadCall& call : ahead_) {
        if (call.numbers && call.numbers->answered())
            call.read = QtConcurrent::run(
                [numbers = std::shared_ptr<DoubleArrayCall>(std::move(call.numbers)),
                 points = aheadPoints_, dropped = aheadDropped_] {
                    NumbersRead read;
                    read.values = numbers->take(0, read.error);
                    if (read.error.isValid() || points < 1 || *dropped)
                        return read;
                    try {
                        TrackStore store;
                        store.load(std::move(read.values), points);
                        read.store = std::move(store);
                    } catch (const VantrelError& fault) {
                        read.fault = fault.text();
                    }
                    return read;
                });
        if (std::strcmp(call.method, "TrackLine") == 0) {
            prepareText(call, firstLine);
            firstLine = firstLine ? firstLine : &call;
        }
        if (call.numbers || (call.read.isValid() && !call.read.isFinished()) ||
            (call.replied && !*call.replied) || (call.text.isValid() && !call.text.isFinished()))
            answered = false;
    }
    return answered;
}

// A line equal to the first one shares its text: the map then holds one copy of the trail.
void TVantrelAutomation::prepareText(AheadCall& line, const AheadCall* firstLine) {
    if (aheadPrefix_.isEmpty() || line.text.isValid() || !*line.replied || line.reply->isError())
        return;
    const QString text = QDBusPendingReply<QString>(*line.reply).value();
    if (!firstLine || !firstLine->text.isValid()) {
        line.text = QtConcurrent::run([prefix = aheadPrefix_, text, dropped = aheadDropped_] {
            return *dropped ? QString() : prefixedText(prefix, text);
        });
        return;
    }
    const QString first = QDBusPendingReply<QString>(*firstLine->reply).value();
    line.text = QtConcurrent::run(
        [prefix = aheadPrefix_, text, first, firstText = firstLine->text, dropped = aheadDropped_] {
            if (*dropped)
                return QString();
            return text == first ? firstText.result() : prefixedText(prefix, text);
        });
}

void TVantrelAutomation::whenAheadAnswered(std::function<void()> answered) {
    if (ahead_.empty() || aheadAnswered()) {
        answered();
        return;
    }
    whenAnswered_ = std::move(answered);
    startPoll(answerPoll_, [this] {
        if (!whenAnswered_)
            answerPoll_->stop();
        else if (aheadAnswered())
            runWhenAnswered();
    });
}

// Flags set on Qt's bus thread, looked at from the window's thread every 5 ms: asking a reply
// itself would wait while that thread unpacks it.
void TVantrelAutomation::startPoll(QTimer*& poll, std::function<void()> tick) {
    if (!poll) {
        poll = new QTimer(this);
        poll->setInterval(5);
        connect(poll, &QTimer::timeout, this, std::move(tick));
    }
    poll->start();
}

void TVantrelAutomation::answerAhead() {
    if (!whenAnswered_)
        return;
    for (AheadCall& call : ahead_)
        if (call.numbers)
            call.numbers->wait(options_.callTimeoutMs);
        else if (call.reply)
            call.reply->waitForFinished();
    runWhenAnswered();
}

void TVantrelAutomation::runWhenAnswered() {
    if (answerPoll_)
        answerPoll_->stop();
    const std::function<void()> work = std::exchange(whenAnswered_, {});
    if (work)
        work();
}

void TVantrelAutomation::dropAhead() {
    whenAnswered_ = {};
    if (answerPoll_)
        answerPoll_->stop();
    // A numbers call let go is cancelled: its answer, when it comes, is dropped by the bus's
    // reader; so are the other answers nobody waits for. Qt sends its calls from its bus
    // thread, so they are kept until answered: a numbers call, sent straight away, must not
    // overtake them.
    if (aheadDropped_)
        *aheadDropped_ = true;
    for (AheadCall& call : ahead_) {
        // Cancelling a numbers call takes libdbus's connection lock, which Qt's bus thread
        // holds while it reads a long answer: let go on a worker.
        if (call.numbers)
            QThreadPool::globalInstance()->start(
                [numbers = std::shared_ptr<DoubleArrayCall>(std::move(call.numbers))] {});
        if (call.replied && !*call.replied) {
            dropped_.push_back(*call.reply);
            droppedReplied_.push_back(call.replied);
        }
    }
    ahead_.clear();
}

bool TVantrelAutomation::droppedInFlight() {
    std::erase_if(droppedReplied_, [](const auto& replied) { return bool(*replied); });
    return !droppedReplied_.empty();
}

void TVantrelAutomation::whenDroppedArrived(std::function<void()> work) {
    if (!droppedInFlight()) {
        whenDroppedArrived_ = {};
        work();
        return;
    }
    whenDroppedArrived_ = std::move(work);
    startPoll(droppedPoll_, [this] {
        if (droppedInFlight())
            return;
        droppedPoll_->stop();
        if (const std::function<void()> work = std::exchange(whenDroppedArrived_, {}))
            work();
    });
}

void TVantrelAutomation::rememberOwner() {
    const QDBusReply<QString> owner = bus().interface()->serviceOwner(kService);
    if (owner.isValid())
        owner_ = owner.value();
}

void TVantrelAutomation::subscribe() {
    if (subscribed_)
        return;
    QDBusConnection connection = bus();
    const struct {
        const char* name;
        const char* slot;
    } events[] = {
        {"OnChangeCarsLists", SLOT(onChangeCarsLists())},
        {"OnReceiveOnlineData", SLOT(onReceiveOnlineData())},
        {"OnCloseServer", SLOT(onCloseServer())},
        {"OnChangeParameters", SLOT(onChangeParameters())},
        {"OnEndComputing", SLOT(onEndComputing())},
    };
    // By the server's unique name when it is known: a subscription by the well-known name
    // relies on Qt learning the name's new owner, and a server that took the name a moment
    // before could have its first signals dropped.
    const QString sender = owner_.isEmpty() ? kService : owner_;
    for (const auto& s : events)
        connection.connect(sender, kPath, kInterface, QString::fromLatin1(s.name), this, s.slot);
    watcher_ = new QDBusServiceWatcher(kService, connection,
                                       QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            &TVantrelAutomation::onOwnerChanged);
    subscribed_ = true;
}

void TVantrelAutomation::StartServer() {
    QDBusConnection connection = bus();
    if (connection.interface()->isServiceRegistered(kService)) {
        rememberOwner();
        subscribe();
        return;
    }
    // An installed server is started by the bus itself, from its service file.
    if (connection.interface()->activatableServiceNames().value().contains(kService) &&
        connection.interface()->startService(kService).isValid()) {
        waitForName();
        return;
    }
    const QString program =
        options_.serverProgram.isEmpty()
            ? QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("vantrel-server"))
            : options_.serverProgram;
    if (!QFileInfo(program).isExecutable())
        throw VantrelError(QStringLiteral("Не найдена программа сервера Vantrel: %1").arg(program));
    QProcess process;
    process.setProgram(program);
    // A server the player starts leaves by itself some time after its last client.
    process.setArguments({QStringLiteral("--idle-exit"), QString::number(kIdleExitSeconds)});
    if (!options_.busAddress.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), options_.busAddress);
        process.setProcessEnvironment(environment);
    }
    process.setStandardOutputFile(QProcess::nullDevice());
    if (!process.startDetached())
        throw VantrelError(QStringLiteral("Не удалось запустить сервер Vantrel: %1")
                               .arg(process.errorString()));
    waitForName();
}

void TVantrelAutomation::waitForName() {
    QDBusConnectionInterface* names = bus().interface();
    QElapsedTimer elapsed;
    elapsed.start();
    while (!names->isServiceRegistered(kService)) {
        if (elapsed.elapsed() > options_.startTimeoutMs)
            throw VantrelError(
                QStringLiteral("Сервер Vantrel не появился на шине D-Bus за %1 с")
                    .arg(options_.startTimeoutMs / 1000));
        QThread::msleep(50);
    }
    rememberOwner();
    subscribe();
}

void TVantrelAutomation::RegisterHandler(AutomationEvent event, QObject* target,
                                         std::function<void()> handler) {
    handlers_[event].push_back({target, std::move(handler)});
}

void TVantrelAutomation::raise(AutomationEvent event) {
    const auto found = handlers_.find(event);
    if (found == handlers_.end())
        return;
    const std::vector<Handler> handlers = found->second; // a handler may register more
    for (const Handler& handler : handlers) {
        if (!handler.target)
            continue;
        try {
            handler.run();
        } catch (const std::exception& error) {
            qWarning("vantrel: an event handler failed: %s", error.what());
        }
    }
}

void TVantrelAutomation::onCloseServer() {
    if (closeRaised_)
        return;
    closeRaised_ = true;
    raise(AutomationEvent::OnCloseServer);
}

void TVantrelAutomation::onOwnerChanged(const QString&, const QString& oldOwner,
                                        const QString& newOwner) {
    // Only the server this wrapper talks to counts; news of an earlier owner may arrive late.
    if (!oldOwner.isEmpty() && oldOwner == owner_) {
        owner_.clear();
        onCloseServer(); // it vanished without saying goodbye: a crash or a kill
    }
    if (!newOwner.isEmpty()) {
        owner_ = newOwner;
        closeRaised_ = false;
    }
}

int TVantrelAutomation::GroupCount() { return take(server().GroupCount()); }
void TVantrelAutomation::SetGroupIndex(int index) { take(server().SetGroupIndex(index)); }
QString TVantrelAutomation::GroupName() { return take(server().GroupName()); }
QString TVantrelAutomation::GroupId() { return take(server().GroupId()); }
void TVantrelAutomation::SelectGroup(const QString& groupId) { take(server().SelectGroup(groupId)); }
int TVantrelAutomation::CarCount() { return take(server().CarCount()); }
void TVantrelAutomation::SetCarIndex(int index) { take(server().SetCarIndex(index)); }
void TVantrelAutomation::SelectCar(int carId) { take(server().SelectCar(carId)); }
QString TVantrelAutomation::CarName() { return take(server().CarName()); }
QString TVantrelAutomation::CarNumber() { return take(server().CarNumber()); }
int TVantrelAutomation::CarDeviceNumber() { return take(server().CarDeviceNumber()); }

void TVantrelAutomation::ComputeTrack(const QString& groupId, int deviceNumber,
                                      const QString& periodBegin, const QString& periodEnd,
                                      const QString& channel, int mode) {
    take(server().ComputeTrack(groupId, deviceNumber, periodBegin, periodEnd, channel, mode));
}

int TVantrelAutomation::ComputeStatus() { return take(server().ComputeStatus()); }
QString TVantrelAutomation::CurrentGroupId() { return take(server().CurrentGroupId()); }
int TVantrelAutomation::CurrentCarId() { return take(server().CurrentCarId()); }
int TVantrelAutomation::TripCount() { return take(server().TripCount()); }
void TVantrelAutomation::SetTripIndex(int index) {
    const auto ahead = takeAhead("SetTripIndex", index);
    take(ahead ? QDBusPendingReply<>(*ahead->reply) : server().SetTripIndex(index));
}
QString TVantrelAutomation::TripBegin() { return take(server().TripBegin()); }
QString TVantrelAutomation::TripEnd() { return take(server().TripEnd()); }
QString TVantrelAutomation::TripDuration() { return take(server().TripDuration()); }
int TVantrelAutomation::TrackPointCount() { return take(server().TrackPointCount()); }

std::vector<double> TVantrelAutomation::TrackCrdsArray() {
    auto ahead = takeAhead("TrackCrdsArray");
    QDBusError error;
    std::vector<double> numbers;
    if (ahead && ahead->read.isValid()) {
        NumbersRead read = ahead->read.takeResult();
        if (read.store)
            read.values = std::move(read.store->TrackData);
        else if (!read.fault.isEmpty())
            throw VantrelError(read.fault);
        numbers = std::move(read.values);
        error = read.error;
    } else {
        numbers = (ahead ? std::move(ahead->numbers) : callForNumbers())
                      ->take(options_.callTimeoutMs, error);
    }
    if (error.isValid())
        throw VantrelError(describe(error));
    return numbers;
}

// The store filled on the worker is swapped in; numbers not read there are read here.
void TVantrelAutomation::TrackCrdsInto(TrackStore& store, int pointCount) {
    const bool read = !ahead_.empty() &&
                      std::strcmp(ahead_.front().method, "TrackCrdsArray") == 0 &&
                      ahead_.front().read.isValid() && aheadPoints_ == pointCount;
    if (!read) {
        store.load(TrackCrdsArray(), pointCount);
        return;
    }
    NumbersRead numbers = takeAhead("TrackCrdsArray")->read.takeResult();
    if (numbers.error.isValid())
        throw VantrelError(describe(numbers.error));
    if (!numbers.store)
        throw VantrelError(numbers.fault);
    std::swap(store, *numbers.store);
}

QString TVantrelAutomation::TrackLine() {
    const auto ahead = takeAhead("TrackLine");
    return take(ahead ? QDBusPendingReply<QString>(*ahead->reply) : server().TrackLine());
}

QString TVantrelAutomation::PrefixedTrackLine(const QString& prefix) {
    auto ahead = takeAhead("TrackLine");
    if (ahead && ahead->text.isValid() && prefix == aheadPrefix_) {
        const QString text = ahead->text.result();
        // The server's own line, tens of megabytes, is let go on a worker.
        QThreadPool::globalInstance()->start([reply = std::move(*ahead->reply)] {});
        return text;
    }
    return prefixedText(
        prefix, take(ahead ? QDBusPendingReply<QString>(*ahead->reply) : server().TrackLine()));
}
void TVantrelAutomation::SetTripEntriesListTypeName(const QString& typeName) {
    take(server().SetTripEntriesListTypeName(typeName));
}
void TVantrelAutomation::SetTripEntriesListKindName(const QString& kindName) {
    take(server().SetTripEntriesListKindName(kindName));
}
int TVantrelAutomation::TripEntryCount() { return take(server().TripEntryCount()); }
void TVantrelAutomation::SetTripEntryIndex(int index) { take(server().SetTripEntryIndex(index)); }
QString TVantrelAutomation::TripEntryBegin() { return take(server().TripEntryBegin()); }
QString TVantrelAutomation::TripEntryEnd() { return take(server().TripEntryEnd()); }
QString TVantrelAutomation::TripEntryDuration() { return take(server().TripEntryDuration()); }
double TVantrelAutomation::TripEntrySpeed() { return take(server().TripEntrySpeed()); }
double TVantrelAutomation::TripEntryTank1Start() { return take(server().TripEntryTank1Start()); }
double TVantrelAutomation::TripEntryTank1End() { return take(server().TripEntryTank1End()); }
double TVantrelAutomation::TripEntryTank2Start() { return take(server().TripEntryTank2Start()); }
double TVantrelAutomation::TripEntryTank2End() { return take(server().TripEntryTank2End()); }
double TVantrelAutomation::TripEntryCoordA() { return take(server().TripEntryCoordA()); }
double TVantrelAutomation::TripEntryCoordB() { return take(server().TripEntryCoordB()); }
QString TVantrelAutomation::CheckpointListId() { return take(server().CheckpointListId()); }
void TVantrelAutomation::LoadCheckpoints(const QString& listId) {
    take(server().LoadCheckpoints(listId));
}
int TVantrelAutomation::CheckpointCount() { return take(server().CheckpointCount()); }
void TVantrelAutomation::SetCheckpointIndex(int index) { take(server().SetCheckpointIndex(index)); }
QString TVantrelAutomation::CheckpointName() { return take(server().CheckpointName()); }
QString TVantrelAutomation::CheckpointNote() { return take(server().CheckpointNote()); }
double TVantrelAutomation::CheckpointLatitude() { return take(server().CheckpointLatitude()); }
double TVantrelAutomation::CheckpointLongitude() { return take(server().CheckpointLongitude()); }
int TVantrelAutomation::CheckpointRadius() { return take(server().CheckpointRadius()); }
void TVantrelAutomation::SetPropertyName(const QString& name) { take(server().SetPropertyName(name)); }
QString TVantrelAutomation::PropertyValue() { return take(server().PropertyValue()); }
