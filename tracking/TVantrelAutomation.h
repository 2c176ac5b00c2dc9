#pragma once

#include "DoubleArrayCall.h"
#include "IVantrelAutomation.h"

#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QFuture>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <optional>

class OrgVantrelAutomationInterface;
class QDBusServiceWatcher;

// The tracking server reached over the D-Bus session bus. Creating it contacts nothing;
// StartServer attaches to the running server or starts vantrel-server from the player's own
// folder. Every operation that cannot reach the server throws VantrelError with a readable
// text, so a wrapper whose start failed simply tries again on each call.
class TVantrelAutomation : public QObject, public IVantrelAutomation {
    Q_OBJECT
public:
    // How long a server the player started waits, unused, before it exits.
    static constexpr int kIdleExitSeconds = 600;

    struct Options {
        QString busAddress;    // empty: the session bus
        QString serverProgram; // empty: vantrel-server beside the running program
        int startTimeoutMs = 30000;
        int callTimeoutMs = 20000;
    };

    static inline const QString kService = QStringLiteral("org.vantrel.Automation");
    static inline const QString kPath = QStringLiteral("/org/vantrel/Automation");
    static inline const QString kInterface = QStringLiteral("org.vantrel.Automation");

    explicit TVantrelAutomation(QObject* parent = nullptr);
    TVantrelAutomation(Options options, QObject* parent = nullptr);
    ~TVantrelAutomation() override;

    void StartServer() override;
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
    void TrackCrdsInto(TrackStore& store, int pointCount) override;
    QString PrefixedTrackLine(const QString& prefix) override;
    void SendTrackCallsAhead(int tripNumber, int pointCount = 0,
                             const QString& linePrefix = QString()) override;
    void whenAheadAnswered(std::function<void()> answered) override;
    void dropAhead() override;
    void answerAhead() override;
    bool droppedInFlight() override;
    void whenDroppedArrived(std::function<void()> work) override;
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

private slots:
    void onChangeCarsLists() { raise(AutomationEvent::OnChangeCarsLists); }
    void onReceiveOnlineData() { raise(AutomationEvent::OnReceiveOnlineData); }
    void onCloseServer();
    void onChangeParameters() { raise(AutomationEvent::OnChangeParameters); }
    void onEndComputing() { raise(AutomationEvent::OnEndComputing); }
    void onOwnerChanged(const QString& service, const QString& oldOwner, const QString& newOwner);

private:
    struct Handler {
        QPointer<QObject> target;
        std::function<void()> run;
    };

    // The numbers sent ahead, as a worker read them: into a store when a point count was given.
    struct NumbersRead {
        QDBusError error;
        std::vector<double> values;      // no store asked for
        std::optional<TrackStore> store; // filled from them
        QString fault;                   // the store refused them
    };

    // A call sent before it was asked for, with the one argument it was sent with.
    struct AheadCall {
        const char* method;
        int argument;
        std::optional<QDBusPendingCall> reply;    // every call but the numbers
        // Set when the reply came. Asking the reply itself waits while Qt's bus thread
        // unpacks it, a long line's tens of megabytes.
        std::shared_ptr<std::atomic<bool>> replied;
        std::unique_ptr<DoubleArrayCall> numbers; // TrackCrdsArray
        // Its answer read on a worker, once it came: a million points take a while.
        QFuture<NumbersRead> read;
        QFuture<QString> text; // a TrackLine's answer behind the line prefix, made on a worker
    };

    QDBusConnection bus();
    OrgVantrelAutomationInterface& server();
    std::optional<AheadCall> takeAhead(const char* method, int argument = 0);
    std::unique_ptr<DoubleArrayCall> callForNumbers();
    void settleAhead();
    bool aheadAnswered();
    void prepareText(AheadCall& line, const AheadCall* firstLine);
    AheadCall sentAhead(const char* method, int argument, const QDBusPendingCall& reply);
    void runWhenAnswered();
    void startPoll(QTimer*& poll, std::function<void()> tick);
    void subscribe();
    void raise(AutomationEvent event);
    void waitForName();
    void rememberOwner();

    Options options_;
    std::unique_ptr<QDBusConnection> bus_;
    std::unique_ptr<OrgVantrelAutomationInterface> proxy_;
    std::deque<AheadCall> ahead_;           // answered in this order
    int aheadPoints_ = 0;                   // the store and line prefix of the calls sent ahead
    QString aheadPrefix_;
    std::shared_ptr<std::atomic<bool>> aheadDropped_; // their workers stop early once set
    std::function<void()> whenAnswered_;    // runs before any other call once they are answered
    std::vector<QDBusPendingCall> dropped_; // sent ahead, let go, maybe not yet sent by Qt
    std::vector<std::shared_ptr<std::atomic<bool>>> droppedReplied_; // their answers came
    std::function<void()> whenDroppedArrived_;
    QTimer* droppedPoll_ = nullptr;
    QTimer* answerPoll_ = nullptr;
    QDBusServiceWatcher* watcher_ = nullptr;
    bool subscribed_ = false;
    bool closeRaised_ = false;
    QString owner_; // the unique bus name of the server this wrapper talks to
    std::map<AutomationEvent, std::vector<Handler>> handlers_;
};
