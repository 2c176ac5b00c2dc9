#pragma once

#include <QString>
#include <QStringList>

namespace vserver {
class Store;
}

namespace trackers {

// The `device` commands: trackers registered for vehicles. Each throws VantrelError with the
// reason and changes nothing when refused.
namespace devices {

// Registers `ident` for the vehicle with device number `device` in the group `groupId`; a
// vehicle not yet there is added to the group, named `carName` (or "Прибор N") with `number`.
void add(vserver::Store& store, const QString& groupId, int device, const QString& ident, const QString& carName,
         const QString& number);
// One line a tracker: identifier, device number, group and vehicle.
QStringList list(const vserver::Store& store);
void remove(vserver::Store& store, const QString& ident);
// A tracker identifier as the protocols send it: 1-64 printable characters without blanks.
bool validIdent(const QString& ident);

} // namespace devices
} // namespace trackers
