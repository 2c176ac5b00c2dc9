#include "PostgresStore.h"

#include "VantrelError.h"

#include <QDebug>
#include <QUrl>
#include <QtEndian>
#include <charconv>
#include <cstring>
#include <libpq-fe.h>
#include <memory>
#include <utility>

namespace vserver {
namespace {

constexpr int kApplicationId = 0x56544c52; // "VTLR", as in the SQLite file
constexpr int kSchemaVersion = 3;

const char* const kSchema = R"sql(
CREATE TABLE vantrel_store (application_id INTEGER NOT NULL, schema_version INTEGER NOT NULL);
CREATE TABLE groups (id TEXT PRIMARY KEY, name TEXT NOT NULL, position INTEGER NOT NULL DEFAULT 0);
CREATE TABLE cars (
    id INTEGER PRIMARY KEY,
    group_id TEXT NOT NULL REFERENCES groups(id),
    name TEXT NOT NULL,
    number TEXT NOT NULL,
    device INTEGER NOT NULL UNIQUE,
    checkpoint_list TEXT NOT NULL DEFAULT ''
);
CREATE TABLE messages (
    device INTEGER NOT NULL,
    time DOUBLE PRECISION NOT NULL,
    lon DOUBLE PRECISION, lat DOUBLE PRECISION, speed DOUBLE PRECISION,
    signal BOOLEAN NOT NULL, power BOOLEAN NOT NULL,
    fuel1 DOUBLE PRECISION, fuel2 DOUBLE PRECISION,
    sensors INTEGER NOT NULL
);
CREATE INDEX messages_by_device_time ON messages (device, time);
CREATE TABLE checkpoints (
    list_id TEXT NOT NULL,
    position INTEGER NOT NULL,
    name TEXT NOT NULL, note TEXT NOT NULL,
    lat DOUBLE PRECISION NOT NULL, lon DOUBLE PRECISION NOT NULL, radius INTEGER NOT NULL
);
CREATE TABLE trackers (ident TEXT PRIMARY KEY, device INTEGER NOT NULL);
)sql";

// Version 2 to 3: the trackers' table.
const char* const kTrackersStep = "CREATE TABLE trackers (ident TEXT PRIMARY KEY, device INTEGER NOT NULL)";

using PgResult = std::unique_ptr<PGresult, decltype(&PQclear)>;

QString fromUtf8(const char* text) { return QString::fromUtf8(text ? text : ""); }

// A statement's parameter in text form; SQL NULL where a number is missing.
struct Param {
    Param(const QByteArray& text) : value(text), null(false) {}
    Param(const QString& text) : value(text.toUtf8()), null(false) {}
    Param(int n) : value(QByteArray::number(n)), null(false) {}
    Param(double n) : null(!std::isfinite(n)) {
        if (!null) {
            char buffer[32];
            value = QByteArray(buffer, int(std::to_chars(buffer, buffer + sizeof buffer, n).ptr - buffer));
        }
    }
    QByteArray value;
    bool null;
};

// Whether a failure is the connection's, not the statement's: libpq's own errors carry no SQL
// state; a server shutting down or not yet up sends a state of class 08 or 57P.
bool connectionLost(PGconn* db, const PGresult* result) {
    if (PQstatus(db) != CONNECTION_OK)
        return true;
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    return !state || !*state || std::strncmp(state, "08", 2) == 0 || std::strncmp(state, "57P", 3) == 0;
}

[[noreturn]] void failed(PGconn* db, const PGresult* result = nullptr) {
    const bool lost = result ? connectionLost(db, result) : PQstatus(db) != CONNECTION_OK;
    throw VantrelError((lost ? QStringLiteral("Связь с базой PostgreSQL потеряна: ") : QStringLiteral("Ошибка базы PostgreSQL: ")) +
                       fromUtf8(PQerrorMessage(db)).trimmed());
}

// Whether a failed statement may be sent again on a new connection: the connection broke, and
// no transaction was open (a broken one is lost with its connection; the caller rolls back).
bool reconnected(PGconn* db, const PGresult* result, bool wasIdle) {
    if (!wasIdle || !connectionLost(db, result))
        return false;
    PQreset(db);
    return PQstatus(db) == CONNECTION_OK;
}

// Runs one statement; binary results when asked. Throws on failure. A connection that broke
// since the last statement (the database restarted) is made again once, outside transactions.
PgResult run(PGconn* db, const char* sql, const std::vector<Param>& parameters = {}, bool binary = false) {
    std::vector<const char*> values;
    for (const Param& p : parameters)
        values.push_back(p.null ? nullptr : p.value.constData());
    const bool wasIdle = PQtransactionStatus(db) == PQTRANS_IDLE;
    for (int attempt = 0;; ++attempt) {
        PgResult result(PQexecParams(db, sql, int(values.size()), nullptr, values.data(), nullptr, nullptr, binary ? 1 : 0),
                        &PQclear);
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
            return result;
        if (attempt > 0 || !reconnected(db, result.get(), wasIdle))
            failed(db, result.get());
    }
}

QByteArray number(double value) {
    char buffer[32];
    return QByteArray(buffer, int(std::to_chars(buffer, buffer + sizeof buffer, value).ptr - buffer));
}



std::vector<Car> readCars(PGconn* db, const char* sql, const std::vector<Param>& parameters) {
    const PgResult r = run(db, sql, parameters);
    std::vector<Car> result;
    for (int i = 0; i < PQntuples(r.get()); ++i)
        result.push_back({QByteArray(PQgetvalue(r.get(), i, 0)).toInt(), fromUtf8(PQgetvalue(r.get(), i, 1)),
                          fromUtf8(PQgetvalue(r.get(), i, 2)), fromUtf8(PQgetvalue(r.get(), i, 3)),
                          QByteArray(PQgetvalue(r.get(), i, 4)).toInt(), fromUtf8(PQgetvalue(r.get(), i, 5))});
    return result;
}

} // namespace

