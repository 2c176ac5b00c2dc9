#include "ScriptedAutomation.h"

#include "VantrelError.h"

namespace {
template <typename T> const T& at(const std::vector<T>& items, int index, const char* what) {
    if (index < 1 || index > int(items.size()))
        throw VantrelError(QStringLiteral("%1: индекс %2 вне диапазона").arg(QString::fromLatin1(what)).arg(index));
    return items[size_t(index - 1)];
}
} // namespace

void ScriptedAutomation::whenAheadAnswered(std::function<void()> answered) {
    if (holdAhead)
        held_ = std::move(answered);
    else
        answered();
}

void ScriptedAutomation::dropAhead() {
    held_ = {};
    calls << QStringLiteral("dropAhead");
}

void ScriptedAutomation::answerAhead() {
    if (const std::function<void()> work = std::exchange(held_, {}))
        work();
}

void ScriptedAutomation::log(const QString& call) {
    answerAhead(); // what waits for the answers comes before any other call
    calls << call;
    if (onCall)
        onCall(call);
    const QString name = call.section(QLatin1Char('('), 0, 0);
    const auto failure = failures.find(name);
    if (failure != failures.end())
        throw VantrelError(failure->second);
    const auto once = failOnce.find(name);
    if (once != failOnce.end()) {
        const QString text = once->second;
        failOnce.erase(once);
        throw VantrelError(text);
    }
}

int ScriptedAutomation::count(const QString& prefix) const {
    int n = 0;
    for (const QString& call : calls)
        n += call.startsWith(prefix) ? 1 : 0;
    return n;
}

void ScriptedAutomation::raise(AutomationEvent event) {
    const auto handlers = handlers_[event];
    for (const Handler& handler : handlers)
        if (handler.target)
            handler.run();
}

void ScriptedAutomation::StartServer() { log(QStringLiteral("StartServer")); }

void ScriptedAutomation::RegisterHandler(AutomationEvent event, QObject* target,
                                         std::function<void()> handler) {
    calls << QStringLiteral("RegisterHandler(%1)").arg(int(event));
    handlers_[event].push_back({target, std::move(handler)});
}

const ScriptedAutomation::Group& ScriptedAutomation::group() const {
    for (const Group& g : groups)
        if (g.id == selectedGroup)
            return g;
    throw VantrelError(QStringLiteral("Группа не выбрана"));
}

const ScriptedAutomation::Car& ScriptedAutomation::car() const {
    return at(group().cars, carCursor, "машина");
}

ScriptedAutomation::Trip& ScriptedAutomation::trip() {
    at(trips, tripCursor, "рейс");
    return trips[size_t(tripCursor - 1)];
}

const std::vector<ScriptedAutomation::Entry>& ScriptedAutomation::entryList() {
    static const std::vector<Entry> none;
    const QString key = entryKind.isEmpty() ? entryType : entryType + QLatin1Char('-') + entryKind;
    const auto found = trip().entries.find(key);
    if (found == trip().entries.end()) {
        const auto typeOnly = trip().entries.find(entryType);
        return typeOnly == trip().entries.end() ? none : typeOnly->second;
    }
    return found->second;
}

const ScriptedAutomation::Entry& ScriptedAutomation::entry() {
    return at(entryList(), entryCursor, "запись");
}

