#pragma once

#include "ComputationRunner.h"
#include "ServerTypes.h"
#include "Store.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace vserver {

// The tracking server's one object on the bus (org.vantrel.Automation). It holds one current
// state shared by every client: cursors over groups, cars, trips, entries and checkpoints, and
// the last computation's result. ComputeTrack answers at once and computes on the runner's
// threads with a store connection of their own; OnEndComputing follows. A newer request, from
// any caller, replaces the one under way, which stops.
class AutomationService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.vantrel.Automation")
public:
    static inline const QString kErrorPrefix = QStringLiteral("org.vantrel.Automation.Error.");

    AutomationService(const QString& storePath, QObject* parent = nullptr);
    ~AutomationService() override;

    // Exports the object and takes the service name; false with a reason when the name is taken.
    bool publish(QDBusConnection connection, QString* reason);
    // Says goodbye (OnCloseServer) and gives the name back.
    void close();
    bool computing() const { return status_ == 1; }
    // Told the unique bus name of every client that calls a method.
    void setCallerObserver(std::function<void(const QString&)> observer) { callerObserver_ = std::move(observer); }

public slots:
    int GroupCount();
    void SetGroupIndex(int index);
    QString GroupName();
    QString GroupId();
    void SelectGroup(const QString& groupId);
    int CarCount();
    void SetCarIndex(int index);
    void SelectCar(int carId);
    QString CarName();
    QString CarNumber();
    int CarDeviceNumber();
    void ComputeTrack(const QString& groupId, int deviceNumber, const QString& periodBegin,
                      const QString& periodEnd, const QString& channel, int mode);
    int ComputeStatus() { return status_; }
    QString CurrentGroupId();
    int CurrentCarId();
    int TripCount();
    void SetTripIndex(int index);
    QString TripBegin();
    QString TripEnd();
    QString TripDuration();
    int TrackPointCount();
    QList<double> TrackCrdsArray();
    QString TrackLine();
    void SetTripEntriesListTypeName(const QString& typeName);
    void SetTripEntriesListKindName(const QString& kindName);
    int TripEntryCount();
    void SetTripEntryIndex(int index);
    QString TripEntryBegin();
    QString TripEntryEnd();
    QString TripEntryDuration();
    double TripEntrySpeed();
    double TripEntryTank1Start();
    double TripEntryTank1End();
    double TripEntryTank2Start();
    double TripEntryTank2End();
    double TripEntryCoordA();
    double TripEntryCoordB();
    QString CheckpointListId();
    void LoadCheckpoints(const QString& listId);
    int CheckpointCount();
    void SetCheckpointIndex(int index);
    QString CheckpointName();
    QString CheckpointNote();
    double CheckpointLatitude();
    double CheckpointLongitude();
    int CheckpointRadius();
    void SetPropertyName(const QString& name);
    QString PropertyValue();

signals:
    void OnChangeCarsLists();
    void OnReceiveOnlineData();
    void OnCloseServer();
    void OnChangeParameters();
    void OnEndComputing();

private:
    struct Failure {
        QString name; // after the prefix: OutOfRange, UnknownGroup, …
        QString text;
    };
    template <typename Work> auto answer(Work work) -> decltype(work());
    [[noreturn]] static void outOfRange(const QString& what, int index, int count);
    // Refuses (Error.TooLarge) a reply of `bytes` above `limit`, before the bus drops the server.
    static void refuseLarger(qint64 bytes, qint64 limit, const QString& what);
    // A reply about a large trip is put together and sent by a thread of the pool, and other
    // callers are answered meanwhile; false when it is answered here (a small trip, or a call
    // from this process).
    template <typename Make> bool answeredElsewhere(size_t points, Make make);

    const Group& group();
    const Car& car();
    const Trip& trip();
    const std::vector<Entry>& entries();
    const Entry& entry();
    const Checkpoint& checkpoint();
    void finishComputation(const ComputationRunner::Outcome& outcome);

    QString storePath_;
    Store store_;
    QDBusConnection connection_{QString()};
    bool published_ = false;

    std::vector<Group> groups_;
    int groupIndex_ = 0;
    QString selectedGroup_;
    std::vector<Car> cars_;
    int carIndex_ = 0;

    int status_ = 2;
    quint64 requested_ = 0; // the newest request's generation: any other one's outcome is stale
    std::shared_ptr<Result> result_;
    int tripIndex_ = 0;
    // TrackLine texts of the current result, by trip; also written by the threads that answer
    // for large trips.
    struct TrackLines {
        std::mutex mutex;
        std::map<int, QString> byTrip;
    };
    std::shared_ptr<TrackLines> trackLines_ = std::make_shared<TrackLines>();
    QString entryType_, entryKind_;
    int entryIndex_ = 0;

    std::vector<Checkpoint> checkpoints_;
    int checkpointIndex_ = 0;
    QString propertyName_;
    std::function<void(const QString&)> callerObserver_;
    std::unique_ptr<ComputationRunner> runner_; // last: its thread stops before the rest goes
};

} // namespace vserver