PostgresStore::PostgresStore(const QString& uri) {
    QUrl url(uri);
    url.setPassword(QString());
    where_ = url.toString(QUrl::RemovePassword);
    // A database that does not answer is waited for a bounded time, unless the address says otherwise.
    const QByteArray given = uri.toUtf8();
    const char* const keywords[] = {"connect_timeout", "client_encoding", "dbname", nullptr};
    const char* const values[] = {"5", "UTF8", given.constData(), nullptr};
    db_ = PQconnectdbParams(keywords, values, 1);
    if (PQstatus(db_) != CONNECTION_OK) {
        const QString reason = fromUtf8(PQerrorMessage(db_)).trimmed();
        PQfinish(db_);
        db_ = nullptr;
        throw VantrelError(QStringLiteral("Не удалось подключиться к базе PostgreSQL %1: %2").arg(where_, reason));
    }
    try {
        checkIdentity();
    } catch (...) {
        PQfinish(db_);
        db_ = nullptr;
        throw;
    }
}

PGconn* PostgresStore::db() const {
    // A connection found broken by an earlier call is made again; inside a transaction the
    // transaction is lost with it, and so is said.
    if (PQstatus(db_) != CONNECTION_OK && !inTransaction_)
        PQreset(db_);
    if (PQstatus(db_) != CONNECTION_OK)
        failed(db_);
    return db_;
}

namespace {

// One message as a row of COPY's text format: NULL for a missing value.
void appendCopyRow(QByteArray& buffer, const QByteArray& device, const Message& m) {
    const auto field = [&buffer](double value) {
        buffer += std::isfinite(value) ? number(value) : QByteArray("\\N");
        buffer += '\t';
    };
    buffer += device + '\t';
    field(m.time);
    field(m.lon);
    field(m.lat);
    field(m.speed);
    buffer += m.signal ? "t\t" : "f\t";
    buffer += m.power ? "t\t" : "f\t";
    field(m.fuel1);
    field(m.fuel2);
    buffer += QByteArray::number(m.sensors) + '\n';
}

// Ends a COPY whose rows were all sent, and reads its outcome.
void endCopy(PGconn* db) {
    if (PQputCopyEnd(db, nullptr) != 1)
        throw VantrelError(QStringLiteral("Связь с базой PostgreSQL потеряна: ") + fromUtf8(PQerrorMessage(db)).trimmed());
    const PgResult end(PQgetResult(db), &PQclear);
    if (PQresultStatus(end.get()) != PGRES_COMMAND_OK)
        throw VantrelError(QStringLiteral("Ошибка базы PostgreSQL: ") + fromUtf8(PQerrorMessage(db)).trimmed());
    while (PGresult* rest = PQgetResult(db))
        PQclear(rest);
}

} // namespace

