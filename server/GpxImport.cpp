#include "GpxImport.h"

#include "DateTimeValue.h"
#include "ExpatSupport.h"
#include "LargePages.h"
#include "Store.h"
#include "VantrelError.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <expat.h>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace vserver {
namespace {

constexpr double kFastestMetresPerSecond = 200; // 720 km/h: anything faster is a broken fix

// Wall-clock values of UTC moments. The zone's offset is looked up once per quarter hour of UTC
// (zones change their offset on whole quarters), not once per point: a million points would
// otherwise read the zone rules a million times.
class LocalClock {
public:
    double fromUtc(qint64 ms) {
        constexpr qint64 kQuarterMs = 15 * 60 * 1000;
        constexpr double kUnixEpochDay = 25569; // 1 January 1970 as a date-time value
        const qint64 quarter = ms >= 0 ? ms / kQuarterMs : -((-ms + kQuarterMs - 1) / kQuarterMs);
        if (quarter != lastQuarter_) { // a recording stays in one quarter for hundreds of points
            auto offset = offsets_.find(quarter);
            if (offset == offsets_.end())
                offset = offsets_.insert(
                    quarter, QDateTime::fromMSecsSinceEpoch(quarter * kQuarterMs, Qt::UTC)
                                 .toLocalTime()
                                 .offsetFromUtc());
            lastQuarter_ = quarter;
            lastOffset_ = *offset;
        }
        return kUnixEpochDay + double(ms + qint64(lastOffset_) * 1000) / 86400000.0;
    }

private:
    QHash<qint64, int> offsets_;
    std::optional<qint64> lastQuarter_;
    int lastOffset_ = 0;
};

// Days from 1 January 1970 to a date of the proleptic Gregorian calendar, in integers alone.
qint64 daysSinceEpoch(int year, int month, int day) {
    year -= month <= 2;
    const qint64 era = (year >= 0 ? year : year - 399) / 400;
    const qint64 yearOfEra = year - era * 400;
    const qint64 dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const qint64 dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

int daysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// The usual GPX time, "YYYY-MM-DDTHH:MM:SS[.fff]Z", as milliseconds since 1970 in UTC, read
// without QDateTime's general parser; any other form (an offset, a missing Z) gives nothing and
// is left to it.
std::optional<qint64> fastUtcMilliseconds(std::string_view text) {
    const auto digits = [&](size_t from, size_t count, int& value) {
        value = 0;
        for (size_t i = from; i < from + count; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return false;
            value = value * 10 + (text[i] - '0');
        }
        return true;
    };
    if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text.back() != 'Z')
        return std::nullopt;
    int year, month, day, hour, minute, second, fraction = 0;
    if (!digits(0, 4, year) || !digits(5, 2, month) || !digits(8, 2, day) || !digits(11, 2, hour) ||
        !digits(14, 2, minute) || !digits(17, 2, second))
        return std::nullopt;
    if (text.size() > 20) { // ".f" to ".fff": milliseconds
        const size_t count = text.size() - 21;
        if (text[19] != '.' || count < 1 || count > 3 || !digits(20, count, fraction))
            return std::nullopt;
        for (size_t i = count; i < 3; ++i)
            fraction *= 10;
    }
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) ||
        hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    const qint64 days = daysSinceEpoch(year, month, day);
    return ((days * 24 + hour) * 60 + minute) * 60000 + qint64(second) * 1000 + fraction;
}

