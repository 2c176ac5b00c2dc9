#pragma once

#include <QString>

// A track file (GPX, KML, GeoJSON) the operator opened in the window: stored through the
// server's own import in the group «Файлы», one vehicle named after the file. The same file always
// gets the same device number, and the import skips what the device already has, so opening a file
// again shows it again without storing it twice.
struct OpenedFile {
    static inline const QString kGroupName = QStringLiteral("Файлы");

    QString car;
    int device = 0;
    double begin = 0, end = 0; // the file's first and last moment, date-time values
    qint64 added = 0, skipped = 0;

    // Throws VantrelError naming the file and the reason (not a track file, no timed points, the
    // store).
    static OpenedFile import(const QString& storePath, const QString& path);
    static int deviceFor(const QString& path);
};
