#pragma once

#include <QDate>
#include <QString>
#include <functional>

namespace vserver {

class Store;

// A large demo group for the fleet view: `vehicles` vehicles driving the demo town through one
// day, each sending a position every second from midnight to midnight (86,400 a vehicle), with a
// lunch hour of silence for every tenth. The group is named by the day and is refused if it is
// there already; everything is written in one transaction. Returns the group's id.
struct DemoFleetRequest {
    int vehicles = 100;
    QDate day;
};
constexpr int kMaxDemoFleetVehicles = 1000;
QString demoFleetGroupName(const DemoFleetRequest& request);
// Throws VantrelError (Russian text) for a request that cannot be done; `progress` is called
// after each vehicle with the number written so far.
QString createDemoFleet(Store& store, const DemoFleetRequest& request,
                        const std::function<void(int written)>& progress = {});

} // namespace vserver
