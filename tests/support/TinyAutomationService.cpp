// A tiny stand-in for the tracking server on the session bus, for the client's own tests:
// two groups, an out-of-range error, and OnEndComputing after ComputeTrack.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>

namespace {

const QString kPath = QStringLiteral("/org/vantrel/Automation");
const QString kInterface = QStringLiteral("org.vantrel.Automation");

class TinyService : public QDBusVirtualObject {
public:
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QString member = message.member();
        if (member == QLatin1String("GroupCount")) {
            connection.send(message.createReply(2));
        } else if (member == QLatin1String("SetGroupIndex")) {
            const int index = message.arguments().value(0).toInt();
            if (index < 1 || index > 2) {
                connection.send(message.createErrorReply(
                    QStringLiteral("org.vantrel.Automation.Error.OutOfRange"),
                    QStringLiteral("Номер группы %1 вне диапазона 1..2").arg(index)));
                return true;
            }
            group_ = index;
            connection.send(message.createReply());
        } else if (member == QLatin1String("GroupName")) {
            connection.send(message.createReply(QStringLiteral("Группа %1").arg(group_)));
        } else if (member == QLatin1String("TrackCrdsArray")) {
            connection.send(message.createReply(QVariant::fromValue(QList<double>{1, 2, 3, 4, 5})));
        } else if (member == QLatin1String("ComputeTrack")) {
            connection.send(message.createReply());
            connection.send(QDBusMessage::createSignal(kPath, kInterface, QStringLiteral("OnEndComputing")));
        } else if (member == QLatin1String("Quit")) {
            connection.send(message.createReply());
            connection.send(QDBusMessage::createSignal(kPath, kInterface, QStringLiteral("OnCloseServer")));
            QCoreApplication::quit();
        } else {
            connection.send(message.createErrorReply(QStringLiteral("org.vantrel.Automation.Error.Unknown"),
                                                     QStringLiteral("Неизвестный метод %1").arg(member)));
        }
        return true;
    }
    QString introspect(const QString&) const override { return QString(); }

private:
    int group_ = 1;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    TinyService service;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerVirtualObject(kPath, &service) ||
        !bus.registerService(QStringLiteral("org.vantrel.Automation")))
        return 1;
    return QCoreApplication::exec();
}