PostgresStore::~PostgresStore() {
    if (db_)
        PQfinish(db_);
}

void PostgresStore::checkIdentity() {
    // One look and one schema at a time: two servers meeting an empty database make it once.
    run(db_, "BEGIN");
    try {
        run(db_, "SELECT pg_advisory_xact_lock($1)", {kApplicationId});
        const PgResult tables =
            run(db_, "SELECT table_name FROM information_schema.tables WHERE table_schema = current_schema()");
        bool ours = false;
        for (int i = 0; i < PQntuples(tables.get()); ++i)
            ours = ours || QByteArray(PQgetvalue(tables.get(), i, 0)) == "vantrel_store";
        if (PQntuples(tables.get()) == 0) {
            const PgResult schema(PQexec(db_, kSchema), &PQclear); // several statements: not as parameters
            if (PQresultStatus(schema.get()) != PGRES_COMMAND_OK)
                failed(db_, schema.get());
            run(db_, "INSERT INTO vantrel_store VALUES ($1, $2)", {kApplicationId, kSchemaVersion});
        } else if (!ours) {
            throw VantrelError(QStringLiteral("База %1 не является хранилищем Vantrel (в ней чужие таблицы); база не изменена").arg(where_));
        } else {
            const PgResult identity = run(db_, "SELECT application_id, schema_version FROM vantrel_store");
            if (PQntuples(identity.get()) != 1 || QByteArray(PQgetvalue(identity.get(), 0, 0)).toInt() != kApplicationId)
                throw VantrelError(QStringLiteral("База %1 не является хранилищем Vantrel; база не изменена").arg(where_));
            const int version = QByteArray(PQgetvalue(identity.get(), 0, 1)).toInt();
            if (version > kSchemaVersion)
                throw VantrelError(QStringLiteral("Хранилище %1 создано более новой версией сервера (версия схемы %2)").arg(where_).arg(version));
            // Later versions add their steps here, in this transaction.
            if (version < 3) {
                run(db_, kTrackersStep);
                run(db_, "UPDATE vantrel_store SET schema_version = $1", {kSchemaVersion});
            }
        }
        run(db_, "COMMIT");
    } catch (...) {
        PQclear(PQexec(db_, "ROLLBACK"));
        throw;
    }
}

std::vector<Group> PostgresStore::groups() const {
    const PgResult r = run(db(), "SELECT id, name FROM groups ORDER BY position, id");
    std::vector<Group> result;
    for (int i = 0; i < PQntuples(r.get()); ++i)
        result.push_back({fromUtf8(PQgetvalue(r.get(), i, 0)), fromUtf8(PQgetvalue(r.get(), i, 1))});
    return result;
}

std::vector<Car> PostgresStore::cars(const QString& groupId) const {
    return readCars(db(), "SELECT id, group_id, name, number, device, checkpoint_list FROM cars WHERE group_id = $1 ORDER BY id",
                    {groupId});
}

std::vector<Car> PostgresStore::allCars() const {
    return readCars(db(), "SELECT id, group_id, name, number, device, checkpoint_list FROM cars ORDER BY id", {});
}

std::optional<Car> PostgresStore::carOfDevice(int device) const {
    const std::vector<Car> found =
        readCars(db(), "SELECT id, group_id, name, number, device, checkpoint_list FROM cars WHERE device = $1",
                 {device});
    return found.empty() ? std::nullopt : std::optional<Car>(found.front());
}

