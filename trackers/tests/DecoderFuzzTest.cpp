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
    const qint32 lon = qint32(random() % 3600000001ULL) - 1800000000, lat = qint32(random() % 1800000001ULL) - 900000000;
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
    const QByteArray hello = imeiHello("356307042441013");
    qint64 packets = 0, refused = 0;
    for (int input = 0; input < kInputs;) {
        Codec8Stream stream;
        stream.feed(hello.constData(), hello.size());
        ASSERT_EQ(stream.next().kind, Event::Identified);
        for (int inStream = 0; inStream < 64 && input < kInputs; ++inStream, ++input) {
            const bool extended = random() % 2;
            const int count = 1 + int(random() % 2);
            QByteArray data(1, char(extended ? 0x8E : 0x08));
            data += char(count);
            std::vector<TrackerPosition> expected{size_t(count)};
            for (TrackerPosition& p : expected)
                randomRecord(random, extended, data, p);
            data += char(count);
            QByteArray bytes = avlPacket(data);
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
                const qsizetype chunk = std::min<qsizetype>(bytes.size() - at, 1 + qsizetype(random() % 100));
                stream.feed(bytes.constData() + at, chunk);
                at += chunk;
            }
            ASSERT_LE(stream.buffered(), Codec8Stream::kMaxPacketBytes);
            for (Event e = stream.next(); e.kind != Event::NeedMore; e = stream.next()) {
                if (e.kind == Event::Packet) {
                    ++packets;
                    ASSERT_EQ(int(e.records.size()), e.count);
                    if (mutation == 0) {
                        ASSERT_EQ(e.records.size(), expected.size());
                        for (size_t i = 0; i < expected.size(); ++i) {
                            ASSERT_EQ(e.records[i].timeMs, expected[i].timeMs);
                            ASSERT_EQ(e.records[i].lat, expected[i].lat);
                            ASSERT_EQ(e.records[i].lon, expected[i].lon);
                            ASSERT_EQ(e.records[i].sensors, expected[i].sensors);
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
    qint64 decoded = 0;
    for (int input = 0; input < kInputs; ++input) {
        const int kind = int(random() % 4);
        QByteArray query;
        double lat = double(qint64(random() % 180000000) - 90000000) / 1e6;
        double lon = double(qint64(random() % 360000000) - 180000000) / 1e6;
        const qint64 seconds = qint64(random() % 2000000000);
        if (kind == 0) { // valid
            query = "id=t" + QByteArray::number(input % 1000) + "&lat=" + QByteArray::number(lat, 'g', 17) +
                    "&lon=" + QByteArray::number(lon, 'g', 17) + "&timestamp=" + QByteArray::number(seconds);
        } else if (kind == 1) { // pairs of known names with values valid or not
            const int n = int(random() % 8);
            for (int i = 0; i < n; ++i) {
                query += names[random() % std::size(names)];
                query += '=';
                query += random() % 2 ? QByteArray(junk[random() % std::size(junk)]) : QByteArray::number(double(random() % 1000) - 500);
                query += '&';
            }
        } else if (kind == 2) { // random bytes
            query = QByteArray(qsizetype(random() % 48), '\0');
            for (char& c : query)
                c = char(random());
        } else { // JSON, sometimes cut short
            QByteArray json = R"({"device_id":"j","location":{"timestamp":)" + QByteArray::number(seconds) +
                              R"(,"coords":{"latitude":)" + QByteArray::number(lat, 'g', 17) + R"(,"longitude":)" +
                              QByteArray::number(lon, 'g', 17) + "}}}";
            json.truncate(qsizetype(random() % quint64(json.size() + 1)));
            const OsmAndResult r = OsmAndDecoder::decode("", "application/json", json);
            if (r.position) {
                ++decoded;
                ASSERT_EQ(r.position->position.timeMs, seconds * 1000);
            }
            continue;
        }
        const OsmAndResult r = kind == 0 && random() % 2 ? OsmAndDecoder::decode("", "", query) : OsmAndDecoder::decode(query, "", "");
        ASSERT_EQ(bool(r.position), r.refusal.isEmpty());
        if (!r.position) {
            ASSERT_NE(kind, 0) << query.constData() << " " << qPrintable(r.refusal);
            continue;
        }
        ++decoded;
        ASSERT_FALSE(r.position->ident.isEmpty());
        ASSERT_TRUE(std::isfinite(r.position->position.lat) && std::isfinite(r.position->position.lon));
        if (kind == 0) {
            ASSERT_EQ(r.position->position.lat, lat);
            ASSERT_EQ(r.position->position.lon, lon);
            ASSERT_EQ(r.position->position.timeMs, seconds * 1000);
        }
    }
    EXPECT_GT(decoded, kInputs / 4);
}
