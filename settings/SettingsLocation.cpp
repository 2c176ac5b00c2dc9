#include "SettingsLocation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <unistd.h>

namespace settingslocation {

QString settingsDirectory(const QString& programDirectory) {
    const QDir programs(programDirectory);
    const bool installed = QFileInfo(programs.filePath(QStringLiteral("../share/vantrel"))).isDir();
    const bool writable = ::access(QFile::encodeName(programDirectory).constData(), W_OK) == 0;
    if (!installed && writable)
        return programDirectory;
    const QString config =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/vantrel");
    QDir().mkpath(config); // when it cannot be made, writing the file says so
    return config;
}

} // namespace settingslocation
