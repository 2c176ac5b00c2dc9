#pragma once

#include "ServerTypes.h"

#include <QStringList>

namespace vserver {

class Store;

// The track points of a GPX file as device messages: position, time (converted from UTC to
// local time), and speed when the file gives one (m/s). Throws VantrelError naming the file,
// the line and the reason when the file is not a readable GPX.
std::vector<Message> readGpx(const QString& path);

struct GpxImportTarget {
    QString group, car, number;
    int device = 0;
};

// Stores the files' points as the messages of one vehicle, creating its group and car when
// needed, in one transaction: any bad file leaves the store as it was. Returns the messages
// stored.
qint64 importGpx(Store& store, const GpxImportTarget& target, const QStringList& files);

} // namespace vserver