// A number as the GPX schema writes it (blanks around it and a leading "+" allowed).
std::optional<double> decimal(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    if (text.size() > 1 && text.front() == '+' && text[1] != '-')
        text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool isGpxNamespace(std::string_view uri) {
    // Files without a namespace are common and read as GPX too.
    return uri.empty() || uri == "http://www.topografix.com/GPX/1/1" || uri == "http://www.topografix.com/GPX/1/0";
}

// An element's name as expat reports it with namespace triplets: "uri\1local\1prefix", or
// "local" alone without a namespace.
struct Name {
    std::string_view uri, local, prefix;
    explicit Name(std::string_view triplet) {
        const size_t first = triplet.find(kSeparator);
        if (first == std::string_view::npos) {
            local = triplet;
            return;
        }
        uri = triplet.substr(0, first);
        local = triplet.substr(first + 1);
        const size_t second = local.find(kSeparator);
        if (second != std::string_view::npos) {
            prefix = local.substr(second + 1);
            local = local.substr(0, second);
        }
    }
    QString qualified() const {
        const QString name = QString::fromUtf8(local.data(), qsizetype(local.size()));
        return prefix.empty() ? name : QString::fromUtf8(prefix.data(), qsizetype(prefix.size())) + u':' + name;
    }
    static constexpr char kSeparator = '\1';
};

// Reads a GPX file with expat, which parses a million points in a fraction of the time a
// general stream reader takes. Errors stop the parser and are thrown once it has returned:
// exceptions may not cross expat's C frames.
class GpxReader {
public:
    // Takes the points a chunk at a time, in the file's order, leaving the vector empty (it may
    // swap in a used one whose room is kept); false stops the reading.
    using Deliver = std::function<bool(std::vector<Message>&)>;

    GpxReader(const QString& path, Deliver deliver)
        : path_(path), deliver_(std::move(deliver)), parser_(XML_ParserCreateNS(nullptr, Name::kSeparator)) {
        if (!parser_)
            throw VantrelError(QStringLiteral("%1: нет памяти для разбора").arg(path));
        XML_SetReturnNSTriplet(parser_, 1);
        XML_SetUserData(parser_, this);
        XML_SetElementHandler(parser_, &GpxReader::started, &GpxReader::ended);
        XML_SetCharacterDataHandler(parser_, &GpxReader::characters);
        XML_SetUnknownEncodingHandler(parser_, &expat::singleByteEncoding, nullptr);
        largepages::reserve(messages_, kChunkPoints);
    }
    ~GpxReader() { XML_ParserFree(parser_); }
    GpxReader(const GpxReader&) = delete;
    GpxReader& operator=(const GpxReader&) = delete;

    void read() {
        const QFileInfo info(path_);
        if (!info.exists())
            throw VantrelError(QStringLiteral("%1: нет такого файла").arg(path_));
        if (info.isDir())
            throw VantrelError(QStringLiteral("%1: это папка, а не файл GPX").arg(path_));
        QFile file(path_);
        if (!file.open(QIODevice::ReadOnly))
            throw VantrelError(QStringLiteral("%1: не удалось открыть: %2")
                                   .arg(path_, info.isReadable() ? file.errorString() : QStringLiteral("нет прав на чтение")));
        constexpr qint64 kChunk = 1 << 20;
        bool last = false;
        while (!last) {
            void* buffer = XML_GetBuffer(parser_, int(kChunk));
            if (!buffer)
                throw VantrelError(QStringLiteral("%1: нет памяти для разбора").arg(path_));
            const qint64 got = file.read(static_cast<char*>(buffer), kChunk);
            if (got < 0)
                throw VantrelError(QStringLiteral("%1: не удалось прочитать: %2").arg(path_, file.errorString()));
            last = got == 0;
            if (XML_ParseBuffer(parser_, int(got), last) != XML_STATUS_OK) {
                if (!failure_) // stopped by expat itself, not by a rule of ours
                    fail(expat::errorText(XML_GetErrorCode(parser_)));
                throw VantrelError(*failure_);
            }
        }
        if (!sawGpx_)
            fail(QStringLiteral("это не файл GPX"));
        else if (delivered_ == 0 && messages_.empty())
            fail(QStringLiteral("в файле нет точек трека (trkpt)"));
        if (failure_)
            throw VantrelError(*failure_);
        if (!messages_.empty())
            deliver();
    }

private:
    enum class Value { None, Time, Speed };
    static constexpr size_t kChunkPoints = 1 << 16;

    void deliver() {
        delivered_ += messages_.size();
        if (!deliver_(messages_))
            fail(QStringLiteral("чтение прервано"));
        messages_.clear();
        if (messages_.capacity() < kChunkPoints)
            largepages::reserve(messages_, kChunkPoints);
    }

    void fail(const QString& reason) {
        if (!failure_) // one pass of arg(): a "%1" in the file's name stays as it is
            failure_ = QStringLiteral("%1:%2: %3").arg(path_, QString::number(XML_GetCurrentLineNumber(parser_)), reason);
        XML_StopParser(parser_, XML_FALSE);
    }

    static void started(void* self, const XML_Char* name, const XML_Char** attributes) {
        static_cast<GpxReader*>(self)->start(Name(name), attributes);
    }
    static void ended(void* self, const XML_Char* name) { static_cast<GpxReader*>(self)->end(Name(name)); }
    static void characters(void* self, const XML_Char* text, int length) {
        auto* reader = static_cast<GpxReader*>(self);
        if (reader->value_ != Value::None)
            reader->text_.append(text, size_t(length));
    }

    void start(const Name& name, const XML_Char** attributes) {
        if (value_ != Value::None)
            return fail(QStringLiteral("элемент «%1» внутри значения").arg(name.qualified()));
        if (extensionsDepth_ > 0) {
            ++extensionsDepth_;
            return;
        }
        if (!isGpxNamespace(name.uri))
            return fail(QStringLiteral("элемент «") + name.qualified() +
                        QStringLiteral("» чужого пространства имён вне <extensions>"));
        if (name.local == "extensions") {
            extensionsDepth_ = 1;
        } else if (name.local == "gpx") {
            sawGpx_ = true;
        } else if (name.local == "trkpt") {
            if (inPoint_)
                return fail(QStringLiteral("точка trkpt внутри другой точки"));
            point_ = Message{};
            std::optional<double> lat, lon;
            for (const XML_Char** a = attributes; a[0]; a += 2) {
                if (std::string_view(a[0]) == "lat")
                    lat = decimal(a[1]);
                else if (std::string_view(a[0]) == "lon")
                    lon = decimal(a[1]);
            }
            if (!lat || !lon || !std::isfinite(*lat) || !std::isfinite(*lon) || std::abs(*lat) > 90 ||
                std::abs(*lon) > 180)
                return fail(QStringLiteral("точка без правильных координат lat/lon"));
            point_.lat = *lat;
            point_.lon = *lon;
            inPoint_ = true;
            hasTime_ = false;
        } else if (inPoint_ && (name.local == "time" || name.local == "speed")) {
            value_ = name.local == "time" ? Value::Time : Value::Speed;
            text_.clear();
        }
    }

    void end(const Name& name) {
        if (value_ == Value::Time) {
            value_ = Value::None;
            std::optional<qint64> utc = fastUtcMilliseconds(text_);
            if (!utc) {
                const QString text = QString::fromUtf8(text_.data(), qsizetype(text_.size()));
                const QDateTime moment = QDateTime::fromString(text, Qt::ISODateWithMs);
                if (!moment.isValid())
                    return fail(QStringLiteral("неверное время «") + text + QStringLiteral("»"));
                utc = moment.toMSecsSinceEpoch();
            }
            point_.time = clock_.fromUtc(*utc);
            hasTime_ = true;
        } else if (value_ == Value::Speed) {
            value_ = Value::None;
            const std::optional<double> metresPerSecond = decimal(text_);
            if (!metresPerSecond || !std::isfinite(*metresPerSecond) || *metresPerSecond < 0 ||
                *metresPerSecond > kFastestMetresPerSecond)
                return fail(QStringLiteral("неверная скорость (нужно от 0 до %1 м/с)").arg(kFastestMetresPerSecond));
            point_.speed = *metresPerSecond * 3.6;
        } else if (extensionsDepth_ > 0) {
            --extensionsDepth_;
        } else if (name.local == "trkpt") {
            if (!hasTime_)
                return fail(QStringLiteral("точка без времени"));
            messages_.push_back(point_);
            inPoint_ = false;
            if (messages_.size() == kChunkPoints)
                deliver();
        }
    }

    QString path_;
    Deliver deliver_;
    size_t delivered_ = 0;
    XML_Parser parser_;
    std::optional<QString> failure_;
    LocalClock clock_;
    std::vector<Message> messages_;
    Message point_;
    bool sawGpx_ = false, inPoint_ = false, hasTime_ = false;
    int extensionsDepth_ = 0; // inside <extensions>, where other namespaces belong
    Value value_ = Value::None;
    std::string text_;
};

} // namespace

