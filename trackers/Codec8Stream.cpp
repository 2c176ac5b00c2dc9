#include "Codec8Stream.h"

#include <array>
#include <cstring>

namespace trackers {
namespace {

constexpr uint8_t kCodec8 = 0x08, kCodec8Extended = 0x8E;
constexpr int kImeiMaxDigits = 20;
constexpr size_t kTypicalPacketBytes = 1024; // ten records with a few I/O elements each

// Reads big-endian fields from a bounded range; every read past the end is a failure.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : at_(data), end_(data + size) {}
    bool has(size_t n) const { return size_t(end_ - at_) >= n; }
    bool skip(size_t n) {
        if (!has(n))
            return false;
        at_ += n;
        return true;
    }
    template <typename T> bool read(T& value, int bytes = sizeof(T)) {
        if (!has(size_t(bytes)))
            return false;
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v = (v << 8) | *at_++;
        value = T(v);
        return true;
    }
    size_t left() const { return size_t(end_ - at_); }

private:
    const uint8_t* at_;
    const uint8_t* end_;
};

// The I/O elements of one record; reads digital inputs 1-4 (ids 1-4) and the external voltage
// (id 66, mV). `extended`: 2-byte ids and counts, and variable-length elements.
bool readElements(Reader& r, bool extended, TrackerPosition& p) {
    const int wide = extended ? 2 : 1;
    uint16_t eventId = 0, total = 0;
    if (!r.read(eventId, wide) || !r.read(total, wide))
        return false;
    int seen = 0;
    for (int bytes : {1, 2, 4, 8}) {
        uint16_t n = 0;
        if (!r.read(n, wide))
            return false;
        for (int i = 0; i < n; ++i) {
            uint16_t id = 0;
            uint64_t value = 0;
            if (!r.read(id, wide) || !r.read(value, bytes))
                return false;
            if (id >= 1 && id <= 4 && value != 0)
                p.sensors |= 1 << (id - 1);
            if (id == 66)
                p.power = value >= 6000; // below 6 V the vehicle's power is off
        }
        seen += n;
    }
    if (extended) {
        uint16_t n = 0;
        if (!r.read(n))
            return false;
        for (int i = 0; i < n; ++i) {
            uint16_t id = 0, length = 0;
            if (!r.read(id) || !r.read(length) || !r.skip(length))
                return false;
        }
        seen += n;
    }
    return seen == total;
}

} // namespace

quint16 crc16Ibm(const uint8_t* data, size_t size) {
    static const auto table = [] {
        std::array<quint16, 256> t{};
        for (unsigned byte = 0; byte < 256; ++byte) {
            quint16 crc = quint16(byte);
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
            t[byte] = crc;
        }
        return t;
    }();
    quint16 crc = 0;
    for (size_t i = 0; i < size; ++i)
        crc = quint16((crc >> 8) ^ table[(crc ^ data[i]) & 0xff]);
    return crc;
}

QString Codec8Stream::decodeData(const uint8_t* data, size_t size, std::vector<TrackerPosition>& records, int& count) {
    Reader r(data, size);
    uint8_t codec = 0, first = 0, last = 0;
    if (!r.read(codec) || !r.read(first))
        return QStringLiteral("пакет короче заголовка");
    if (codec != kCodec8 && codec != kCodec8Extended)
        return QStringLiteral("кодек 0x%1 не поддерживается").arg(codec, 2, 16, QLatin1Char('0'));
    count = first;
    if (first == 0)
        return QStringLiteral("в пакете ноль записей");
    if (!r.has(size_t(first) * 24 + 1)) // the smallest record is 24 bytes of Codec 8
        return QStringLiteral("длина данных меньше, чем нужно на %1 записей").arg(first);
    records.clear();
    records.reserve(first);
    for (int i = 0; i < first; ++i) {
        TrackerPosition p;
        uint64_t time = 0;
        uint8_t priority = 0, satellites = 0;
        int32_t lon = 0, lat = 0;
        int16_t altitude = 0;
        uint16_t angle = 0, speed = 0;
        if (!r.read(time) || !r.read(priority) || !r.read(lon) || !r.read(lat) || !r.read(altitude) ||
            !r.read(angle) || !r.read(satellites) || !r.read(speed))
            return QStringLiteral("запись %1 обрезана").arg(i + 1);
        if (time > uint64_t(INT64_MAX))
            return QStringLiteral("время записи %1 вне диапазона").arg(i + 1);
        p.timeMs = qint64(time);
        p.lon = lon / 1e7;
        p.lat = lat / 1e7;
        p.altitude = altitude;
        p.heading = angle;
        p.satellites = satellites;
        p.speedKmh = speed;
        p.fix = satellites > 0 && (lon != 0 || lat != 0);
        if (!readElements(r, codec == kCodec8Extended, p))
            return QStringLiteral("элементы ввода-вывода записи %1 не сходятся со счётчиками").arg(i + 1);
        records.push_back(p);
    }
    if (!r.read(last))
        return QStringLiteral("нет второго счётчика записей");
    if (last != first)
        return QStringLiteral("счётчики записей не совпадают (%1 и %2)").arg(first).arg(last);
    if (r.left() != 0)
        return QStringLiteral("после записей лишние %1 байт").arg(r.left());
    return {};
}

