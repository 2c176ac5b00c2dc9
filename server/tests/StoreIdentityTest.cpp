// A store knows itself: foreign files are refused untouched, the first version is migrated, and
// a file that may not be written is served without leaving anything beside it.
#include "Store.h"
#include "VantrelError.h"
#include "QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace vserver;

namespace {

void runSql(const QString& path, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

QByteArray bytes(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

QStringList besides(const QTemporaryDir& dir) { return QDir(dir.path()).entryList(QDir::Files); }

} // namespace

TEST(StoreIdentity, AFileThatIsNoStoreIsRefusedAndLeftByteForByte) {
    QTemporaryDir dir;
    const QString foreign = dir.filePath("other.sqlite");
    runSql(foreign, "PRAGMA journal_mode = DELETE; CREATE TABLE invoices (id INTEGER, sum REAL);"
                    "INSERT INTO invoices VALUES (1, 2.5);");
    const QString text = dir.filePath("notes.txt");
    QFile file(text);
    file.open(QIODevice::WriteOnly);
    file.write("not a database at all, but long enough to look like a header to someone\n");
    file.close();
    for (const QString& path : {foreign, text}) {
        const QByteArray before = bytes(path);
        try {
            Store store(path);
            ADD_FAILURE() << path.toStdString();
        } catch (const VantrelError& error) {
            EXPECT_TRUE(error.text().contains("не является хранилищем Vantrel")) << error.what();
        }
        EXPECT_EQ(bytes(path), before);
    }
    EXPECT_EQ(besides(dir), QStringList({"notes.txt", "other.sqlite"}));
}

TEST(StoreIdentity, TheFirstVersionIsMigratedKeepingItsData) {
    QTemporaryDir dir;
    const QString path = dir.filePath("old.sqlite");
    runSql(path, "CREATE TABLE groups (id TEXT PRIMARY KEY, name TEXT NOT NULL, position INTEGER NOT NULL);"
                 "CREATE TABLE cars (id INTEGER PRIMARY KEY, group_id TEXT NOT NULL, name TEXT NOT NULL,"
                 " number TEXT NOT NULL, device INTEGER NOT NULL UNIQUE, checkpoint_list TEXT NOT NULL DEFAULT '');"
                 "CREATE TABLE messages (device INTEGER NOT NULL, time REAL NOT NULL, lon REAL, lat REAL, speed REAL,"
                 " signal INTEGER NOT NULL, power INTEGER NOT NULL, fuel1 REAL, fuel2 REAL, sensors INTEGER NOT NULL);"
                 "CREATE TABLE checkpoints (list_id TEXT NOT NULL, position INTEGER NOT NULL, name TEXT NOT NULL,"
                 " note TEXT NOT NULL, lat REAL NOT NULL, lon REAL NOT NULL, radius INTEGER NOT NULL);"
                 "INSERT INTO groups VALUES ('grp-1', 'Старая группа', 1);");
    {
        Store store(path);
        ASSERT_EQ(store.groups().size(), 1u);
        EXPECT_EQ(store.groups()[0].name, "Старая группа");
    }
    sqlite3* db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA application_id", -1, &s, nullptr);
    sqlite3_step(s);
    EXPECT_EQ(sqlite3_column_int(s, 0), Store::kApplicationId);
    sqlite3_finalize(s);
    sqlite3_close(db);

    runSql(path, "PRAGMA user_version = 99");
    EXPECT_THROW(Store{path}, VantrelError); // made by a newer server
}

TEST(StoreIdentity, AReadOnlyStoreIsServedWithoutFilesBesideItAndStaysWritableLater) {
    QTemporaryDir dir;
    const QString path = dir.filePath("store.sqlite");
    {
        Store store(path);
        store.begin();
        store.addGroup({"g1", "Север"});
        store.commit();
    }
    ASSERT_EQ(besides(dir), QStringList{"store.sqlite"});
    QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    {
        Store store(path);
        EXPECT_TRUE(store.readOnly());
        EXPECT_EQ(store.groups().size(), 1u);
        EXPECT_EQ(besides(dir), QStringList{"store.sqlite"});
        try {
            store.begin();
            ADD_FAILURE();
        } catch (const VantrelError& error) {
            EXPECT_TRUE(error.text().contains("только для чтения")) << error.what();
        }
    }
    EXPECT_EQ(besides(dir), QStringList{"store.sqlite"});
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    Store store(path);
    EXPECT_FALSE(store.readOnly());
    store.begin();
    store.addGroup({"g2", "Юг"});
    store.commit();
    EXPECT_EQ(store.groups().size(), 2u);
}