namespace {
bool earlier(const Message& a, const Message& b) { return a.time < b.time; }

// In time order, keeping the file's order of equal times; a recording mostly is already.
void sortByTime(std::vector<Message>& messages) {
    if (!std::is_sorted(messages.begin(), messages.end(), earlier))
        std::stable_sort(messages.begin(), messages.end(), earlier);
}

// Chunks of points from the reading thread to the storing one, in the files' order. A few
// chunks at most wait: the reader then waits for the storing, and takes the vectors it has
// emptied, whose memory is already in place.
class ChunkQueue {
public:
    // Takes the reader's chunk and leaves it an emptied one to fill; false once cancelled.
    bool push(std::vector<Message>& chunk) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return chunks_.size() < kWaiting || cancelled_; });
        if (cancelled_)
            return false;
        chunks_.push_back(std::move(chunk));
        chunk = {};
        if (!emptied_.empty()) {
            chunk = std::move(emptied_.back());
            emptied_.pop_back();
        }
        changed_.notify_all();
        return true;
    }
    void finish(std::exception_ptr error) {
        const std::lock_guard lock(mutex_);
        finished_ = true;
        error_ = error;
        changed_.notify_all();
    }
    void cancel() {
        const std::lock_guard lock(mutex_);
        cancelled_ = true;
        changed_.notify_all();
    }
    // The next chunk; nothing once every file is read. A file's error is thrown here, after the
    // chunks read before it.
    std::optional<std::vector<Message>> pop() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !chunks_.empty() || finished_; });
        if (!chunks_.empty()) {
            std::vector<Message> chunk = std::move(chunks_.front());
            chunks_.pop_front();
            changed_.notify_all();
            return chunk;
        }
        if (error_)
            std::rethrow_exception(error_);
        return std::nullopt;
    }
    // A stored chunk's vector, for the reader to fill again.
    void giveBack(std::vector<Message>&& chunk) {
        chunk.clear();
        const std::lock_guard lock(mutex_);
        if (emptied_.size() < kWaiting + 1)
            emptied_.push_back(std::move(chunk));
    }

