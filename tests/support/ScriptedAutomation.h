#pragma once

#include "IVantrelAutomation.h"

#include <QMap>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <map>
#include <vector>

// An in-process tracking server for tests: data set up by the test, every call logged by
// name, any operation made to fail, events raised on demand.
class ScriptedAutomation : public IVantrelAutomation {
public:
    struct Car {
        int id = 0;
        QString name, number;
        int device = 0;
    };
    struct Group {
        QString id, name;
        std::vector<Car> cars;
    };
    struct Entry {
        QString begin, end, duration;
        double speed = 0, tank1Start = 0, tank1End = 0, tank2Start = 0, tank2End = 0;
        double coordA = 0, coordB = 0;
    };
    struct Trip {
        QString begin, end, duration;
        std::vector<double> track; // five values per point
        int pointCount = -1;       // -1: track.size() / 5
        QString line;
        std::map<QString, std::vector<Entry>> entries; // "type" or "type-kind"
    };
    struct Checkpoint {
        QString name, note;
        double latitude = 0, longitude = 0;
        int radius = 0;
    };

    std::vector<Group> groups;
    std::vector<Trip> trips;
    std::vector<Checkpoint> checkpoints;
    int computeStatus = 2;
    QString currentGroupId;
    int currentCarId = 0;

    QStringList calls;                   // "Name" or "Name(args)" for every operation
    std::map<QString, QString> failures; // operation name → error text
    std::map<QString, QString> failOnce; // the same, for the next call only
    bool answerComputeAtOnce = false;    // raise OnEndComputing inside ComputeTrack
    // A trip's numbers held on their way, as a long trip's are, until `answerAhead` (or the
    // next call, which the wrapper makes wait for them).
    bool holdAhead = false;
    void answerAhead() override;
    bool aheadHeld() const { return bool(held_); }
    // Answers of dropped calls still on their way: work waiting for them is held until
    // droppedArrive().
    bool droppedTravelling = false;
    void droppedArrive() {
        droppedTravelling = false;
        if (const std::function<void()> work = std::exchange(heldAfterDrop_, {}))
            work();
    }
    std::function<void(const QString&)> onCall; // sees each call as it is logged

    void raise(AutomationEvent event);

    void StartServer() override;
    void RegisterHandler(AutomationEvent event, QObject* target, std::function<void()> handler) override;
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
    void whenAheadAnswered(std::function<void()> answered) override;
    void dropAhead() override;
    bool droppedInFlight() override { return droppedTravelling; }
    void whenDroppedArrived(std::function<void()> work) override {
        if (droppedTravelling)
            heldAfterDrop_ = std::move(work);
        else
            work();
    }

    // Cursor state, readable by tests.
    int groupCursor = 0, carCursor = 0, tripCursor = 0, entryCursor = 0, checkpointCursor = 0;
    QString selectedGroup, entryType, entryKind, propertyName;
    int selectedCar = 0;

    // Count of logged calls whose text starts with `prefix`.
    int count(const QString& prefix) const;

private:
    void log(const QString& call);
    const Group& group() const;
    const Car& car() const;
    Trip& trip();
    const std::vector<Entry>& entryList();
    const Entry& entry();

    struct Handler {
        QPointer<QObject> target;
        std::function<void()> run;
    };
    std::map<AutomationEvent, std::vector<Handler>> handlers_;
    std::function<void()> held_;
    std::function<void()> heldAfterDrop_;
};
