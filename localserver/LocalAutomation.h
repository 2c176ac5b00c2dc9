#pragma once

#include "IVantrelAutomation.h"

#include <QString>
#include <memory>

namespace vserver {
class AutomationService;
}

// The tracking server's own object in this process, on a store of its own choosing: the trip
// sheet and the report compute with it, so that they never move the cursors or the current
// computation of the server that the window (or anyone else on the bus) uses.
class LocalAutomation : public IVantrelAutomation {
public:
    // Opens the store (a SQLite file or a PostgreSQL URI); throws VantrelError when it is missing.
    explicit LocalAutomation(const QString& storePath);
    ~LocalAutomation() override;

    // The store the tracking server uses when it is started without --db.
    static QString defaultStorePath();

    void StartServer() override {}
    void RegisterHandler(AutomationEvent event, QObject* target,
                         std::function<void()> handler) override;
    int GroupCount() override;
    void SetGroupIndex(int index) override;
    QString GroupName() override;
    QString GroupId() override;
    void SelectGroup(const QString& groupId) override;
    int CarCount() override;
    void SetCarIndex(int index) override;
    void SelectCar(int carId) override;
    QString CarName() override;
    QString CarNumber() override;
    int CarDeviceNumber() override;
    void ComputeTrack(const QString& groupId, int deviceNumber, const QString& periodBegin,
                      const QString& periodEnd, const QString& channel, int mode) override;
    int ComputeStatus() override;
    QString CurrentGroupId() override;
    int CurrentCarId() override;
    int TripCount() override;
    void SetTripIndex(int index) override;
    QString TripBegin() override;
    QString TripEnd() override;
    QString TripDuration() override;
    int TrackPointCount() override;
    std::vector<double> TrackCrdsArray() override;
    QString TrackLine() override;
    void SetTripEntriesListTypeName(const QString& typeName) override;
    void SetTripEntriesListKindName(const QString& kindName) override;
    int TripEntryCount() override;
    void SetTripEntryIndex(int index) override;
    QString TripEntryBegin() override;
    QString TripEntryEnd() override;
    QString TripEntryDuration() override;
    double TripEntrySpeed() override;
    double TripEntryTank1Start() override;
    double TripEntryTank1End() override;
    double TripEntryTank2Start() override;
    double TripEntryTank2End() override;
    double TripEntryCoordA() override;
    double TripEntryCoordB() override;
    QString CheckpointListId() override;
    void LoadCheckpoints(const QString& listId) override;
    int CheckpointCount() override;
    void SetCheckpointIndex(int index) override;
    QString CheckpointName() override;
    QString CheckpointNote() override;
    double CheckpointLatitude() override;
    double CheckpointLongitude() override;
    int CheckpointRadius() override;
    void SetPropertyName(const QString& name) override;
    QString PropertyValue() override;

private:
    std::unique_ptr<vserver::AutomationService> service_;
};
