// A million generated inputs per decoder: valid packets and requests decode to exactly what was
// encoded; mutated, truncated and random ones are refused without a crash, a half position or
// more memory than the bound.
#include "Codec8Bytes.h"
#include "OsmAndDecoder.h"

#include <QByteArray>
#include <cmath>
#include <gtest/gtest.h>

using namespace trackers;
using Event = Codec8Stream::Event;

namespace {

constexpr int kInputs = 1000000;

// A small fast generator (xorshift64*): the inputs, not the generator, should take the time.
struct Random {
    quint64 state;
    quint64 operator()() {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 2685821657736338717ULL;
    }
};

void big(QByteArray& out, quint64 value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out += char((value >> (8 * i)) & 0xff);
}

// A random valid record of either codec; `expected` is what it must decode to.
void randomRecord(Random& random, bool extended, QByteArray& out, TrackerPosition& expected) {
    expected = {};
    expected.timeMs = qint64(random() % 4000000000000ULL);
    const qint32 lon = qint32(qint64(random() % 3600000001ULL) - 1800000000);
    const qint32 lat = qint32(qint64(random() % 1800000001ULL) - 900000000);
    const int satellites = int(random() % 20);
    const int speed = int(random() % 300);
    big(out, quint64(expected.timeMs), 8);
    out += char(random() % 3);
    big(out, quint32(lon), 4);
    big(out, quint32(lat), 4);
    big(out, random() % 65536, 2);
    big(out, random() % 360, 2);
    out += char(satellites);
    big(out, quint64(speed), 2);
    expected.lon = lon / 1e7;
    expected.lat = lat / 1e7;
    expected.speedKmh = speed;
    const int wide = extended ? 2 : 1;
    QByteArray elements;
    int total = 0;
    for (int bytes : {1, 2, 4, 8}) {
        const int n = int(random() % 4) / 2;
        big(elements, quint64(n), wide);
        for (int i = 0; i < n; ++i) {
            const int id = int(random() % 8);
            const quint64 value = random() & (bytes == 8 ? ~0ULL : (1ULL << (8 * bytes)) - 1);
            big(elements, quint64(id), wide);
            big(elements, value, bytes);
            if (id >= 1 && id <= 4 && value)
                expected.sensors |= 1 << (id - 1);
        }
        total += n;
    }
    if (extended) {
        const int n = int(random() % 2);
        big(elements, quint64(n), 2);
        for (int i = 0; i < n; ++i) {
            const int length = int(random() % 5);
            big(elements, 300, 2);
            big(elements, quint64(length), 2);
            elements += QByteArray(length, 'v');
        }
        total += n;
    }
    big(out, random() % 256, wide);
    big(out, quint64(total), wide);
    out += elements;
}

} // namespace

TEST(DecoderFuzz, Codec8) {
    Random random{20261210};
    // Valid packets made once, then sent whole or mutated: the decoding, not the making, is tried.
    struct Valid {
        QByteArray bytes;
        std::vector<TrackerPosition> records;
    };
    std::vector<Valid> pool(4096);
    for (Valid& v : pool) {
        const bool extended = random() % 2;
        const int count = 1 + int(random() % 3);
        QByteArray data(1, char(extended ? 0x8E : 0x08));
        data += char(count);
        v.records.resize(size_t(count));
        for (TrackerPosition& p : v.records)
            randomRecord(random, extended, data, p);
        data += char(count);
        v.bytes = avlPacket(data);
    }
    const QByteArray hello = imeiHello("356307042441013");
    qint64 packets = 0, refused = 0;
    for (int input = 0; input < kInputs;) {
        Codec8Stream stream;
        stream.feed(hello.constData(), hello.size());
        ASSERT_EQ(stream.next().kind, Event::Identified);
        for (int inStream = 0; inStream < 64 && input < kInputs; ++inStream, ++input) {
            const Valid& valid = pool[random() % pool.size()];
            QByteArray bytes = valid.bytes;
            const int mutation = int(random() % 4);
            if (mutation == 1) {
                bytes[qsizetype(random() % quint64(bytes.size()))] = char(random());
            } else if (mutation == 2) {
                bytes.truncate(qsizetype(random() % quint64(bytes.size())));
            } else if (mutation == 3) {
                bytes = QByteArray(qsizetype(random() % 64), '\0');
                for (char& c : bytes)
                    c = char(random());
            }
            for (qsizetype at = 0; at < bytes.size();) {
                const qsizetype chunk = std::min<qsizetype>(bytes.size() - at, 1 + qsizetype(random() % 400));
                stream.feed(bytes.constData() + at, chunk);
                at += chunk;
            }
            ASSERT_LE(stream.buffered(), Codec8Stream::kMaxPacketBytes);
            for (Event e = stream.next(); e.kind != Event::NeedMore; e = stream.next()) {
                if (e.kind == Event::Packet) {
                    ++packets;
                    ASSERT_EQ(int(e.records.size()), e.count);
                    if (mutation == 0) {
                        ASSERT_EQ(e.records.size(), valid.records.size());
                        for (size_t i = 0; i < e.records.size(); ++i) {
                            ASSERT_EQ(e.records[i].timeMs, valid.records[i].timeMs);
                            ASSERT_EQ(e.records[i].lat, valid.records[i].lat);
                            ASSERT_EQ(e.records[i].lon, valid.records[i].lon);
                            ASSERT_EQ(e.records[i].sensors, valid.records[i].sensors);
                        }
                    }
                } else {
                    ++refused;
                    ASSERT_TRUE(e.records.empty());
                    ASSERT_NE(mutation, 0) << qPrintable(e.reason);
                }
            }
            if (mutation != 0) // a broken frame ends or desynchronises the stream: start again
                break;
        }
    }
    EXPECT_GT(packets, kInputs / 8);
    EXPECT_GT(refused, kInputs / 8);
}