void Codec8Stream::feed(const char* data, qsizetype size) {
    if (ended_ || size <= 0)
        return;
    if (start_ > 0 && start_ * 2 >= buffer_.size()) { // keep the unread tail at the front
        buffer_.erase(buffer_.begin(), buffer_.begin() + std::ptrdiff_t(start_));
        start_ = 0;
    }
    if (buffer_.capacity() < kTypicalPacketBytes) // one allocation for a usual packet, not a few growths
        buffer_.reserve(kTypicalPacketBytes);
    buffer_.insert(buffer_.end(), data, data + size);
}

Codec8Stream::Event Codec8Stream::fatal(const QString& reason) {
    ended_ = true;
    buffer_.clear();
    buffer_.shrink_to_fit();
    start_ = 0;
    Event e;
    e.kind = Event::Fatal;
    e.reason = reason;
    return e;
}

Codec8Stream::Event Codec8Stream::next() {
    Event e;
    if (ended_)
        return e;
    if (buffered() > 2 * kMaxPacketBytes)
        return fatal(QStringLiteral("прибор прислал больше, чем помещается в пакет"));
    const uint8_t* at = buffer_.data() + start_;
    const size_t have = buffer_.size() - start_;
    if (!identified_) {
        if (have < 2)
            return e;
        const size_t length = size_t(at[0]) << 8 | at[1];
        if (length == 0 || length > kImeiMaxDigits)
            return fatal(QStringLiteral("приветствие с длиной IMEI %1").arg(length));
        if (have < 2 + length)
            return e;
        for (size_t i = 0; i < length; ++i)
            if (at[2 + i] < '0' || at[2 + i] > '9')
                return fatal(QStringLiteral("IMEI в приветствии не из цифр"));
        const QString ident = QString::fromLatin1(reinterpret_cast<const char*>(at + 2), qsizetype(length));
        start_ += 2 + length;
        identified_ = true;
        e.kind = Event::Identified;
        e.ident = ident;
        return e;
    }
    if (have < 8)
        return e;
    if (at[0] != 0 || at[1] != 0 || at[2] != 0 || at[3] != 0)
        return fatal(QStringLiteral("пакет без четырёх нулевых байтов в начале"));
    const uint32_t length = uint32_t(at[4]) << 24 | uint32_t(at[5]) << 16 | uint32_t(at[6]) << 8 | at[7];
    if (length > uint32_t(kMaxDataLength))
        return fatal(QStringLiteral("длина данных %1 байт больше допустимой").arg(length));
    if (length < 3)
        return fatal(QStringLiteral("длина данных %1 байт меньше заголовка").arg(length));
    if (have < 12 + size_t(length))
        return e;
    const uint8_t* data = at + 8;
    const uint32_t sentCrc = uint32_t(data[length]) << 24 | uint32_t(data[length + 1]) << 16 |
                             uint32_t(data[length + 2]) << 8 | data[length + 3];
    start_ += 12 + length;
    if (sentCrc != crc16Ibm(data, length)) {
        e.kind = Event::BadPacket;
        e.reason = QStringLiteral("контрольная сумма пакета не сходится");
        return e;
    }
    e.reason = decodeData(data, length, e.records, e.count);
    e.kind = e.reason.isEmpty() ? Event::Packet : Event::BadPacket;
    if (e.kind == Event::BadPacket)
        e.records.clear();
    if (start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    }
    return e;
}

} // namespace trackers