std::vector<Message> PostgresStore::messages(int device, double from, double to, const CancelToken& cancel) const {
    // The device's period streamed in COPY's binary form, row by row as it arrives: never the
    // table, and no result set held whole on either side.
    const QByteArray sql = "COPY (SELECT time, lon, lat, speed, signal, power, fuel1, fuel2, sensors FROM messages "
                           "WHERE device = " + QByteArray::number(device) + " AND time >= " + number(from) +
                           " AND time <= " + number(to) + " ORDER BY time) TO STDOUT (FORMAT binary)";
    PGconn* const connection = db();
    const bool wasIdle = PQtransactionStatus(connection) == PQTRANS_IDLE;
    PgResult copy(PQexec(connection, sql.constData()), &PQclear);
    if (PQresultStatus(copy.get()) != PGRES_COPY_OUT && reconnected(connection, copy.get(), wasIdle))
        copy.reset(PQexec(connection, sql.constData()));
    if (PQresultStatus(copy.get()) != PGRES_COPY_OUT)
        failed(db_, copy.get());
    std::vector<Message> result;
    bool header = true;
    for (;;) {
        char* row = nullptr;
        const int length = PQgetCopyData(db_, &row, 0);
        if (length == -1)
            break; // done
        if (length < 0)
            failed(db_);
        std::unique_ptr<char, decltype(&PQfreemem)> owned(row, &PQfreemem);
        const char* at = row;
        const char* const end = row + length;
        if (header) { // signature, flags and header extension come with the first row
            at += 11 + 4;
            at += 4 + qFromBigEndian<qint32>(at);
            header = false;
        }
        if (end - at < 2 || qFromBigEndian<qint16>(at) != 9)
            continue; // the trailer (-1)
        at += 2;
        double values[9];
        for (int field = 0; field < 9; ++field) {
            const qint32 size = qFromBigEndian<qint32>(at);
            at += 4;
            if (size < 0) {
                values[field] = kNoValue;
                continue;
            }
            if (size == 8) {
                const quint64 bits = qFromBigEndian<quint64>(at);
                std::memcpy(&values[field], &bits, 8);
            } else if (size == 4) {
                values[field] = qFromBigEndian<qint32>(at);
            } else {
                values[field] = *at != 0; // boolean
            }
            at += size;
        }
        if (result.size() % 65536 == 0)
            cancel.check();
        result.push_back({values[0], values[1], values[2], values[3], values[4] != 0, values[5] != 0, values[6],
                          values[7], int(values[8])});
    }
    const PgResult end(PQgetResult(db_), &PQclear);
    if (PQresultStatus(end.get()) != PGRES_COMMAND_OK)
        failed(db_);
    while (PGresult* rest = PQgetResult(db_))
        PQclear(rest);
    return result;
}

std::vector<Checkpoint> PostgresStore::checkpoints(const QString& listId) const {
    const PgResult r = run(db(), "SELECT name, note, lat, lon, radius FROM checkpoints WHERE list_id = $1 ORDER BY position",
                         {listId});
    std::vector<Checkpoint> result;
    for (int i = 0; i < PQntuples(r.get()); ++i)
        result.push_back({fromUtf8(PQgetvalue(r.get(), i, 0)), fromUtf8(PQgetvalue(r.get(), i, 1)),
                          QByteArray(PQgetvalue(r.get(), i, 2)).toDouble(), QByteArray(PQgetvalue(r.get(), i, 3)).toDouble(),
                          QByteArray(PQgetvalue(r.get(), i, 4)).toInt()});
    return result;
}

qint64 PostgresStore::messageCount() const {
    const PgResult r = run(db(), "SELECT COUNT(*) FROM messages");
    return QByteArray(PQgetvalue(r.get(), 0, 0)).toLongLong();
}

void PostgresStore::begin() {
    run(db(), "BEGIN");
    inTransaction_ = true;
    messagesAdded_ = false;
}

void PostgresStore::commit() {
    run(db(), "COMMIT");
    inTransaction_ = false;
    // The planner's figures are those of before the load until autovacuum comes by: a vehicle's
    // million fresh messages would be taken for a few hundred, read through a bitmap and sorted
    // on disk instead of read in the index's order. The load is stored by now, so statistics
    // that fail are a warning, not the load's failure.
    if (std::exchange(messagesAdded_, false)) {
        try {
            run(db(), "ANALYZE messages");
        } catch (const VantrelError& error) {
            qWarning("vantrel-server: %s", qPrintable(error.text()));
        }
    }
}

void PostgresStore::rollback() {
    messagesAdded_ = false;
    inTransaction_ = false;
    if (PQstatus(db_) == CONNECTION_OK) // a lost connection has rolled back on the server already
        run(db_, "ROLLBACK");
}

