#include "SqliteStore.h"

#include "LargePages.h"
#include "VantrelError.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QUrl>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vserver {
namespace {

// The tables of the first version, which had no application id: such a file is migrated.
const QSet<QString> kFirstVersionTables = {QStringLiteral("groups"), QStringLiteral("cars"),
                                           QStringLiteral("messages"), QStringLiteral("checkpoints")};

const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS groups (
    id TEXT PRIMARY KEY,
    name TEXT NOT NULL,
    position INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS cars (
    id INTEGER PRIMARY KEY,
    group_id TEXT NOT NULL REFERENCES groups(id),
    name TEXT NOT NULL,
    number TEXT NOT NULL,
    device INTEGER NOT NULL UNIQUE,
    checkpoint_list TEXT NOT NULL DEFAULT ''
);
CREATE TABLE IF NOT EXISTS messages (
    device INTEGER NOT NULL,
    time REAL NOT NULL,
    lon REAL, lat REAL, speed REAL,
    signal INTEGER NOT NULL, power INTEGER NOT NULL,
    fuel1 REAL, fuel2 REAL,
    sensors INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS messages_by_device_time ON messages(device, time);
CREATE TABLE IF NOT EXISTS checkpoints (
    list_id TEXT NOT NULL,
    position INTEGER NOT NULL,
    name TEXT NOT NULL, note TEXT NOT NULL,
    lat REAL NOT NULL, lon REAL NOT NULL, radius INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS trackers (
    ident TEXT PRIMARY KEY,
    device INTEGER NOT NULL
);
)sql";

// What went wrong, for a person: the codes an operator meets (a full disk, a busy or damaged
// file) in Russian, SQLite's own text otherwise.
QString reason(sqlite3* db) {
    const int code = sqlite3_errcode(db) & 0xff;
    const int system = sqlite3_system_errno(db);
    if (code == SQLITE_FULL || system == ENOSPC || system == EFBIG || system == EDQUOT)
        return QStringLiteral("нет места на диске");
    switch (code) {
    case SQLITE_IOERR:
        return QStringLiteral("ошибка ввода-вывода (%1)").arg(QString::fromUtf8(sqlite3_errmsg(db)));
    case SQLITE_READONLY:
        return QStringLiteral("хранилище открыто только для чтения");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("хранилище занято другим процессом");
    case SQLITE_CORRUPT:
        return QStringLiteral("файл хранилища повреждён");
    case SQLITE_NOTADB:
        return QStringLiteral("файл не является базой SQLite");
    case SQLITE_CANTOPEN:
        return QStringLiteral("файл не открывается");
    case SQLITE_NOMEM:
        return QStringLiteral("нет памяти");
    default:
        return QString::fromUtf8(sqlite3_errmsg(db));
    }
}

// Interrupts the connection's statements while it lives, once the token is cancelled.
class InterruptedWhenCancelled {
public:
    InterruptedWhenCancelled(sqlite3* db, const CancelToken& cancel) : db_(db) {
        constexpr int kInstructions = 10000; // between looks at the token: microseconds
        sqlite3_progress_handler(db_, kInstructions, [](void* token) {
            return int(static_cast<const CancelToken*>(token)->cancelled());
        }, const_cast<CancelToken*>(&cancel));
    }
    ~InterruptedWhenCancelled() { sqlite3_progress_handler(db_, 0, nullptr, nullptr); }
    InterruptedWhenCancelled(const InterruptedWhenCancelled&) = delete;
    InterruptedWhenCancelled& operator=(const InterruptedWhenCancelled&) = delete;

private:
    sqlite3* db_;
};

// A prepared statement that finalises itself.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK)
            throw VantrelError(QStringLiteral("Ошибка хранилища: %1").arg(reason(db)));
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement& bind(int i, const QString& v) {
        const QByteArray text = v.toUtf8();
        sqlite3_bind_text(statement_, i, text.constData(), text.size(), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bind(int i, int v) { sqlite3_bind_int(statement_, i, v); return *this; }
    Statement& bind(int i, double v) {
        if (std::isfinite(v))
            sqlite3_bind_double(statement_, i, v);
        else
            sqlite3_bind_null(statement_, i);
        return *this;
    }
    bool step() {
        const int rc = sqlite3_step(statement_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_INTERRUPT) // by a cancelled request's progress handler
            throw Cancelled();
        if (rc != SQLITE_DONE)
            throw VantrelError(QStringLiteral("Ошибка хранилища: %1").arg(reason(db_)));
        return false;
    }
    void reset() {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    void rewind() { sqlite3_reset(statement_); }
    QString text(int c) const {
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement_, c)));
    }
    int integer(int c) const { return sqlite3_column_int(statement_, c); }
    qint64 integer64(int c) const { return sqlite3_column_int64(statement_, c); }
    double real(int c) const {
        return sqlite3_column_type(statement_, c) == SQLITE_NULL ? kNoValue : sqlite3_column_double(statement_, c);
    }

private:
    sqlite3* db_;
    sqlite3_stmt* statement_ = nullptr;
};

// Messages go in many rows to a statement: a step that stores 64 rows costs about half of what
// 64 single-row steps do, which is most of an import's storing.
QByteArray insertMessagesSql(int rows) {
    QByteArray sql = "INSERT INTO messages (device, time, lon, lat, speed, signal, power, fuel1, "
                     "fuel2, sensors) VALUES ";
    for (int r = 0; r < rows; ++r)
        sql += r ? ",(?,?,?,?,?,?,?,?,?,?)" : "(?,?,?,?,?,?,?,?,?,?)";
    return sql;
}

// Stores `count` rows; `row(i)` gives the device and the message of the i-th.
template <typename Row> void insertMessages(sqlite3* db, size_t count, Row row) {
    constexpr int kRowsPerStep = 64;
    const auto bind = [&](Statement& s, int row0, size_t i) {
        const auto [device, m] = row(i);
        const int p = row0 * 10;
        s.bind(p + 1, device)
            .bind(p + 2, m.time)
            .bind(p + 3, m.lon)
            .bind(p + 4, m.lat)
            .bind(p + 5, m.speed)
            .bind(p + 6, m.signal ? 1 : 0)
            .bind(p + 7, m.power ? 1 : 0)
            .bind(p + 8, m.fuel1)
            .bind(p + 9, m.fuel2)
            .bind(p + 10, m.sensors);
    };
    size_t i = 0;
    if (count >= size_t(kRowsPerStep)) {
        Statement many(db, insertMessagesSql(kRowsPerStep).constData());
        for (; i + kRowsPerStep <= count; i += kRowsPerStep) {
            for (int r = 0; r < kRowsPerStep; ++r)
                bind(many, r, i + size_t(r));
            many.step();
            many.rewind(); // every parameter is bound anew
        }
    }
    if (i == count)
        return;
    Statement one(db, insertMessagesSql(1).constData());
    for (; i < count; ++i) {
        bind(one, 0, i);
        one.step();
        one.rewind();
    }
}

std::vector<Car> readCars(Statement& s) {
    std::vector<Car> result;
    while (s.step())
        result.push_back({s.integer(0), s.text(1), s.text(2), s.text(3), s.integer(4), s.text(5)});
    return result;
}

// A file this process may not change, or one in a folder where SQLite may not add its
// journal, is served read-only. Root passes access(), so the file's own write bits count too.
bool writable(const QString& path) {
    const QFileInfo info(path);
    const QByteArray file = QFile::encodeName(path), folder = QFile::encodeName(info.absolutePath());
    return ::access(file.constData(), W_OK) == 0 && ::access(folder.constData(), W_OK) == 0 &&
           (info.permissions() & (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther));
}

} // namespace

SqliteStore::SqliteStore(const QString& path, bool mustExist) : path_(path) {
    const QFileInfo info(path);
    const bool existing = info.exists() && info.size() > 0;
    if (mustExist && !existing)
        throw VantrelError(QStringLiteral("Файл хранилища %1 не найден: он удалён или перемещён").arg(path));
    if (info.exists() && !info.isFile())
        throw VantrelError(QStringLiteral("Хранилище ") + path + QStringLiteral(" не является файлом"));
    readOnly_ = existing && !writable(path);
    open(path);
    try {
        if (existing) {
            checkIdentity(path);
        } else {
            exec("BEGIN IMMEDIATE");
            createSchema();
            exec("COMMIT");
        }
        if (!readOnly_)
            exec("PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;");
        struct stat opened {};
        if (::stat(QFile::encodeName(path).constData(), &opened) == 0) {
            inode_ = opened.st_ino;
            device_ = opened.st_dev;
        }
    } catch (...) {
        sqlite3_close_v2(db_); // no destructor runs for a constructor that throws
        db_ = nullptr;
        throw;
    }
}

void SqliteStore::open(const QString& path) {
    // Read-only: immutable, so SQLite takes no locks and leaves no -shm or -wal file behind.
    // A store is used by one thread at a time (each computation opens its own): no mutexes.
    const QByteArray name = readOnly_
        ? QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded() + "?immutable=1"
        : path.toUtf8();
    const int flags = readOnly_ ? SQLITE_OPEN_READONLY | SQLITE_OPEN_URI
                                : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(name.constData(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        const QString why = db_ ? reason(db_) : QStringLiteral("нет памяти");
        sqlite3_close(db_);
        db_ = nullptr;
        throw VantrelError(QStringLiteral("Не удалось открыть хранилище ") + path + QStringLiteral(": ") + why);
    }
    sqlite3_busy_timeout(db_, 5000);
    // A computation reads a vehicle's period straight from the mapped file, without copying
    // each page into SQLite's own cache first.
    sqlite3_exec(db_, "PRAGMA mmap_size = 4294967296", nullptr, nullptr, nullptr);
}

void SqliteStore::checkIdentity(const QString& path) {
    const auto refuse = [&](const QString& why) {
        throw VantrelError(QStringLiteral("Файл ") + path + QStringLiteral(" не является хранилищем Vantrel (") +
                           why + QStringLiteral("); файл не изменён"));
    };
    int id = 0, version = 0;
    QSet<QString> tables;
    try {
        id = pragma("application_id");
        version = pragma("user_version");
        Statement s(db_, "SELECT name FROM sqlite_master WHERE type = 'table'");
        while (s.step())
            tables.insert(s.text(0));
    } catch (const VantrelError& error) {
        const int code = sqlite3_errcode(db_) & 0xff;
        if (code != SQLITE_NOTADB && code != SQLITE_CORRUPT) // a full disk or a lock is no foreign file
            throw VantrelError(QStringLiteral("Не удалось прочитать хранилище %1: %2").arg(path, reason(db_)));
        refuse(error.text());
    }
    if (id == 0 && version == 0 && tables == kFirstVersionTables)
        version = 1;
    else if (id != kApplicationId)
        refuse(tables.isEmpty() ? QStringLiteral("чужой файл SQLite") : QStringLiteral("в нём чужие таблицы"));
    if (version > kSchemaVersion)
        throw VantrelError(QStringLiteral("Хранилище ") + path +
                           QStringLiteral(" создано более новой версией сервера (версия схемы %1)").arg(version));
    if (version == kSchemaVersion)
        return;
    if (readOnly_)
        throw VantrelError(QStringLiteral("Хранилище ") + path +
                           QStringLiteral(" старой версии открыто только для чтения и не может быть обновлено"));
    // Version 1 to 2: the store names itself; 2 to 3: the trackers' table. Later versions add
    // their steps here.
    exec("BEGIN IMMEDIATE");
    try {
        createSchema();
        exec("COMMIT");
    } catch (...) {
        exec("ROLLBACK");
        throw;
    }
}

void SqliteStore::createSchema() {
    exec(kSchema);
    exec(QStringLiteral("PRAGMA application_id = %1; PRAGMA user_version = %2;")
             .arg(kApplicationId)
             .arg(kSchemaVersion)
             .toUtf8()
             .constData());
}

int SqliteStore::pragma(const char* name) const {
    Statement s(db_, (QByteArray("PRAGMA ") + name).constData());
    return s.step() ? s.integer(0) : 0;
}

SqliteStore::~SqliteStore() { sqlite3_close_v2(db_); }

void SqliteStore::exec(const char* sql) const {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(reason(db_));
}

void SqliteStore::checkPresent() const {
    // A file removed or replaced under the server is said, never read as an empty store.
    struct stat now {};
    if (::stat(QFile::encodeName(path_).constData(), &now) != 0 || now.st_ino != inode_ || now.st_dev != device_)
        throw VantrelError(QStringLiteral("Файл хранилища %1 удалён или заменён, пока сервер работал; "
                                          "перезапустите сервер").arg(path_));
}

void SqliteStore::fail(const QString& what) const {
    throw VantrelError(QStringLiteral("Ошибка хранилища: %1").arg(what));
}

std::vector<Group> SqliteStore::groups() const {
    checkPresent();
    Statement s(db_, "SELECT id, name FROM groups ORDER BY position, rowid");
    std::vector<Group> result;
    while (s.step())
        result.push_back({s.text(0), s.text(1)});
    return result;
}

std::vector<Car> SqliteStore::cars(const QString& groupId) const {
    checkPresent();
    Statement s(db_, "SELECT id, group_id, name, number, device, checkpoint_list FROM cars "
                     "WHERE group_id = ? ORDER BY id");
    s.bind(1, groupId);
    return readCars(s);
}

std::vector<Car> SqliteStore::allCars() const {
    checkPresent();
    Statement s(db_, "SELECT id, group_id, name, number, device, checkpoint_list FROM cars ORDER BY id");
    return readCars(s);
}

std::vector<Message> SqliteStore::messages(int device, double from, double to, const CancelToken& cancel) const {
    std::vector<Message> result;
    readMessages(device, from, to, cancel, result, [](size_t) {});
    return result;
}

void SqliteStore::readMessages(int device, double from, double to, const CancelToken& cancel,
                               std::vector<Message>& into,
                               const std::function<void(size_t)>& ready) const {
    checkPresent();
    // A request that a newer one replaced stops inside SQLite, between rows and within the count
    // of a million rows, which takes tens of milliseconds a burst would spend on stale requests.
    const InterruptedWhenCancelled interruptible(db_, cancel);
    // The count and the rows from one snapshot, unless a transaction is open already (an import
    // looking at what it stores): the vector is sized once and never outgrown.
    const bool ownTransaction = sqlite3_get_autocommit(db_) != 0;
    if (ownTransaction)
        exec("BEGIN");
    try {
        Statement count(
            db_, "SELECT COUNT(*) FROM messages WHERE device = ? AND time >= ? AND time <= ?");
        count.bind(1, device).bind(2, from).bind(3, to);
        const size_t expected =
            count.step() ? size_t(count.integer64(0)) : 0; // from the index alone
        into.clear();
        largepages::reserve(into, expected);
        into.resize(expected);
        Statement s(
            db_, "SELECT time, lon, lat, speed, signal, power, fuel1, fuel2, sensors FROM messages "
                 "WHERE device = ? AND time >= ? AND time <= ? ORDER BY time");
        s.bind(1, device).bind(2, from).bind(3, to);
        constexpr size_t kSaidEvery = 16384;
        size_t read = 0;
        while (read < into.size() && s.step()) {
            into[read++] = {s.real(0),         s.real(1), s.real(2), s.real(3),   s.integer(4) != 0,
                            s.integer(5) != 0, s.real(6), s.real(7), s.integer(8)};
            if (read % kSaidEvery == 0)
                ready(read);
        }
        into.resize(read);
        if (ownTransaction)
            exec("COMMIT");
        ready(read);
    } catch (...) {
        if (ownTransaction && !sqlite3_get_autocommit(db_))
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

std::vector<StoredPosition> SqliteStore::positions(int device, double from, double to, const CancelToken& cancel) const {
    checkPresent();
    const InterruptedWhenCancelled interruptible(db_, cancel);
    Statement s(db_, "SELECT time, lon, lat, speed FROM messages "
                     "WHERE device = ? AND time >= ? AND time <= ? AND signal <> 0 ORDER BY time");
    s.bind(1, device).bind(2, from).bind(3, to);
    std::vector<StoredPosition> result;
    while (s.step())
        result.push_back({s.real(0), s.real(1), s.real(2), s.real(3)});
    return result;
}

std::vector<Checkpoint> SqliteStore::checkpoints(const QString& listId) const {
    checkPresent();
    Statement s(db_, "SELECT name, note, lat, lon, radius FROM checkpoints WHERE list_id = ? "
                     "ORDER BY position");
    s.bind(1, listId);
    std::vector<Checkpoint> result;
    while (s.step())
        result.push_back({s.text(0), s.text(1), s.real(2), s.real(3), s.integer(4)});
    return result;
}

qint64 SqliteStore::messageCount() const {
    checkPresent();
    Statement s(db_, "SELECT COUNT(*) FROM messages");
    s.step();
    return s.integer64(0);
}

void SqliteStore::begin() {
    checkPresent();
    if (readOnly_)
        fail(QStringLiteral("хранилище открыто только для чтения"));
    exec("BEGIN IMMEDIATE");
}
void SqliteStore::commit() { exec("COMMIT"); }
void SqliteStore::rollback() {
    // SQLite has rolled back by itself after a full disk or an I/O error: nothing to undo, and
    // the error that ended the transaction is the one said.
    if (!sqlite3_get_autocommit(db_))
        exec("ROLLBACK");
}

void SqliteStore::addGroup(const Group& group) {
    Statement s(db_, "INSERT INTO groups (id, name, position) "
                     "VALUES (?, ?, (SELECT COALESCE(MAX(position), 0) + 1 FROM groups))");
    s.bind(1, group.id).bind(2, group.name).step();
}

int SqliteStore::addCar(const Car& car) {
    Statement s(db_, "INSERT INTO cars (id, group_id, name, number, device, checkpoint_list) "
                     "VALUES (NULLIF(?, 0), ?, ?, ?, ?, ?)");
    s.bind(1, car.id).bind(2, car.groupId).bind(3, car.name).bind(4, car.number).bind(5, car.device)
        .bind(6, car.checkpointList).step();
    return int(sqlite3_last_insert_rowid(db_));
}

void SqliteStore::addMessages(int device, const std::vector<Message>& messages) {
    insertMessages(db_, messages.size(),
                   [&](size_t i) { return std::pair<int, const Message&>(device, messages[i]); });
}

void SqliteStore::addCheckpointList(const QString& listId, const std::vector<Checkpoint>& checkpoints) {
    Statement s(db_, "INSERT INTO checkpoints (list_id, position, name, note, lat, lon, radius) "
                     "VALUES (?, ?, ?, ?, ?, ?, ?)");
    int position = 0;
    for (const Checkpoint& c : checkpoints) {
        s.bind(1, listId).bind(2, ++position).bind(3, c.name).bind(4, c.note).bind(5, c.lat)
            .bind(6, c.lon).bind(7, c.radius);
        s.step();
        s.reset();
    }
}

std::optional<Car> SqliteStore::carOfDevice(int device) const {
    checkPresent();
    Statement s(db_, "SELECT id, group_id, name, number, device, checkpoint_list FROM cars WHERE device = ?");
    s.bind(1, device);
    std::vector<Car> found = readCars(s);
    if (found.empty())
        return std::nullopt;
    return found.front();
}

std::vector<Tracker> SqliteStore::trackers() const {
    Statement s(db_, "SELECT ident, device FROM trackers ORDER BY device, ident");
    std::vector<Tracker> result;
    while (s.step())
        result.push_back({s.text(0), s.integer(1)});
    return result;
}

void SqliteStore::addTracker(const Tracker& tracker) {
    Statement s(db_, "INSERT INTO trackers (ident, device) VALUES (?, ?)");
    s.bind(1, tracker.ident).bind(2, tracker.device).step();
}

bool SqliteStore::removeTracker(const QString& ident) {
    Statement s(db_, "DELETE FROM trackers WHERE ident = ?");
    s.bind(1, ident).step();
    return sqlite3_changes(db_) > 0;
}

void SqliteStore::addLiveMessages(const std::vector<DeviceMessage>& messages) {
    insertMessages(db_, messages.size(), [&](size_t i) {
        return std::pair<int, const Message&>(messages[i].device, messages[i].message);
    });
}

} // namespace vserver
