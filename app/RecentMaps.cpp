#include "RecentMaps.h"

#include <QDir>
#include <QSettings>

QString RecentMaps::filePath() const {
    return QDir(folder_).filePath(QStringLiteral("VantrelRecentMaps.ini"));
}

QStringList RecentMaps::paths() const {
    const QSettings file(filePath(), QSettings::IniFormat);
    return file.value(QStringLiteral("maps")).toStringList().mid(0, kKept);
}

void RecentMaps::add(const QString& path) {
    QStringList kept = paths();
    kept.removeAll(path);
    kept.prepend(path);
    QSettings file(filePath(), QSettings::IniFormat);
    file.setValue(QStringLiteral("maps"), kept.mid(0, kKept));
}