void PostgresStore::lockForWriters() {
    // Held to the transaction's end: a second import waits, then finds the group and vehicle the
    // first one made instead of making them again under the same identifiers.
    run(db(), "SELECT pg_advisory_xact_lock($1)", {kApplicationId});
}

void PostgresStore::addGroup(const Group& group) {
    run(db(), "INSERT INTO groups (id, name, position) VALUES ($1, $2, (SELECT COALESCE(MAX(position), 0) + 1 FROM groups))",
        {group.id, group.name});
}

int PostgresStore::addCar(const Car& car) {
    const PgResult r = run(db(),
                         "INSERT INTO cars (id, group_id, name, number, device, checkpoint_list) "
                         "VALUES (COALESCE(NULLIF($1::integer, 0), (SELECT COALESCE(MAX(id), 0) + 1 FROM cars)), $2, $3, $4, $5, $6) "
                         "RETURNING id",
                         {car.id, car.groupId, car.name, car.number, car.device, car.checkpointList});
    return QByteArray(PQgetvalue(r.get(), 0, 0)).toInt();
}

void PostgresStore::addMessages(int device, const std::vector<Message>& messages) {
    messagesAdded_ = messagesAdded_ || !messages.empty();
    const PgResult copy(PQexec(db(), "COPY messages (device, time, lon, lat, speed, signal, power, fuel1, fuel2, sensors) FROM STDIN"),
                        &PQclear);
    if (PQresultStatus(copy.get()) != PGRES_COPY_IN)
        failed(db_);
    QByteArray buffer;
    const QByteArray deviceText = QByteArray::number(device);
    const auto flush = [&] {
        if (PQputCopyData(db_, buffer.constData(), int(buffer.size())) != 1)
            throw VantrelError(QStringLiteral("Связь с базой PostgreSQL потеряна: ") + fromUtf8(PQerrorMessage(db_)).trimmed());
        buffer.clear();
    };
    for (const Message& m : messages) {
        appendCopyRow(buffer, deviceText, m);
        if (buffer.size() > (1 << 20))
            flush();
    }
    flush();
    endCopy(db_);
}

void PostgresStore::addCheckpointList(const QString& listId, const std::vector<Checkpoint>& checkpoints) {
    int position = 0;
    for (const Checkpoint& c : checkpoints)
        run(db(), "INSERT INTO checkpoints (list_id, position, name, note, lat, lon, radius) VALUES ($1, $2, $3, $4, $5, $6, $7)",
            {listId, ++position, c.name, c.note, c.lat, c.lon, c.radius});
}

std::vector<Tracker> PostgresStore::trackers() const {
    const PgResult r = run(db(), "SELECT ident, device FROM trackers ORDER BY device, ident");
    std::vector<Tracker> result;
    for (int i = 0; i < PQntuples(r.get()); ++i)
        result.push_back({fromUtf8(PQgetvalue(r.get(), i, 0)), QByteArray(PQgetvalue(r.get(), i, 1)).toInt()});
    return result;
}

void PostgresStore::addTracker(const Tracker& tracker) {
    run(db(), "INSERT INTO trackers (ident, device) VALUES ($1, $2)", {tracker.ident, tracker.device});
}

bool PostgresStore::removeTracker(const QString& ident) {
    const PgResult r = run(db(), "DELETE FROM trackers WHERE ident = $1", {ident});
    return QByteArray(PQcmdTuples(r.get())).toInt() > 0;
}

void PostgresStore::addLiveMessages(const std::vector<DeviceMessage>& messages) {
    if (messages.empty())
        return;
    const PgResult copy(PQexec(db(), "COPY messages (device, time, lon, lat, speed, signal, power, fuel1, fuel2, sensors) FROM STDIN"),
                        &PQclear);
    if (PQresultStatus(copy.get()) != PGRES_COPY_IN)
        failed(db_);
    QByteArray buffer;
    buffer.reserve(int(messages.size()) * 96);
    for (const DeviceMessage& d : messages)
        appendCopyRow(buffer, QByteArray::number(d.device), d.message);
    if (PQputCopyData(db_, buffer.constData(), int(buffer.size())) != 1)
        throw VantrelError(QStringLiteral("Связь с базой PostgreSQL потеряна: ") + fromUtf8(PQerrorMessage(db_)).trimmed());
    endCopy(db_);
}

} // namespace vserver
