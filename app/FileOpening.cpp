#include "FileOpening.h"

#include "VantrelError.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QProgressDialog>
#include <QUrl>
#include <QtConcurrent>

namespace fileopening {

OpenedFile importShowingProgress(QWidget& window, const QString& storePath, const QString& path) {
    QProgressDialog progress(QStringLiteral("Открываю %1…").arg(QFileInfo(path).fileName()),
                             QString(), 0, 0, &window);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    QFutureWatcher<void> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    OpenedFile opened;
    std::exception_ptr failure;
    watcher.setFuture(QtConcurrent::run([&] {
        try {
            opened = OpenedFile::import(storePath, path);
        } catch (...) {
            failure = std::current_exception();
        }
    }));
    if (!watcher.isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    watcher.waitForFinished();
    progress.reset();
    if (failure)
        std::rethrow_exception(failure);
    return opened;
}

QStringList trackFiles(const QList<QUrl>& urls) {
    QStringList files;
    for (const QUrl& url : urls)
        if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile())
            files << url.toLocalFile();
    return files;
}

} // namespace fileopening
