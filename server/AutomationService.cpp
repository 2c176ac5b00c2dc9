#include "AutomationService.h"

#include "Computation.h"
#include "DateTimeValue.h"
#include "QuotedArgument.h"
#include "VantrelError.h"

#include <QDBusConnectionInterface>
#include <QThreadPool>

namespace vserver {
namespace {

const QString kService = QStringLiteral("org.vantrel.Automation");
const QString kPath = QStringLiteral("/org/vantrel/Automation");

// Entry types whose lists are told apart by a kind.
bool hasKinds(const QString& type) {
    return type == QLatin1String("tank") || type == QLatin1String("sensor_on") ||
           type == QLatin1String("checkpoints");
}

const QStringList kEntryTypes = {QStringLiteral("parks"),      QStringLiteral("blinds"),
                                 QStringLiteral("power_off"),  QStringLiteral("over_speed"),
                                 QStringLiteral("tank"),       QStringLiteral("sensor_on"),
                                 QStringLiteral("checkpoints")};

} // namespace

AutomationService::AutomationService(const QString& storePath, QObject* parent)
    : QObject(parent), storePath_(storePath), store_(storePath),
      runner_(std::make_unique<ComputationRunner>(
          storePath, [this](ComputationRunner::Outcome outcome) {
              QMetaObject::invokeMethod(
                  this, [this, outcome] { finishComputation(outcome); }, Qt::QueuedConnection);
          })) {}

// The runner stops its computation and waits for it before anything it reports to goes.
AutomationService::~AutomationService() {
    runner_.reset();
}

bool AutomationService::publish(QDBusConnection connection, QString* reason) {
    connection_ = connection;
    if (!connection.registerObject(kPath, this,
                                   QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals)) {
        *reason = QStringLiteral("не удалось зарегистрировать объект %1").arg(kPath);
        return false;
    }
    if (!connection.registerService(kService)) {
        *reason = QStringLiteral("имя %1 уже занято: %2").arg(kService, connection.lastError().message());
        connection.unregisterObject(kPath);
        return false;
    }
    published_ = true;
    return true;
}

void AutomationService::close() {
    runner_->cancel(); // a computation under way stops at its next check
    requested_ = 0;
    if (!published_)
        return;
    emit OnCloseServer();
    connection_.unregisterService(kService);
    connection_.unregisterObject(kPath);
    published_ = false;
}

template <typename Work> auto AutomationService::answer(Work work) -> decltype(work()) {
    using Value = decltype(work());
    const auto reply = [this](const QString& name, const QString& text) {
        if (calledFromDBus())
            sendErrorReply(kErrorPrefix + name, text);
        else
            throw VantrelError(text);
    };
    if (callerObserver_ && calledFromDBus())
        callerObserver_(message().service());
    try {
        return work();
    } catch (const Failure& failure) {
        reply(failure.name, failure.text);

    } catch (const std::exception& error) {
        reply(QStringLiteral("Failed"), QString::fromUtf8(error.what()));
    }
    if constexpr (!std::is_void_v<Value>)
        return Value{};
}

void AutomationService::outOfRange(const QString& what, int index, int count) {
    if (count == 0)
        throw Failure{QStringLiteral("OutOfRange"), QStringLiteral("%1: список пуст").arg(what)};
    throw Failure{QStringLiteral("OutOfRange"),
                  QStringLiteral("%1: номер %2 вне диапазона 1..%3").arg(what).arg(index).arg(count)};
}

// Every getter needs a current item; without one it answers OutOfRange.
const Group& AutomationService::group() {
    if (groupIndex_ < 1 || groupIndex_ > int(groups_.size()))
        throw Failure{QStringLiteral("OutOfRange"), QStringLiteral("Группа не выбрана (SetGroupIndex)")};
    return groups_[size_t(groupIndex_ - 1)];
}

const Car& AutomationService::car() {
    if (carIndex_ < 1 || carIndex_ > int(cars_.size()))
        throw Failure{QStringLiteral("OutOfRange"), QStringLiteral("Машина не выбрана (SetCarIndex или SelectCar)")};
    return cars_[size_t(carIndex_ - 1)];
}

const Trip& AutomationService::trip() {
    if (!result_ || status_ != 0)
        throw Failure{QStringLiteral("NoResult"), QStringLiteral("Нет результата расчёта")};
    if (tripIndex_ < 1 || tripIndex_ > int(result_->trips.size()))
        throw Failure{QStringLiteral("OutOfRange"), QStringLiteral("Рейс не выбран (SetTripIndex)")};
    return result_->trips[size_t(tripIndex_ - 1)];
}

const std::vector<Entry>& AutomationService::entries() {
    static const std::vector<Entry> none;
    const Trip& current = trip();
    if (entryType_.isEmpty())
        throw Failure{QStringLiteral("OutOfRange"),
                      QStringLiteral("Тип списка записей не задан (SetTripEntriesListTypeName)")};
    const QString key = hasKinds(entryType_) ? entryType_ + QLatin1Char('-') + entryKind_ : entryType_;
    const auto found = current.entries.find(key);
    return found == current.entries.end() ? none : found->second;
}

const Entry& AutomationService::entry() {
    const auto& list = entries();
    if (entryIndex_ < 1 || entryIndex_ > int(list.size()))
        throw Failure{QStringLiteral("OutOfRange"), QStringLiteral("Запись не выбрана (SetTripEntryIndex)")};
    return list[size_t(entryIndex_ - 1)];
}

const Checkpoint& AutomationService::checkpoint() {
    if (checkpointIndex_ < 1 || checkpointIndex_ > int(checkpoints_.size()))
        throw Failure{QStringLiteral("OutOfRange"),
                      QStringLiteral("Контрольная точка не выбрана (SetCheckpointIndex)")};
    return checkpoints_[size_t(checkpointIndex_ - 1)];
}

int AutomationService::GroupCount() {
    return answer([&] {
        groups_ = store_.groups();
        return int(groups_.size());
    });
}

void AutomationService::SetGroupIndex(int index) {
    answer([&] {
        if (groups_.empty())
            groups_ = store_.groups();
        if (index < 1 || index > int(groups_.size()))
            outOfRange(QStringLiteral("Группа"), index, int(groups_.size()));
        groupIndex_ = index;
    });
}

QString AutomationService::GroupName() { return answer([&] { return group().name; }); }
QString AutomationService::GroupId() { return answer([&] { return group().id; }); }

void AutomationService::SelectGroup(const QString& groupId) {
    answer([&] {
        groups_ = store_.groups();
        const bool known = std::any_of(groups_.begin(), groups_.end(),
                                       [&](const Group& g) { return g.id == groupId; });
        if (!known)
            throw Failure{QStringLiteral("UnknownGroup"), QStringLiteral("Нет группы с кодом «%1»").arg(quotedArgument(groupId))};
        selectedGroup_ = groupId;
        cars_ = store_.cars(groupId);
        carIndex_ = 0;
    });
}

int AutomationService::CarCount() {
    return answer([&] {
        if (selectedGroup_.isEmpty())
            throw Failure{QStringLiteral("OutOfRange"), QStringLiteral("Группа не выбрана (SelectGroup)")};
        return int(cars_.size());
    });
}

void AutomationService::SetCarIndex(int index) {
    answer([&] {
        if (index < 1 || index > int(cars_.size()))
            outOfRange(QStringLiteral("Машина"), index, int(cars_.size()));
        carIndex_ = index;
    });
}

void AutomationService::SelectCar(int carId) {
    answer([&] {
        for (size_t i = 0; i < cars_.size(); ++i)
            if (cars_[i].id == carId) {
                carIndex_ = int(i) + 1;
                return;
            }
        // A car of another group: that group becomes the selected one.
        for (const Car& other : store_.allCars())
            if (other.id == carId) {
                selectedGroup_ = other.groupId;
                cars_ = store_.cars(other.groupId);
                for (size_t i = 0; i < cars_.size(); ++i)
                    if (cars_[i].id == carId)
                        carIndex_ = int(i) + 1;
                return;
            }
        throw Failure{QStringLiteral("UnknownCar"), QStringLiteral("Нет машины с кодом %1").arg(carId)};
    });
}

QString AutomationService::CarName() { return answer([&] { return car().name; }); }
QString AutomationService::CarNumber() { return answer([&] { return car().number; }); }
int AutomationService::CarDeviceNumber() { return answer([&] { return car().device; }); }

void AutomationService::ComputeTrack(const QString& groupId, int deviceNumber, const QString& periodBegin,
                                     const QString& periodEnd, const QString& channel, int mode) {
    answer([&] {
        const std::vector<Car> groupCars = store_.cars(groupId);
        const auto groups = store_.groups();
        if (std::none_of(groups.begin(), groups.end(), [&](const Group& g) { return g.id == groupId; }))
            throw Failure{QStringLiteral("UnknownGroup"), QStringLiteral("Нет группы с кодом «%1»").arg(quotedArgument(groupId))};
        const auto found = std::find_if(groupCars.begin(), groupCars.end(),
                                        [&](const Car& c) { return c.device == deviceNumber; });
        if (found == groupCars.end())
            throw Failure{QStringLiteral("UnknownCar"),
                          QStringLiteral("В группе «%1» нет машины с прибором %2").arg(quotedArgument(groupId), QString::number(deviceNumber))};
        double begin = 0, end = 0;
        try {
            begin = datetime::parseText(periodBegin);
            end = datetime::parseText(periodEnd);
            datetime::checkPeriod(begin, end);
        } catch (const VantrelError& error) {
            throw Failure{QStringLiteral("BadPeriod"), error.text()};
        }
        Q_UNUSED(channel);
        Q_UNUSED(mode);
        requested_ = runner_->submit({*found, begin, end});
        status_ = 1;
    });
}

void AutomationService::finishComputation(const ComputationRunner::Outcome& outcome) {
    if (outcome.generation != requested_)
        return; // a later request replaced this one
    if (outcome.result) {
        result_ = outcome.result;
        status_ = 0;
    } else {
        qWarning("vantrel-server: the computation failed: %s", qPrintable(outcome.error));
        result_.reset();
        status_ = 2;
    }
    tripIndex_ = 0;
    entryIndex_ = 0;
    trackLines_ = std::make_shared<TrackLines>();
    emit OnEndComputing();
}

QString AutomationService::CurrentGroupId() {
    return answer([&] {
        if (!result_)
            throw Failure{QStringLiteral("NoResult"), QStringLiteral("Нет результата расчёта")};
        return result_->groupId;
    });
}

int AutomationService::CurrentCarId() {
    return answer([&] {
        if (!result_)
            throw Failure{QStringLiteral("NoResult"), QStringLiteral("Нет результата расчёта")};
        return result_->carId;
    });
}

int AutomationService::TripCount() {
    return answer([&] { return status_ == 0 && result_ ? int(result_->trips.size()) : 0; });
}

void AutomationService::SetTripIndex(int index) {
    answer([&] {
        const int count = status_ == 0 && result_ ? int(result_->trips.size()) : 0;
        if (index < 1 || index > count)
            outOfRange(QStringLiteral("Рейс"), index, count);
        if (index != tripIndex_)
            entryIndex_ = 0;
        tripIndex_ = index;
    });
}

QString AutomationService::TripBegin() { return answer([&] { return datetime::formatText(trip().begin); }); }
QString AutomationService::TripEnd() { return answer([&] { return datetime::formatText(trip().end); }); }
QString AutomationService::TripDuration() {
    return answer([&] { return durationText(trip().end - trip().begin); });
}
int AutomationService::TrackPointCount() { return answer([&] { return int(trip().points.size()); }); }

namespace {
// The bus refuses an array above 64 MiB and a message above 128 MiB, and drops the sender with
// it: such a reply is refused before it is sent.
constexpr qint64 kLargestArrayBytes = qint64(64) << 20;
constexpr qint64 kLargestMessageBytes = (qint64(128) << 20) - (qint64(64) << 10);

} // namespace

void AutomationService::refuseLarger(qint64 bytes, qint64 limit, const QString& what) {
    if (bytes > limit)
        throw Failure{QStringLiteral("TooLarge"),
                      what + QStringLiteral(" занял бы %1 МБ, больше предела шины D-Bus (%2 МБ); выберите период короче")
                                 .arg(QString::number(double(bytes) / (1 << 20), 'f', 1), QString::number(limit >> 20))};
}

template <typename Make> bool AutomationService::answeredElsewhere(size_t points, Make make) {
    constexpr size_t kLargeTrip = 100000; // points; smaller replies take a millisecond or two here
    if (!calledFromDBus() || points < kLargeTrip)
        return false;
    setDelayedReply(true);
    QThreadPool::globalInstance()->start(
        [request = message(), bus = connection(), make = std::move(make)] {
            QDBusMessage reply;
            try {
                reply = request.createReply(QVariant::fromValue(make()));
            } catch (const Failure& failure) {
                reply = request.createErrorReply(kErrorPrefix + failure.name, failure.text);
            } catch (const std::exception& error) {
                reply = request.createErrorReply(kErrorPrefix + QStringLiteral("Failed"),
                                                 QString::fromUtf8(error.what()));
            }
            bus.send(reply);
        });
    return true;
}

QList<double> AutomationService::TrackCrdsArray() {
    return answer([&] {
        const Trip& current = trip();
        refuseLarger(qint64(current.points.size()) * 5 * qint64(sizeof(double)), kLargestArrayBytes,
                     QStringLiteral("Трек рейса из %1 точек").arg(current.points.size()));
        const auto values = [result = result_, trip = size_t(tripIndex_ - 1)] {
            const std::vector<TrackPoint>& points = result->trips[trip].points;
            QList<double> values;
            values.reserve(qsizetype(points.size()) * 5);
            for (const TrackPoint& p : points)
                values << p.time << p.lon << p.lat << p.mileage << p.speed;
            return values;
        };
        return answeredElsewhere(current.points.size(), values) ? QList<double>() : values();
    });
}

QString AutomationService::TrackLine() {
    return answer([&] {
        const Trip& current = trip();
        // Every point takes at least 8 characters ("1 2,"), most about 36: refused early when
        // even the shortest text would not fit, and for certain once written.
        const QString what = QStringLiteral("Текст трека из %1 точек").arg(current.points.size());
        refuseLarger(qint64(current.points.size()) * 8, kLargestMessageBytes, what);
        // Written once per trip of a result: clients ask again as they redraw.
        const auto line = [result = result_, lines = trackLines_, trip = tripIndex_, what] {
            std::unique_lock lock(lines->mutex);
            QString text = lines->byTrip[trip];
            if (text.isNull()) {
                lock.unlock();
                text = trackLine(result->trips[size_t(trip - 1)].points);
                lock.lock();
                lines->byTrip[trip] = text;
            }
            refuseLarger(text.size(), kLargestMessageBytes, what);
            return text;
        };
        return answeredElsewhere(current.points.size(), line) ? QString() : line();
    });
}

void AutomationService::SetTripEntriesListTypeName(const QString& typeName) {
    answer([&] {
        if (!kEntryTypes.contains(typeName))
            throw Failure{QStringLiteral("UnknownEntryType"),
                          QStringLiteral("Неизвестный тип записей «%1»; известны: %2")
                              .arg(quotedArgument(typeName), kEntryTypes.join(QStringLiteral(", ")))};
        entryType_ = typeName;
        entryIndex_ = 0;
    });
}

void AutomationService::SetTripEntriesListKindName(const QString& kindName) {
    answer([&] {
        entryKind_ = kindName;
        entryIndex_ = 0;
    });
}

int AutomationService::TripEntryCount() { return answer([&] { return int(entries().size()); }); }

void AutomationService::SetTripEntryIndex(int index) {
    answer([&] {
        const int count = int(entries().size());
        if (index < 1 || index > count)
            outOfRange(QStringLiteral("Запись"), index, count);
        entryIndex_ = index;
    });
}

QString AutomationService::TripEntryBegin() { return answer([&] { return datetime::formatText(entry().begin); }); }
QString AutomationService::TripEntryEnd() { return answer([&] { return datetime::formatText(entry().end); }); }
QString AutomationService::TripEntryDuration() {
    return answer([&] { return durationText(entry().end - entry().begin); });
}
double AutomationService::TripEntrySpeed() { return answer([&] { return entry().speed; }); }
double AutomationService::TripEntryTank1Start() { return answer([&] { return entry().tank1Start; }); }
double AutomationService::TripEntryTank1End() { return answer([&] { return entry().tank1End; }); }
double AutomationService::TripEntryTank2Start() { return answer([&] { return entry().tank2Start; }); }
double AutomationService::TripEntryTank2End() { return answer([&] { return entry().tank2End; }); }
double AutomationService::TripEntryCoordA() { return answer([&] { return entry().lon; }); }
double AutomationService::TripEntryCoordB() { return answer([&] { return entry().lat; }); }

QString AutomationService::CheckpointListId() { return answer([&] { return car().checkpointList; }); }

void AutomationService::LoadCheckpoints(const QString& listId) {
    answer([&] {
        checkpoints_ = store_.checkpoints(listId);
        checkpointIndex_ = 0;
    });
}

int AutomationService::CheckpointCount() { return answer([&] { return int(checkpoints_.size()); }); }

void AutomationService::SetCheckpointIndex(int index) {
    answer([&] {
        if (index < 1 || index > int(checkpoints_.size()))
            outOfRange(QStringLiteral("Контрольная точка"), index, int(checkpoints_.size()));
        checkpointIndex_ = index;
    });
}

QString AutomationService::CheckpointName() { return answer([&] { return checkpoint().name; }); }
QString AutomationService::CheckpointNote() { return answer([&] { return checkpoint().note; }); }
double AutomationService::CheckpointLatitude() { return answer([&] { return checkpoint().lat; }); }
double AutomationService::CheckpointLongitude() { return answer([&] { return checkpoint().lon; }); }
int AutomationService::CheckpointRadius() { return answer([&] { return checkpoint().radius; }); }

void AutomationService::SetPropertyName(const QString& name) {
    answer([&] {
        if (name != QLatin1String("Group_Name") && name != QLatin1String("Car_Device") &&
            name != QLatin1String("Store_Path"))
            throw Failure{QStringLiteral("UnknownProperty"),
                          QStringLiteral("Неизвестное имя значения «%1»; известны Group_Name, Car_Device и Store_Path")
                              .arg(quotedArgument(name))};
        propertyName_ = name;
    });
}

QString AutomationService::PropertyValue() {
    return answer([&] {
        if (propertyName_ == QLatin1String("Group_Name")) {
            for (const Group& g : store_.groups())
                if (g.id == selectedGroup_)
                    return g.name;
            throw Failure{QStringLiteral("OutOfRange"), QStringLiteral("Группа не выбрана (SelectGroup)")};
        }
        if (propertyName_ == QLatin1String("Car_Device"))
            return QString::number(car().device);
        // Where the store is, so that a client may compute on it without moving these cursors.
        if (propertyName_ == QLatin1String("Store_Path"))
            return storePath_;
        throw Failure{QStringLiteral("OutOfRange"), QStringLiteral("Имя значения не задано (SetPropertyName)")};
    });
}

} // namespace vserver
