#include "OpenedFile.h"

#include "GpxImport.h"
#include "Store.h"
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
    if (QFileInfo(path).suffix().compare(QStringLiteral("gpx"), Qt::CaseInsensitive) != 0)
        throw VantrelError(
            QStringLiteral("Файл %1 не открыт: плеер открывает треки GPX (.gpx)").arg(path));
    OpenedFile opened;
    opened.car = QFileInfo(path).completeBaseName();
    opened.device = deviceFor(path);
    vserver::Store store(storePath, vserver::Store::Opening::Existing);
    vserver::GpxImportTarget target;
    target.group = kGroupName;
    target.car = opened.car;
    target.device = opened.device;
    target.append = true;
    const vserver::GpxImportSummary summary = vserver::importGpx(store, target, {path});
    opened.added = summary.added;
    opened.skipped = summary.skipped;
    opened.begin = summary.first;
    opened.end = summary.last;
    return opened;
}