private:
    static constexpr size_t kWaiting = 4;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<Message>> chunks_;
    std::vector<std::vector<Message>> emptied_;
    bool finished_ = false, cancelled_ = false;
    std::exception_ptr error_;
};

// Opens the import's transaction with the group and the car in place, other writers held off,
// and returns the device's vehicle as it was. A device of a vehicle of another name (without
// --append) or of another group is refused, and nothing is left open.
void checkTarget(const GpxImportTarget& target) {
    if (target.group.isEmpty() || target.car.isEmpty() || target.device <= 0)
        throw VantrelError(QStringLiteral("Нужны группа, название машины и номер прибора больше нуля"));
}

std::optional<Car> beginImport(Store& store, const GpxImportTarget& target) {
    store.begin();
    try {
        store.lockForWriters();
        const std::optional<Car> existing = store.carOfDevice(target.device);
        if (existing && !target.append &&
            !(existing->name == target.car && (target.number.isEmpty() || existing->number == target.number)))
            throw VantrelError(QStringLiteral("Прибор %1 уже принадлежит машине «%2» (номер «%3»); чтобы "
                                              "добавить точки к ней, укажите --append")
                                   .arg(QString::number(target.device), existing->name, existing->number));
        const QString groupId = store.ensureGroup(target.group);
        if (existing && existing->groupId != groupId)
            throw VantrelError(QStringLiteral("Прибор %1 уже принадлежит машине «%2» другой группы")
                                   .arg(QString::number(target.device), existing->name));
        if (!existing)
            store.addCar({0, groupId, target.car, target.number, target.device, QString()});
        return existing;
    } catch (...) {
        store.rollback();
        throw;
    }
}

// Whether two messages say the same: the same moment, place and speed. Points of equal times
// at other places are both kept (a device may report twice in a second).
bool sameMessage(const Message& a, const Message& b) {
    const auto same = [](double x, double y, double tolerance) {
        return std::isnan(x) ? std::isnan(y) : std::abs(x - y) <= tolerance;
    };
    return datetime::milliseconds(a.time) == datetime::milliseconds(b.time) && same(a.lon, b.lon, 1e-9) &&
           same(a.lat, b.lat, 1e-9) && same(a.speed, b.speed, 1e-6);
}

// Stores the time-ordered points not stored yet: a point the device has stored, or that
// repeats the point before (`previous`, carried from call to call), is skipped. Both lists are
// in time order, so one pass along them finds every repeat.
qint64 storeFresh(Store& store, int device, bool deviceHadMessages, const std::vector<Message>& points,
                  std::optional<Message>& previous) {
    std::vector<Message> stored;
    if (deviceHadMessages)
        stored = store.messages(device, points.front().time, points.back().time);
    std::vector<Message> fresh; // filled only once a point is skipped: most imports store every one
    bool skipped = false;
    auto next = stored.begin();
    const auto before = [](const Message& m, qint64 at) { return datetime::milliseconds(m.time) < at; };
    for (size_t i = 0; i < points.size(); ++i) {
        const Message& m = points[i];
        const qint64 at = datetime::milliseconds(m.time);
        next = std::lower_bound(next, stored.end(), at, before);
        bool known = previous && sameMessage(*previous, m);
        for (auto same = next; !known && same != stored.end() && datetime::milliseconds(same->time) == at; ++same)
            known = sameMessage(*same, m);
        if (known && !skipped) {
            skipped = true;
            fresh.assign(points.begin(), points.begin() + std::ptrdiff_t(i));
        } else if (!known && skipped) {
            fresh.push_back(m);
        }
        previous = m;
    }
    const std::vector<Message>& kept = skipped ? fresh : points;
    store.addMessages(device, kept);
    return qint64(kept.size());
}

} // namespace

