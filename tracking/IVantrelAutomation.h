#pragma once

#include "PrefixedText.h"
#include "TrackStore.h"

#include <QObject>
#include <QString>
#include <functional>
#include <vector>

// The server's events, by their dispatch ids.
enum class AutomationEvent {
    OnChangeCarsLists = 201,
    OnReceiveOnlineData = 202,
    OnCloseServer = 203,
    OnChangeParameters = 204,
    OnEndComputing = 205,
};

// The tracking installation's automation server, cursor style: a setter makes item n (from 1)
// current and the getters read it. Every failing operation throws VantrelError.
class IVantrelAutomation {
public:
    virtual ~IVantrelAutomation() = default;

    // Attaches to the running server or starts one.
    virtual void StartServer() = 0;
    // The handler runs on the target's thread while the target lives.
    virtual void RegisterHandler(AutomationEvent event, QObject* target,
                                 std::function<void()> handler) = 0;

    virtual int GroupCount() = 0;
    virtual void SetGroupIndex(int index) = 0;
    virtual QString GroupName() = 0;
    virtual QString GroupId() = 0;

    virtual void SelectGroup(const QString& groupId) = 0;
    virtual int CarCount() = 0;
    virtual void SetCarIndex(int index) = 0;
    virtual void SelectCar(int carId) = 0;
    virtual QString CarName() = 0;
    virtual QString CarNumber() = 0;
    virtual int CarDeviceNumber() = 0;

    virtual void ComputeTrack(const QString& groupId, int deviceNumber, const QString& periodBegin,
                              const QString& periodEnd, const QString& channel, int mode) = 0;
    virtual int ComputeStatus() = 0;
    virtual QString CurrentGroupId() = 0;
    virtual int CurrentCarId() = 0;

    virtual int TripCount() = 0;
    virtual void SetTripIndex(int index) = 0;
    virtual QString TripBegin() = 0;
    virtual QString TripEnd() = 0;
    virtual QString TripDuration() = 0;
    virtual int TrackPointCount() = 0;
    virtual std::vector<double> TrackCrdsArray() = 0;
    virtual QString TrackLine() = 0;
    // TrackCrdsArray read into `store` for `pointCount` points (TrackStore::load, whose checks
    // throw and leave the store as it was).
    virtual void TrackCrdsInto(TrackStore& store, int pointCount) {
        store.load(TrackCrdsArray(), pointCount);
    }
    // TrackLine with `prefix` in front, in one text.
    virtual QString PrefixedTrackLine(const QString& prefix) {
        return prefixedText(prefix, TrackLine());
    }
    // Announces the calls a trip's load makes next, in this order: TrackCrdsArray,
    // SetTripIndex(tripNumber), TrackLine, TrackLine. A wrapper may send them at once so their
    // answers travel together, each call then taking its answer; doing nothing is as correct.
    // Such a wrapper may also make ready off the caller's thread what the load asks next:
    // the store of `pointCount` points (TrackCrdsInto) and the lines behind `linePrefix`
    // (PrefixedTrackLine), two equal lines as one shared text.
    virtual void SendTrackCallsAhead(int tripNumber, int pointCount = 0,
                                     const QString& linePrefix = QString()) {
        (void)tripNumber;
        (void)pointCount;
        (void)linePrefix;
    }
    // Runs `answered` on the caller's thread once every call sent ahead has its answer, so that
    // taking them waits for nothing; a wrapper that sends nothing ahead runs it at once. Before
    // any other call the wrapper runs it first, so the calls keep their order.
    virtual void whenAheadAnswered(std::function<void()> answered) { answered(); }
    // Forgets the calls sent ahead and the work waiting for them, without waiting: a newer
    // request has replaced them. The server has had those calls all the same.
    virtual void dropAhead() {}
    // Waits for the calls sent ahead and runs the work waiting for them now.
    virtual void answerAhead() {}
    // Whether answers of dropped calls are still coming: a call made now would wait behind them,
    // tens of megabytes for a long trip.
    virtual bool droppedInFlight() { return false; }
    // Runs `work` on the caller's thread once no dropped answer is coming, replacing work given
    // before and not run yet: the newest request is the one that counts.
    virtual void whenDroppedArrived(std::function<void()> work) { work(); }

    virtual void SetTripEntriesListTypeName(const QString& typeName) = 0;
    virtual void SetTripEntriesListKindName(const QString& kindName) = 0;
    virtual int TripEntryCount() = 0;
    virtual void SetTripEntryIndex(int index) = 0;
    virtual QString TripEntryBegin() = 0;
    virtual QString TripEntryEnd() = 0;
    virtual QString TripEntryDuration() = 0;
    virtual double TripEntrySpeed() = 0;
    virtual double TripEntryTank1Start() = 0;
    virtual double TripEntryTank1End() = 0;
    virtual double TripEntryTank2Start() = 0;
    virtual double TripEntryTank2End() = 0;
    virtual double TripEntryCoordA() = 0;
    virtual double TripEntryCoordB() = 0;

    virtual QString CheckpointListId() = 0;
    virtual void LoadCheckpoints(const QString& listId) = 0;
    virtual int CheckpointCount() = 0;
    virtual void SetCheckpointIndex(int index) = 0;
    virtual QString CheckpointName() = 0;
    virtual QString CheckpointNote() = 0;
    virtual double CheckpointLatitude() = 0;
    virtual double CheckpointLongitude() = 0;
    virtual int CheckpointRadius() = 0;

    virtual void SetPropertyName(const QString& name) = 0;
    virtual QString PropertyValue() = 0;
};
