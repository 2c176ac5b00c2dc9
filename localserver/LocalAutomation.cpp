#include "LocalAutomation.h"

#include "AutomationService.h"
#include "VantrelError.h"

#include <QFileInfo>
#include <QStandardPaths>

LocalAutomation::LocalAutomation(const QString& storePath) {
    if (!vserver::Store::isDatabaseUri(storePath) && !QFileInfo(storePath).isFile())
        throw VantrelError(QStringLiteral("Нет хранилища Vantrel %1").arg(storePath));
    service_ = std::make_unique<vserver::AutomationService>(storePath);
}

LocalAutomation::~LocalAutomation() = default;

QString LocalAutomation::defaultStorePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/vantrel/store.sqlite");
}

void LocalAutomation::RegisterHandler(AutomationEvent event, QObject* target,
                                      std::function<void()> handler) {
    if (event == AutomationEvent::OnEndComputing)
        QObject::connect(service_.get(), &vserver::AutomationService::OnEndComputing, target,
                         std::move(handler));
}
int LocalAutomation::GroupCount() {
    return service_->GroupCount();
}
void LocalAutomation::SetGroupIndex(int index) {
    return service_->SetGroupIndex(index);
}
QString LocalAutomation::GroupName() {
    return service_->GroupName();
}
QString LocalAutomation::GroupId() {
    return service_->GroupId();
}
void LocalAutomation::SelectGroup(const QString& groupId) {
    return service_->SelectGroup(groupId);
}
int LocalAutomation::CarCount() {
    return service_->CarCount();
}
void LocalAutomation::SetCarIndex(int index) {
    return service_->SetCarIndex(index);
}
void LocalAutomation::SelectCar(int carId) {
    return service_->SelectCar(carId);
}
QString LocalAutomation::CarName() {
    return service_->CarName();
}
QString LocalAutomation::CarNumber() {
    return service_->CarNumber();
}
int LocalAutomation::CarDeviceNumber() {
    return service_->CarDeviceNumber();
}
void LocalAutomation::ComputeTrack(const QString& groupId, int deviceNumber,
                                   const QString& periodBegin, const QString& periodEnd,
                                   const QString& channel, int mode) {
    return service_->ComputeTrack(groupId, deviceNumber, periodBegin, periodEnd, channel, mode);
}
int LocalAutomation::ComputeStatus() {
    return service_->ComputeStatus();
}
QString LocalAutomation::CurrentGroupId() {
    return service_->CurrentGroupId();
}
int LocalAutomation::CurrentCarId() {
    return service_->CurrentCarId();
}
int LocalAutomation::TripCount() {
    return service_->TripCount();
}
void LocalAutomation::SetTripIndex(int index) {
    return service_->SetTripIndex(index);
}
QString LocalAutomation::TripBegin() {
    return service_->TripBegin();
}
QString LocalAutomation::TripEnd() {
    return service_->TripEnd();
}
QString LocalAutomation::TripDuration() {
    return service_->TripDuration();
}
int LocalAutomation::TrackPointCount() {
    return service_->TrackPointCount();
}
std::vector<double> LocalAutomation::TrackCrdsArray() {
    const QList<double> values = service_->TrackCrdsArray();
    return {values.begin(), values.end()};
}
QString LocalAutomation::TrackLine() {
    return service_->TrackLine();
}
void LocalAutomation::SetTripEntriesListTypeName(const QString& typeName) {
    return service_->SetTripEntriesListTypeName(typeName);
}
void LocalAutomation::SetTripEntriesListKindName(const QString& kindName) {
    return service_->SetTripEntriesListKindName(kindName);
}
int LocalAutomation::TripEntryCount() {
    return service_->TripEntryCount();
}
void LocalAutomation::SetTripEntryIndex(int index) {
    return service_->SetTripEntryIndex(index);
}
QString LocalAutomation::TripEntryBegin() {
    return service_->TripEntryBegin();
}
QString LocalAutomation::TripEntryEnd() {
    return service_->TripEntryEnd();
}
QString LocalAutomation::TripEntryDuration() {
    return service_->TripEntryDuration();
}
double LocalAutomation::TripEntrySpeed() {
    return service_->TripEntrySpeed();
}
double LocalAutomation::TripEntryTank1Start() {
    return service_->TripEntryTank1Start();
}
double LocalAutomation::TripEntryTank1End() {
    return service_->TripEntryTank1End();
}
double LocalAutomation::TripEntryTank2Start() {
    return service_->TripEntryTank2Start();
}
double LocalAutomation::TripEntryTank2End() {
    return service_->TripEntryTank2End();
}
double LocalAutomation::TripEntryCoordA() {
    return service_->TripEntryCoordA();
}
double LocalAutomation::TripEntryCoordB() {
    return service_->TripEntryCoordB();
}
QString LocalAutomation::CheckpointListId() {
    return service_->CheckpointListId();
}
void LocalAutomation::LoadCheckpoints(const QString& listId) {
    return service_->LoadCheckpoints(listId);
}
int LocalAutomation::CheckpointCount() {
    return service_->CheckpointCount();
}
void LocalAutomation::SetCheckpointIndex(int index) {
    return service_->SetCheckpointIndex(index);
}
QString LocalAutomation::CheckpointName() {
    return service_->CheckpointName();
}
QString LocalAutomation::CheckpointNote() {
    return service_->CheckpointNote();
}
double LocalAutomation::CheckpointLatitude() {
    return service_->CheckpointLatitude();
}
double LocalAutomation::CheckpointLongitude() {
    return service_->CheckpointLongitude();
}
int LocalAutomation::CheckpointRadius() {
    return service_->CheckpointRadius();
}
void LocalAutomation::SetPropertyName(const QString& name) {
    return service_->SetPropertyName(name);
}
QString LocalAutomation::PropertyValue() {
    return service_->PropertyValue();
}
