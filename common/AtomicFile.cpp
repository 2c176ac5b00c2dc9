#include "AtomicFile.h"

#include "VantrelError.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <random>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Why a write failed, for a person.
QString reason(int error) {
    switch (error) {
    case ENOSPC:
    case EFBIG:
        return QStringLiteral("нет места на диске");
    case EDQUOT:
        return QStringLiteral("нет места на диске (исчерпана квота)");
    case EACCES:
    case EPERM:
        return QStringLiteral("нет прав на запись в папку или файл");
    case EROFS:
        return QStringLiteral("файловая система только для чтения");
    case ENOENT:
        return QStringLiteral("нет такой папки");
    case ENOTDIR:
        return QStringLiteral("часть пути не является папкой");
    case ENAMETOOLONG:
        return QStringLiteral("слишком длинное имя");
    case EIO:
        return QStringLiteral("ошибка ввода-вывода");
    case EISDIR:
        return QStringLiteral("это папка");
    default:
        return QStringLiteral("системная ошибка %1").arg(error);
    }
}

QString kindOf(mode_t mode) {
    if (S_ISDIR(mode))
        return QStringLiteral("это папка");
    if (S_ISFIFO(mode))
        return QStringLiteral("это канал (FIFO), а не обычный файл");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("это устройство, а не обычный файл");
    if (S_ISSOCK(mode))
        return QStringLiteral("это сокет, а не обычный файл");
    return QStringLiteral("это не обычный файл");
}

[[noreturn]] void refuse(const QString& shown, const QString& why, bool existed = true) {
    throw VantrelError(QStringLiteral("Не удалось записать файл %1: %2").arg(shown, why) +
                       (existed ? QStringLiteral("; он оставлен как был") : QString()));
}

QString folderOf(const QString& path) { return QFileInfo(path).absolutePath(); }

} // namespace

QString AtomicFile::checkTarget(const QString& target) {
    if (target.isEmpty())
        refuse(target, QStringLiteral("не указано имя файла"), false);
    const QByteArray name = QFile::encodeName(target);
    struct stat link {};
    if (::lstat(name.constData(), &link) != 0) {
        const int error = errno;
        if (error == ENOENT && QFileInfo(folderOf(target)).isDir())
            return target; // a new name in an existing folder
        refuse(target, reason(error), error != ENOENT);
    }
    if (S_ISLNK(link.st_mode)) {
        // Followed only to a regular file of the link's own folder: a link to /dev/null or to
        // another user's file is never replaced.
        const QString resolved = QFileInfo(target).canonicalFilePath();
        struct stat followed {};
        if (resolved.isEmpty() || ::stat(name.constData(), &followed) != 0)
            refuse(target, QStringLiteral("это символьная ссылка в никуда"));
        if (QFileInfo(resolved).absolutePath() != QFileInfo(folderOf(target)).canonicalFilePath())
            refuse(target, QStringLiteral("это символьная ссылка на файл в другой папке"));
        if (!S_ISREG(followed.st_mode))
            refuse(target, kindOf(followed.st_mode));
        return resolved;
    }
    if (!S_ISREG(link.st_mode))
        refuse(target, kindOf(link.st_mode));
    return target;
}

AtomicFile::AtomicFile(const QString& target) : shown_(target) {
    const QString path = checkTarget(target);
    target_ = QFile::encodeName(path);
    const QFileInfo info(path);
    mode_t mode = 0666; // less the umask, as for any new file
    struct stat existing {};
    const bool replacing = existed_ = ::stat(target_.constData(), &existing) == 0;
    if (replacing)
        mode = existing.st_mode & 07777;
    std::random_device random;
    for (int attempt = 0; fd_ < 0; ++attempt) {
        temporary_ = QFile::encodeName(info.absolutePath() + QStringLiteral("/.%1.%2.part")
                                                               .arg(info.fileName())
                                                               .arg(random() % 1000000000u, 9, 10, QLatin1Char('0')));
        fd_ = ::open(temporary_.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, replacing ? 0600 : mode);
        if (fd_ < 0 && (errno != EEXIST || attempt > 100)) {
            const int error = errno;
            temporary_.clear();
            fail(error);
        }
    }
    if (replacing && ::fchmod(fd_, mode) != 0)
        fail(errno);
}

AtomicFile::~AtomicFile() {
    if (fd_ >= 0)
        ::close(fd_);
    if (!committed_ && !temporary_.isEmpty())
        ::unlink(temporary_.constData());
}

void AtomicFile::fail(int error) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!temporary_.isEmpty())
        ::unlink(temporary_.constData());
    temporary_.clear();
    refuse(shown_, reason(error), existed_);
}

void AtomicFile::write(const QByteArray& bytes) {
    const char* at = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd_, at, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            fail(written < 0 ? errno : ENOSPC);
        at += written;
        left -= written;
    }
}

void AtomicFile::commit() {
    if (::fsync(fd_) != 0)
        fail(errno);
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0)
        fail(errno);
    // The target is looked at again: one that became a FIFO or a folder meanwhile is not replaced.
    checkTarget(shown_);
    if (::rename(temporary_.constData(), target_.constData()) != 0)
        fail(errno);
    committed_ = true;
    const int folder = ::open(QFile::encodeName(folderOf(QFile::decodeName(target_))).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder); // the rename itself on disk; a folder that cannot be synced is no failure
        ::close(folder);
    }
}

void AtomicFile::save(const QString& target, const QByteArray& content) {
    AtomicFile file(target);
    file.write(content);
    file.commit();
}
