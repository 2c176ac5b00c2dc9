#include "RunningPlayer.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QTimer>

namespace {
const QString kService = QStringLiteral("org.vantrel.Player");
const QString kPath = QStringLiteral("/org/vantrel/Player");
} // namespace

bool RunningPlayer::registerOnSessionBus(Opener opener) {
    opener_ = std::move(opener);
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.registerService(kService) &&
           bus.registerObject(kPath, this, QDBusConnection::ExportAllSlots);
}

bool RunningPlayer::forward(const QStringList& files,
                            const std::optional<PlayerEnvironment::FleetStart>& fleet) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(kService))
        return false;
    QDBusInterface running(kService, kPath, kService, bus);
    const QDBusMessage reply = running.call(
        QStringLiteral("Open"), files, fleet ? fleet->group : QString(), fleet ? fleet->from : 0.0,
        fleet ? fleet->to : 0.0, fleet ? fleet->at : std::nan(""));
    return reply.type() == QDBusMessage::ReplyMessage;
}

void RunningPlayer::Open(const QStringList& files, const QString& fleetGroup, double from,
                         double to, double at) {
    std::optional<PlayerEnvironment::FleetStart> fleet;
    if (!fleetGroup.isEmpty())
        fleet = PlayerEnvironment::FleetStart{fleetGroup, from, to, at};
    // Answered at once; the files are opened from the window's own next event, so that the
    // launching process ends without waiting for an import.
    QTimer::singleShot(0, this, [this, files, fleet] {
        if (opener_)
            opener_(files, fleet);
    });
}