std::vector<Message> readGpx(const QString& path) {
    std::vector<Message> messages;
    GpxReader(path, [&](std::vector<Message>& chunk) {
        messages.insert(messages.end(), chunk.begin(), chunk.end());
        chunk.clear();
        return true;
    }).read();
    sortByTime(messages);
    return messages;
}

GpxImportSummary importGpx(Store& store, const GpxImportTarget& target, const QStringList& files) {
    checkTarget(target);
    // The files are read on a thread of their own while what is read so far is stored. A file's
    // error still comes before any refusal of the vehicle, as when every file was read first.
    ChunkQueue queue;
    std::jthread reading([&queue, files] {
        try {
            for (const QString& file : files)
                GpxReader(file, [&](std::vector<Message>& chunk) {
                    return queue.push(chunk);
                }).read();
            queue.finish(nullptr);
        } catch (...) {
            queue.finish(std::current_exception());
        }
    });
    const struct StopReading {
        ChunkQueue& queue;
        ~StopReading() { queue.cancel(); } // before the thread is joined, on every way out
    } stopReading{queue};

    std::optional<Car> existing;
    std::exception_ptr refusal;
    try {
        existing = beginImport(store, target);
    } catch (const VantrelError&) {
        refusal = std::current_exception();
    }

    // Stored chunk by chunk while the recording keeps its time order. One that does not is read
    // again whole and stored sorted, from its first point: recorders write in time order, and
    // keeping every chunk for the rare one that does not would cost the others their memory.
    qint64 count = 0;
    bool inOrder = true;
    double first = 0, last = 0;
    GpxImportSummary summary;
    std::optional<Message> previous;
    try {
        while (std::optional<std::vector<Message>> chunk = queue.pop()) {
            inOrder = inOrder && std::is_sorted(chunk->begin(), chunk->end(), earlier) &&
                      (count == 0 || last <= chunk->front().time);
            if (count == 0)
                first = chunk->front().time;
            count += qint64(chunk->size());
            last = chunk->back().time;
            if (inOrder && !refusal)
                summary.added += storeFresh(store, target.device, existing.has_value(), *chunk, previous);
            queue.giveBack(std::move(*chunk));
        }
    } catch (...) {
        if (!refusal) // a refusal left no transaction open
            store.rollback();
        throw;
    }
    if (refusal)
        std::rethrow_exception(refusal);
    std::vector<Message> points;
    if (!inOrder) {
        store.rollback();
        for (const QString& file : files) {
            const std::vector<Message> read = readGpx(file);
            points.insert(points.end(), read.begin(), read.end());
        }
        sortByTime(points);
        first = points.front().time;
        last = points.back().time;
        previous.reset();
        existing = beginImport(store, target);
    }
    try {
        if (!inOrder)
            summary.added = storeFresh(store, target.device, existing.has_value(), points, previous);
        summary.skipped = count - summary.added;
        summary.first = first;
        summary.last = last;
        store.commit();
    } catch (...) {
        store.rollback();
        throw;
    }
    return summary;
}

GpxImportSummary importMessages(Store& store, const GpxImportTarget& target, std::vector<Message> points) {
    checkTarget(target);
    GpxImportSummary summary;
    if (points.empty())
        return summary;
    sortByTime(points);
    const std::optional<Car> existing = beginImport(store, target);
    try {
        std::optional<Message> previous;
        summary.added = storeFresh(store, target.device, existing.has_value(), points, previous);
        summary.skipped = qint64(points.size()) - summary.added;
        summary.first = points.front().time;
        summary.last = points.back().time;
        store.commit();
    } catch (...) {
        store.rollback();
        throw;
    }
    return summary;
}

} // namespace vserver