TEST(DecoderFuzz, OsmAnd) {
    Random random{5055};
    const char* names[] = {"id", "deviceid", "lat", "lon", "timestamp", "speed", "bearing", "heading", "altitude", "batt", "x"};
    const char* junk[] = {"", "nan", "inf", "-", "1e309", "%", "%zz", "+", "&", "=", "2023-01-01T00:00:00Z", "\xff\xfe"};
    // Requests made once: valid ones (kind 0), pairs of known names with good or bad values (1),
    // random bytes (2) and JSON bodies cut anywhere (3); then sent as made or with a byte changed.
    struct Made {
        int kind;
        QByteArray text;
        double lat, lon;
        qint64 seconds;
    };
    std::vector<Made> pool(8192);
    for (size_t i = 0; i < pool.size(); ++i) {
        Made& m = pool[i];
        m.kind = i % 8 == 7 ? 3 : int(i % 3); // JSON an eighth, the rest alike
        m.lat = double(qint64(random() % 180000000) - 90000000) / 1e6;
        m.lon = double(qint64(random() % 360000000) - 180000000) / 1e6;
        m.seconds = qint64(random() % 2000000000);
        if (m.kind == 0) {
            m.text = "id=t" + QByteArray::number(int(i)) + "&lat=" + QByteArray::number(m.lat, 'g', 17) + "&lon=" +
                     QByteArray::number(m.lon, 'g', 17) + "&timestamp=" + QByteArray::number(m.seconds);
        } else if (m.kind == 1) {
            const int n = int(random() % 8);
            for (int k = 0; k < n; ++k) {
                m.text += names[random() % std::size(names)];
                m.text += '=';
                m.text += random() % 2 ? QByteArray(junk[random() % std::size(junk)]) : QByteArray::number(double(random() % 1000) - 500);
                m.text += '&';
            }
        } else if (m.kind == 2) {
            m.text = QByteArray(qsizetype(random() % 48), '\0');
            for (char& c : m.text)
                c = char(random());
        } else {
            m.text = R"({"device_id":"j","location":{"timestamp":)" + QByteArray::number(m.seconds) +
                     R"(,"coords":{"latitude":)" + QByteArray::number(m.lat, 'g', 17) + R"(,"longitude":)" +
                     QByteArray::number(m.lon, 'g', 17) + "}}}";
            m.text.truncate(qsizetype(random() % quint64(m.text.size() + 1)));
        }
    }
    qint64 decoded = 0;
    for (int input = 0; input < kInputs; ++input) {
        const Made& m = pool[random() % pool.size()];
        QByteArray text = m.text;
        const bool changed = m.kind != 0 && !text.isEmpty() && random() % 2;
        if (changed)
            text[qsizetype(random() % quint64(text.size()))] = char(random());
        const OsmAndResult r = m.kind == 3   ? OsmAndDecoder::decode("", "application/json", text)
                               : random() % 2 ? OsmAndDecoder::decode("", "", text)
                                              : OsmAndDecoder::decode(text, "", "");
        ASSERT_EQ(bool(r.position), r.refusal.isEmpty());
        if (!r.position) {
            ASSERT_NE(m.kind, 0) << text.constData() << " " << qPrintable(r.refusal);
            continue;
        }
        ++decoded;
        ASSERT_FALSE(r.position->ident.isEmpty());
        ASSERT_LE(r.position->ident.size(), 64);
        ASSERT_TRUE(std::isfinite(r.position->position.lat) && std::isfinite(r.position->position.lon));
        if (m.kind == 0 || (m.kind == 3 && !changed)) {
            if (m.kind == 0) {
                ASSERT_EQ(r.position->position.lat, m.lat);
                ASSERT_EQ(r.position->position.lon, m.lon);
            }
            ASSERT_EQ(r.position->position.timeMs, m.seconds * 1000);
        }
    }
    EXPECT_GT(decoded, kInputs / 4);
}
