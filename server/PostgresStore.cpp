#include "PostgresStore.h"

#include "VantrelError.h"

#include <QUrl>
#include <QtEndian>
#include <charconv>
#include <cstring>
#include <libpq-fe.h>
#include <memory>

namespace vserver {
namespace {

constexpr int kApplicationId = 0x56544c52; // "VTLR", as in the SQLite file
constexpr int kSchemaVersion = 2;
constexpr int kChunk = 50000; // rows a cursor fetch brings

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
)sql";

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

[[noreturn]] void failed(PGconn* db) {
    const bool lost = PQstatus(db) != CONNECTION_OK;
    throw VantrelError((lost ? QStringLiteral("Связь с базой PostgreSQL потеряна: ") : QStringLiteral("Ошибка базы PostgreSQL: ")) +
                       fromUtf8(PQerrorMessage(db)).trimmed());
}

// Runs one statement; binary results when asked. Throws on failure.
PgResult run(PGconn* db, const char* sql, const std::vector<Param>& parameters = {}, bool binary = false) {
    std::vector<const char*> values;
    for (const Param& p : parameters)
        values.push_back(p.null ? nullptr : p.value.constData());
    PgResult result(PQexecParams(db, sql, int(values.size()), nullptr, values.data(), nullptr, nullptr, binary ? 1 : 0),
                    &PQclear);
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        failed(db);
    return result;
}

QByteArray number(double value) {
    char buffer[32];
    return QByteArray(buffer, int(std::to_chars(buffer, buffer + sizeof buffer, value).ptr - buffer));
}

double binaryDouble(const PGresult* r, int row, int column) {
    if (PQgetisnull(r, row, column))
        return kNoValue;
    quint64 bits = qFromBigEndian<quint64>(PQgetvalue(r, row, column));
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

int binaryInt(const PGresult* r, int row, int column) { return qFromBigEndian<qint32>(PQgetvalue(r, row, column)); }

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
    db_ = PQconnectdb(uri.toUtf8().constData());
    if (PQstatus(db_) != CONNECTION_OK) {
        const QString reason = fromUtf8(PQerrorMessage(db_)).trimmed();
        PQfinish(db_);
        db_ = nullptr;
        throw VantrelError(QStringLiteral("Не удалось подключиться к базе PostgreSQL %1: %2").arg(where_, reason));
    }
    PQsetClientEncoding(db_, "UTF8");
    try {
        checkIdentity();
    } catch (...) {
        PQfinish(db_);
        db_ = nullptr;
        throw;
    }
}

PostgresStore::~PostgresStore() {
    if (db_)
        PQfinish(db_);
}

void PostgresStore::checkIdentity() {
    const PgResult tables = run(db_, "SELECT table_name FROM information_schema.tables WHERE table_schema = current_schema()");
    bool ours = false;
    for (int i = 0; i < PQntuples(tables.get()); ++i)
        ours = ours || QByteArray(PQgetvalue(tables.get(), i, 0)) == "vantrel_store";
    if (PQntuples(tables.get()) == 0) {
        run(db_, "BEGIN");
        try {
            const PgResult schema(PQexec(db_, kSchema), &PQclear); // several statements: not as parameters
            if (PQresultStatus(schema.get()) != PGRES_COMMAND_OK)
                throw VantrelError(QStringLiteral("Ошибка базы PostgreSQL: ") + fromUtf8(PQerrorMessage(db_)).trimmed());
            run(db_, "INSERT INTO vantrel_store VALUES ($1, $2)",
                {kApplicationId, kSchemaVersion});
            run(db_, "COMMIT");
        } catch (...) {
            PQclear(PQexec(db_, "ROLLBACK"));
            throw;
        }
        return;
    }
    if (!ours)
        throw VantrelError(QStringLiteral("База %1 не является хранилищем Vantrel (в ней чужие таблицы); база не изменена").arg(where_));
    const PgResult identity = run(db_, "SELECT application_id, schema_version FROM vantrel_store");
    if (PQntuples(identity.get()) != 1 || QByteArray(PQgetvalue(identity.get(), 0, 0)).toInt() != kApplicationId)
        throw VantrelError(QStringLiteral("База %1 не является хранилищем Vantrel; база не изменена").arg(where_));
    const int version = QByteArray(PQgetvalue(identity.get(), 0, 1)).toInt();
    if (version > kSchemaVersion)
        throw VantrelError(QStringLiteral("Хранилище %1 создано более новой версией сервера (версия схемы %2)").arg(where_).arg(version));
    // Later versions add their steps here, in one transaction.
}

std::vector<Group> PostgresStore::groups() const {
    const PgResult r = run(db_, "SELECT id, name FROM groups ORDER BY position, id");
    std::vector<Group> result;
    for (int i = 0; i < PQntuples(r.get()); ++i)
        result.push_back({fromUtf8(PQgetvalue(r.get(), i, 0)), fromUtf8(PQgetvalue(r.get(), i, 1))});
    return result;
}

std::vector<Car> PostgresStore::cars(const QString& groupId) const {
    return readCars(db_, "SELECT id, group_id, name, number, device, checkpoint_list FROM cars WHERE group_id = $1 ORDER BY id",
                    {groupId});
}

std::vector<Car> PostgresStore::allCars() const {
    return readCars(db_, "SELECT id, group_id, name, number, device, checkpoint_list FROM cars ORDER BY id", {});
}

std::optional<Car> PostgresStore::carOfDevice(int device) const {
    const std::vector<Car> found =
        readCars(db_, "SELECT id, group_id, name, number, device, checkpoint_list FROM cars WHERE device = $1",
                 {device});
    return found.empty() ? std::nullopt : std::optional<Car>(found.front());
}

std::vector<Message> PostgresStore::messages(int device, double from, double to, const CancelToken& cancel) const {
    // The device's period through a cursor, a chunk at a time, in binary: never the table. Inside
    // a writer's transaction the cursor lives in it; otherwise in one of its own.
    const bool own = !inTransaction_;
    if (own)
        run(db_, "BEGIN READ ONLY");
    std::vector<Message> result;
    try {
        const PgResult count = run(db_, "SELECT COUNT(*) FROM messages WHERE device = $1 AND time >= $2 AND time <= $3",
                                 {device, from, to});
        result.reserve(size_t(QByteArray(PQgetvalue(count.get(), 0, 0)).toLongLong()));
        run(db_,
            "DECLARE period NO SCROLL CURSOR FOR SELECT time, lon, lat, speed, signal, power, fuel1, fuel2, sensors "
            "FROM messages WHERE device = $1 AND time >= $2 AND time <= $3 ORDER BY time",
            {device, from, to});
        const QByteArray fetch = "FETCH " + QByteArray::number(kChunk) + " FROM period";
        for (;;) {
            cancel.check();
            const PgResult chunk = run(db_, fetch.constData(), {}, true);
            const PGresult* r = chunk.get();
            const int rows = PQntuples(r);
            for (int i = 0; i < rows; ++i)
                result.push_back({binaryDouble(r, i, 0), binaryDouble(r, i, 1), binaryDouble(r, i, 2),
                                  binaryDouble(r, i, 3), *PQgetvalue(r, i, 4) != 0, *PQgetvalue(r, i, 5) != 0,
                                  binaryDouble(r, i, 6), binaryDouble(r, i, 7), binaryInt(r, i, 8)});
            if (rows < kChunk)
                break;
        }
        run(db_, own ? "COMMIT" : "CLOSE period");
    } catch (...) {
        if (own)
            PQclear(PQexec(db_, "ROLLBACK"));
        throw;
    }
    return result;
}

std::vector<Checkpoint> PostgresStore::checkpoints(const QString& listId) const {
    const PgResult r = run(db_, "SELECT name, note, lat, lon, radius FROM checkpoints WHERE list_id = $1 ORDER BY position",
                         {listId});
    std::vector<Checkpoint> result;
    for (int i = 0; i < PQntuples(r.get()); ++i)
        result.push_back({fromUtf8(PQgetvalue(r.get(), i, 0)), fromUtf8(PQgetvalue(r.get(), i, 1)),
                          QByteArray(PQgetvalue(r.get(), i, 2)).toDouble(), QByteArray(PQgetvalue(r.get(), i, 3)).toDouble(),
                          QByteArray(PQgetvalue(r.get(), i, 4)).toInt()});
    return result;
}

qint64 PostgresStore::messageCount() const {
    const PgResult r = run(db_, "SELECT COUNT(*) FROM messages");
    return QByteArray(PQgetvalue(r.get(), 0, 0)).toLongLong();
}

void PostgresStore::begin() {
    run(db_, "BEGIN");
    inTransaction_ = true;
}
void PostgresStore::commit() {
    inTransaction_ = false;
    run(db_, "COMMIT");
}
void PostgresStore::rollback() {
    inTransaction_ = false;
    if (PQstatus(db_) == CONNECTION_OK) // a lost connection has rolled back on the server already
        run(db_, "ROLLBACK");
}

void PostgresStore::addGroup(const Group& group) {
    run(db_, "INSERT INTO groups (id, name, position) VALUES ($1, $2, (SELECT COALESCE(MAX(position), 0) + 1 FROM groups))",
        {group.id, group.name});
}

int PostgresStore::addCar(const Car& car) {
    const PgResult r = run(db_,
                         "INSERT INTO cars (id, group_id, name, number, device, checkpoint_list) "
                         "VALUES (COALESCE(NULLIF($1::integer, 0), (SELECT COALESCE(MAX(id), 0) + 1 FROM cars)), $2, $3, $4, $5, $6) "
                         "RETURNING id",
                         {car.id, car.groupId, car.name, car.number, car.device, car.checkpointList});
    return QByteArray(PQgetvalue(r.get(), 0, 0)).toInt();
}

void PostgresStore::addMessages(int device, const std::vector<Message>& messages) {
    const PgResult copy(PQexec(db_, "COPY messages (device, time, lon, lat, speed, signal, power, fuel1, fuel2, sensors) FROM STDIN"),
                        &PQclear);
    if (PQresultStatus(copy.get()) != PGRES_COPY_IN)
        failed(db_);
    QByteArray buffer;
    const QByteArray deviceText = QByteArray::number(device);
    const auto field = [&buffer](double value) {
        buffer += std::isfinite(value) ? number(value) : QByteArray("\\N");
        buffer += '\t';
    };
    const auto flush = [&] {
        if (PQputCopyData(db_, buffer.constData(), int(buffer.size())) != 1)
            throw VantrelError(QStringLiteral("Связь с базой PostgreSQL потеряна: ") + fromUtf8(PQerrorMessage(db_)).trimmed());
        buffer.clear();
    };
    for (const Message& m : messages) {
        buffer += deviceText + '\t';
        field(m.time);
        field(m.lon);
        field(m.lat);
        field(m.speed);
        buffer += m.signal ? "t\t" : "f\t";
        buffer += m.power ? "t\t" : "f\t";
        field(m.fuel1);
        field(m.fuel2);
        buffer += QByteArray::number(m.sensors) + '\n';
        if (buffer.size() > (1 << 20))
            flush();
    }
    flush();
    if (PQputCopyEnd(db_, nullptr) != 1)
        throw VantrelError(QStringLiteral("Связь с базой PostgreSQL потеряна: ") + fromUtf8(PQerrorMessage(db_)).trimmed());
    const PgResult end(PQgetResult(db_), &PQclear);
    if (PQresultStatus(end.get()) != PGRES_COMMAND_OK)
        throw VantrelError(QStringLiteral("Ошибка базы PostgreSQL: ") + fromUtf8(PQerrorMessage(db_)).trimmed());
    while (PGresult* rest = PQgetResult(db_))
        PQclear(rest);
}

void PostgresStore::addCheckpointList(const QString& listId, const std::vector<Checkpoint>& checkpoints) {
    int position = 0;
    for (const Checkpoint& c : checkpoints)
        run(db_, "INSERT INTO checkpoints (list_id, position, name, note, lat, lon, radius) VALUES ($1, $2, $3, $4, $5, $6, $7)",
            {listId, ++position, c.name, c.note, c.lat, c.lon, c.radius});
}

} // namespace vserver
