// Files written whole or not at all, and only over regular files.
#include "AtomicFile.h"
#include "SmallDisk.h"
#include "VantrelError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

void put(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// What save() said, "" when it wrote.
QString saying(const QString& path, const QByteArray& content) {
    try {
        AtomicFile::save(path, content);
        return {};
    } catch (const VantrelError& error) {
        return error.text();
    }
}

mode_t modeOf(const QString& path) {
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode : 0;
}

QStringList leftovers(const QTemporaryDir& dir) {
    return QDir(dir.path()).entryList({QStringLiteral(".*part*")}, QDir::Files | QDir::Hidden | QDir::System);
}

} // namespace

TEST(AtomicFile, AFullDiskLeavesTheOldFileAndSaysSo) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("рейсы «1» 100%.gpx"));
    put(path, "old content");
    ::chmod(QFile::encodeName(path).constData(), 0640);
    const QString said = onSmallDisk(64 * 1024, [&] { AtomicFile::save(path, QByteArray(1 << 20, 'x')); });
    EXPECT_TRUE(said.contains(QStringLiteral("нет места на диске")) && said.contains(path)) << said.toStdString();
    EXPECT_EQ(contentOf(path), "old content");
    EXPECT_EQ(leftovers(dir), QStringList());

    // Within the limit the new content replaces the old, with the old file's permissions.
    EXPECT_EQ(onSmallDisk(64 * 1024, [&] { AtomicFile::save(path, QByteArray(60000, 'y')); }), QString());
    EXPECT_EQ(contentOf(path), QByteArray(60000, 'y'));
    EXPECT_EQ(modeOf(path) & 0777, 0640u);
    EXPECT_EQ(leftovers(dir), QStringList());
}

TEST(AtomicFile, SpecialFilesAndLinksOutOfTheFolderAreNeverReplaced) {
    QTemporaryDir dir, elsewhere;
    const auto refused = [&](const QString& path, const char* why) {
        const QString said = saying(path, "new");
        EXPECT_TRUE(said.startsWith(QStringLiteral("Не удалось записать файл ") + path) &&
                    said.contains(QString::fromUtf8(why)))
            << said.toStdString();
    };
    const QString fifo = dir.filePath(QStringLiteral("канал"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    refused(fifo, "канал (FIFO)"); // a FIFO without a reader would block an open: none was tried
    EXPECT_TRUE(S_ISFIFO(modeOf(fifo)));

    refused(dir.path(), "это папка");

    const QString outsideFile = elsewhere.filePath(QStringLiteral("чужой.txt"));
    put(outsideFile, "theirs");
    const QString outward = dir.filePath(QStringLiteral("ссылка.gpx"));
    ASSERT_TRUE(QFile::link(outsideFile, outward));
    refused(outward, "символьная ссылка на файл в другой папке");
    EXPECT_EQ(contentOf(outsideFile), "theirs");
    EXPECT_TRUE(QFileInfo(outward).isSymLink());

    const QString dangling = dir.filePath(QStringLiteral("в никуда.gpx"));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("нет")), dangling));
    refused(dangling, "в никуда");

    refused(dir.filePath(QStringLiteral("нет/такой/папки.gpx")), "нет такой папки");

    if (::geteuid() == 0) { // only root makes device nodes; this one is a null device of its own
        const QString device = dir.filePath(QStringLiteral("null"));
        ASSERT_EQ(::mknod(QFile::encodeName(device).constData(), S_IFCHR | 0666, makedev(1, 3)), 0);
        refused(device, "устройство");
        EXPECT_TRUE(S_ISCHR(modeOf(device)));
    } else { // root writes anywhere
        QTemporaryDir locked;
        ::chmod(QFile::encodeName(locked.path()).constData(), 0500);
        refused(locked.filePath(QStringLiteral("a.gpx")), "нет прав");
    }

    // A link to a regular file of its own folder is written through and stays a link.
    const QString real = dir.filePath(QStringLiteral("настоящий.xml")), alias = dir.filePath(QStringLiteral("имя.xml"));
    put(real, "old");
    ASSERT_TRUE(QFile::link(real, alias));
    EXPECT_EQ(saying(alias, "new"), QString());
    EXPECT_TRUE(QFileInfo(alias).isSymLink());
    EXPECT_EQ(contentOf(real), "new");
    EXPECT_EQ(leftovers(dir), QStringList());
}
