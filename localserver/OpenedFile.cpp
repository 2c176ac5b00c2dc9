#include "OpenedFile.h"

#include "GpxImport.h"
#include "Store.h"
#include "TrackFiles.h"
#include "VantrelError.h"

#include <QCryptographicHash>
#include <QFileInfo>

int OpenedFile::deviceFor(const QString& path) {
    // Device numbers 800000…899999 are the opened files'; the file's full path picks one.
    const QFileInfo file(path);
    const QString where =
        file.canonicalFilePath().isEmpty() ? file.absoluteFilePath() : file.canonicalFilePath();
    const QByteArray hash = QCryptographicHash::hash(where.toUtf8(), QCryptographicHash::Sha1);
    quint32 value = 0;
    for (int i = 0; i < 4; ++i)
        value = value << 8 | quint8(hash[i]);
    return 800000 + int(value % 100000);
}

OpenedFile OpenedFile::import(const QString& storePath, const QString& path) {
    const bool gpx =
        QFileInfo(path).suffix().compare(QStringLiteral("gpx"), Qt::CaseInsensitive) == 0;
    if (!gpx && !vserver::isKmlOrGeoJson(path))
        throw VantrelError(
            QStringLiteral("Файл %1 не открыт: плеер открывает треки GPX, KML и GeoJSON")
                .arg(path));
    OpenedFile opened;
    opened.car = QFileInfo(path).completeBaseName();
    opened.device = deviceFor(path);
    vserver::Store store(storePath, vserver::Store::Opening::Existing);
    vserver::GpxImportTarget target;
    target.group = kGroupName;
    target.car = opened.car;
    target.device = opened.device;
    target.append = true;
    // Read before anything is stored, so a file that is no track leaves no vehicle behind.
    const vserver::GpxImportSummary summary =
        gpx ? vserver::importGpx(store, target, {path})
            : vserver::importMessages(store, target, vserver::readTrackFile(path));
    opened.added = summary.added;
    opened.skipped = summary.skipped;
    opened.begin = summary.first;
    opened.end = summary.last;
    return opened;
}