int ScriptedAutomation::GroupCount() {
    log(QStringLiteral("GroupCount"));
    return int(groups.size());
}
void ScriptedAutomation::SetGroupIndex(int index) {
    log(QStringLiteral("SetGroupIndex(%1)").arg(index));
    at(groups, index, "группа");
    groupCursor = index;
}
QString ScriptedAutomation::GroupName() {
    log(QStringLiteral("GroupName"));
    return at(groups, groupCursor, "группа").name;
}
QString ScriptedAutomation::GroupId() {
    log(QStringLiteral("GroupId"));
    return at(groups, groupCursor, "группа").id;
}
void ScriptedAutomation::SelectGroup(const QString& groupId) {
    log(QStringLiteral("SelectGroup(%1)").arg(groupId));
    selectedGroup = groupId;
    carCursor = 0;
}
int ScriptedAutomation::CarCount() {
    log(QStringLiteral("CarCount"));
    return int(group().cars.size());
}
void ScriptedAutomation::SetCarIndex(int index) {
    log(QStringLiteral("SetCarIndex(%1)").arg(index));
    at(group().cars, index, "машина");
    carCursor = index;
}
void ScriptedAutomation::SelectCar(int carId) {
    log(QStringLiteral("SelectCar(%1)").arg(carId));
    selectedCar = carId;
    const auto& cars = group().cars;
    for (size_t i = 0; i < cars.size(); ++i)
        if (cars[i].id == carId)
            carCursor = int(i) + 1;
}
QString ScriptedAutomation::CarName() {
    log(QStringLiteral("CarName"));
    return car().name;
}
QString ScriptedAutomation::CarNumber() {
    log(QStringLiteral("CarNumber"));
    return car().number;
}
int ScriptedAutomation::CarDeviceNumber() {
    log(QStringLiteral("CarDeviceNumber"));
    return car().device;
}
void ScriptedAutomation::ComputeTrack(const QString& groupId, int deviceNumber,
                                      const QString& periodBegin, const QString& periodEnd,
                                      const QString& channel, int mode) {
    log(QStringLiteral("ComputeTrack(%1,%2,%3,%4,%5,%6)")
            .arg(groupId)
            .arg(deviceNumber)
            .arg(periodBegin, periodEnd, channel)
            .arg(mode));
    if (answerComputeAtOnce) {
        computeStatus = 0;
        raise(AutomationEvent::OnEndComputing);
    }
}
int ScriptedAutomation::ComputeStatus() {
    log(QStringLiteral("ComputeStatus"));
    return computeStatus;
}
QString ScriptedAutomation::CurrentGroupId() {
    log(QStringLiteral("CurrentGroupId"));
    return currentGroupId;
}
int ScriptedAutomation::CurrentCarId() {
    log(QStringLiteral("CurrentCarId"));
    return currentCarId;
}
int ScriptedAutomation::TripCount() {
    log(QStringLiteral("TripCount"));
    return computeStatus == 0 ? int(trips.size()) : 0;
}
void ScriptedAutomation::SetTripIndex(int index) {
    log(QStringLiteral("SetTripIndex(%1)").arg(index));
    at(trips, index, "рейс");
    tripCursor = index;
}
QString ScriptedAutomation::TripBegin() {
    log(QStringLiteral("TripBegin"));
    return trip().begin;
}
QString ScriptedAutomation::TripEnd() {
    log(QStringLiteral("TripEnd"));
    return trip().end;
}
QString ScriptedAutomation::TripDuration() {
    log(QStringLiteral("TripDuration"));
    return trip().duration;
}
int ScriptedAutomation::TrackPointCount() {
    log(QStringLiteral("TrackPointCount"));
    const Trip& t = trip();
    return t.pointCount != -1 ? t.pointCount : int(t.track.size() / 5);
}
std::vector<double> ScriptedAutomation::TrackCrdsArray() {
    log(QStringLiteral("TrackCrdsArray"));
    return trip().track;
}
QString ScriptedAutomation::TrackLine() {
    log(QStringLiteral("TrackLine"));
    return trip().line;
}
void ScriptedAutomation::SetTripEntriesListTypeName(const QString& typeName) {
    log(QStringLiteral("SetTripEntriesListTypeName(%1)").arg(typeName));
    entryType = typeName;
}
void ScriptedAutomation::SetTripEntriesListKindName(const QString& kindName) {
    log(QStringLiteral("SetTripEntriesListKindName(%1)").arg(kindName));
    entryKind = kindName;
}
int ScriptedAutomation::TripEntryCount() {
    log(QStringLiteral("TripEntryCount"));
    return int(entryList().size());
}
void ScriptedAutomation::SetTripEntryIndex(int index) {
    log(QStringLiteral("SetTripEntryIndex(%1)").arg(index));
    at(entryList(), index, "запись");
    entryCursor = index;
}
QString ScriptedAutomation::TripEntryBegin() {
    log(QStringLiteral("TripEntryBegin"));
    return entry().begin;
}
QString ScriptedAutomation::TripEntryEnd() {
    log(QStringLiteral("TripEntryEnd"));
    return entry().end;
}
QString ScriptedAutomation::TripEntryDuration() {
    log(QStringLiteral("TripEntryDuration"));
    return entry().duration;
}
double ScriptedAutomation::TripEntrySpeed() {
    log(QStringLiteral("TripEntrySpeed"));
    return entry().speed;
}
double ScriptedAutomation::TripEntryTank1Start() {
    log(QStringLiteral("TripEntryTank1Start"));
    return entry().tank1Start;
}
double ScriptedAutomation::TripEntryTank1End() {
    log(QStringLiteral("TripEntryTank1End"));
    return entry().tank1End;
}
double ScriptedAutomation::TripEntryTank2Start() {
    log(QStringLiteral("TripEntryTank2Start"));
    return entry().tank2Start;
}
double ScriptedAutomation::TripEntryTank2End() {
    log(QStringLiteral("TripEntryTank2End"));
    return entry().tank2End;
}
double ScriptedAutomation::TripEntryCoordA() {
    log(QStringLiteral("TripEntryCoordA"));
    return entry().coordA;
}
double ScriptedAutomation::TripEntryCoordB() {
    log(QStringLiteral("TripEntryCoordB"));
    return entry().coordB;
}
QString ScriptedAutomation::CheckpointListId() {
    log(QStringLiteral("CheckpointListId"));
    return QStringLiteral("list-1");
}
void ScriptedAutomation::LoadCheckpoints(const QString& listId) {
    log(QStringLiteral("LoadCheckpoints(%1)").arg(listId));
}
int ScriptedAutomation::CheckpointCount() {
    log(QStringLiteral("CheckpointCount"));
    return int(checkpoints.size());
}
void ScriptedAutomation::SetCheckpointIndex(int index) {
    log(QStringLiteral("SetCheckpointIndex(%1)").arg(index));
    at(checkpoints, index, "контрольная точка");
    checkpointCursor = index;
}
QString ScriptedAutomation::CheckpointName() {
    log(QStringLiteral("CheckpointName"));
    return at(checkpoints, checkpointCursor, "контрольная точка").name;
}
QString ScriptedAutomation::CheckpointNote() {
    log(QStringLiteral("CheckpointNote"));
    return at(checkpoints, checkpointCursor, "контрольная точка").note;
}
double ScriptedAutomation::CheckpointLatitude() {
    log(QStringLiteral("CheckpointLatitude"));
    return at(checkpoints, checkpointCursor, "контрольная точка").latitude;
}
double ScriptedAutomation::CheckpointLongitude() {
    log(QStringLiteral("CheckpointLongitude"));
    return at(checkpoints, checkpointCursor, "контрольная точка").longitude;
}
int ScriptedAutomation::CheckpointRadius() {
    log(QStringLiteral("CheckpointRadius"));
    return at(checkpoints, checkpointCursor, "контрольная точка").radius;
}
void ScriptedAutomation::SetPropertyName(const QString& name) {
    log(QStringLiteral("SetPropertyName(%1)").arg(name));
    propertyName = name;
}
QString ScriptedAutomation::PropertyValue() {
    log(QStringLiteral("PropertyValue"));
    if (propertyName == QLatin1String("Group_Name")) {
        for (const Group& g : groups)
            if (g.id == selectedGroup)
                return g.name;
        return QString();
    }
    if (propertyName == QLatin1String("Car_Device")) {
        for (const Group& g : groups)
            for (const Car& c : g.cars)
                if (c.id == selectedCar)
                    return QString::number(c.device);
        return QString();
    }
    throw VantrelError(QStringLiteral("Неизвестное имя значения: %1").arg(propertyName));
}
