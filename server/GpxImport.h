#pragma once

#include "ServerTypes.h"

#include <QStringList>

namespace vserver {

class Store;

// The track points of a GPX file as device messages: position, time (converted from UTC to
// local time), and speed when the file gives one (m/s). Throws VantrelError naming the file,
// the line and the reason when the file is not a GPX whose every track point can be used:
// coordinates and speeds must be finite and in range, a point may not hold another, elements
// from other namespaces may stand only inside <extensions>, and at least one point is needed.
std::vector<Message> readGpx(const QString& path);

struct GpxImportTarget {
    QString group, car, number;
    int device = 0;
    // Add to the device's vehicle even when it is stored under another name or number.
    bool append = false;
};

struct GpxImportSummary {
    qint64 added = 0;
    qint64 skipped = 0; // already stored for the device at the same time, or repeated in the files
    double first = 0, last = 0; // the files' first and last moment (local time)
};

// Stores the files' points as the messages of one vehicle, creating its group and car when
// needed, in one transaction: any bad file leaves the store as it was. A device that belongs
// to a vehicle of another name or number is refused unless `append` is set; one in another
// group always is.
GpxImportSummary importGpx(Store& store, const GpxImportTarget& target, const QStringList& files);

// Stores points read from another kind of file as one vehicle's, as `importGpx` does: in time
// order, once, in one transaction.
GpxImportSummary importMessages(Store& store, const GpxImportTarget& target, std::vector<Message> points);

} // namespace vserver
