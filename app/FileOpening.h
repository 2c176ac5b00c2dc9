#pragma once

#include "OpenedFile.h"

#include <QList>
#include <QStringList>
#include <QUrl>

class QWidget;

namespace fileopening {

// Imports an opened file off the window's thread; the window keeps painting and shows a
// progress box meanwhile. Throws VantrelError as the import does.
OpenedFile importShowingProgress(QWidget& window, const QString& storePath, const QString& path);

// The track files among dropped or given names: local paths, in their order.
QStringList trackFiles(const QList<QUrl>& urls);

} // namespace fileopening
