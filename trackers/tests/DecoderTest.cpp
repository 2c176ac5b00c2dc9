// The decoders on real byte sequences: the hardware maker's documented examples of Codec 8 and
// Codec 8 Extended, and the phone apps' requests.
#include "Codec8Bytes.h"
#include "OsmAndDecoder.h"
#include "DateTimeValue.h"
#include "PositionCheck.h"

#include <QDateTime>
#include <gtest/gtest.h>

using namespace trackers;
using Event = Codec8Stream::Event;

namespace {

const QByteArray kHello = QByteArray::fromHex("000F333536333037303432343431303133");
const QByteArray kCodec8 = QByteArray::fromHex(
    "000000000000003608010000016B40D8EA30010000000000000000000000000000000105021503010101425E0F01F10000601A014E0000"
    "000000000000010000C7CF");
const QByteArray kCodec8Extended = QByteArray::fromHex(
    "000000000000004A8E010000016B412CEE000100000000000000000000000000000000010005000100010100010011001D00010010015E"
    "2C880002000B000000003544C87A000E000000001DD7E06A00000100002994");

std::vector<Event> events(Codec8Stream& stream, const QByteArray& bytes, int chunk = 1 << 20) {
    std::vector<Event> out;
    for (qsizetype at = 0; at < bytes.size(); at += chunk) {
        stream.feed(bytes.constData() + at, std::min<qsizetype>(chunk, bytes.size() - at));
        for (Event e = stream.next(); e.kind != Event::NeedMore; e = stream.next())
            out.push_back(std::move(e));
    }
    return out;
}

// The documented packet's data field with one byte changed, framed again with a right CRC.
QByteArray reframed(const QByteArray& packet, int dataIndex, char value) {
    QByteArray data = packet.mid(8, packet.size() - 12);
    data[dataIndex] = value;
    return avlPacket(data);
}

} // namespace

TEST(Codec8, DocumentedPacketsDecodeWholeOrByteByByte) {
    for (int chunk : {1, 7, 1 << 20}) {
        Codec8Stream stream;
        const std::vector<Event> got = events(stream, kHello + kCodec8 + kCodec8Extended, chunk);
        ASSERT_EQ(got.size(), 3u) << chunk;
        EXPECT_EQ(got[0].kind, Event::Identified);
        EXPECT_EQ(got[0].ident, QStringLiteral("356307042441013"));
        ASSERT_EQ(got[1].kind, Event::Packet) << qPrintable(got[1].reason);
        ASSERT_EQ(got[1].records.size(), 1u);
        EXPECT_EQ(got[1].count, 1);
        const TrackerPosition& p = got[1].records[0];
        EXPECT_EQ(p.timeMs, 0x16B40D8EA30);
        EXPECT_FALSE(p.fix); // no satellites, zero coordinates
        EXPECT_EQ(p.sensors, 1); // I/O 1 (digital input 1) is 1
        EXPECT_TRUE(p.power);    // I/O 66: 24,079 mV
        ASSERT_EQ(got[2].kind, Event::Packet) << qPrintable(got[2].reason);
        EXPECT_EQ(got[2].records[0].timeMs, 0x16B412CEE00);
        EXPECT_EQ(got[2].records[0].sensors, 1);
    }
}

TEST(Codec8, BrokenPacketsAreNotAcknowledgedAndTheStreamGoesOn) {
    QByteArray wrongCrc = kCodec8;
    wrongCrc[wrongCrc.size() - 1] = char(wrongCrc.back() ^ 1);
    const QByteArray lyingCount = reframed(kCodec8, 1, 2);      // announces 2, holds 1
    const QByteArray secondCount = reframed(kCodec8, 53, 3);    // the closing count differs
    const QByteArray ioCount = reframed(kCodec8, 27, 9);        // the I/O total disagrees
    const QByteArray codec12 = reframed(kCodec8, 0, 0x0C);
    const QByteArray zero = avlPacket(QByteArray::fromHex("080000"));
    for (const QByteArray& bad : {wrongCrc, lyingCount, secondCount, ioCount, codec12, zero}) {
        Codec8Stream stream;
        const std::vector<Event> got = events(stream, kHello + bad + kCodec8);
        ASSERT_EQ(got.size(), 3u);
        EXPECT_EQ(got[1].kind, Event::BadPacket);
        EXPECT_TRUE(got[1].records.empty());
        EXPECT_FALSE(got[1].reason.isEmpty());
        EXPECT_EQ(got[2].kind, Event::Packet);
    }
}

TEST(Codec8, UnframableInputEndsTheStreamWithinItsBound) {
    const QByteArray cases[] = {
        QByteArray::fromHex("0000"),                           // an empty IMEI
        QByteArray::fromHex("0003414243"),                     // letters
        QByteArray::fromHex("FFFF"),                           // 65,535 digits announced
        kHello + QByteArray::fromHex("000000007FFFFFFF"),      // 2 GB of data announced
        kHello + QByteArray::fromHex("0000000000010000"),      // just above 64 KB
        kHello + QByteArray::fromHex("0000000000000001"),      // shorter than the header
        kHello + QByteArray::fromHex("0102030400000036"),      // no preamble
    };
    for (const QByteArray& bytes : cases) {
        Codec8Stream stream;
        const std::vector<Event> got = events(stream, bytes);
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got.back().kind, Event::Fatal) << bytes.toHex().constData();
        stream.feed(kCodec8.constData(), kCodec8.size());
        EXPECT_EQ(stream.next().kind, Event::NeedMore);
        EXPECT_EQ(stream.buffered(), 0);
    }
    Codec8Stream stream; // the largest packet allowed is waited for, whole
    events(stream, kHello + QByteArray::fromHex("000000000000") + char(0xff) + char(0xf4) + QByteArray(60000, 'x'));
    EXPECT_GT(stream.buffered(), 60000);
    EXPECT_LE(stream.room(), Codec8Stream::kMaxPacketBytes - stream.buffered());
}

TEST(OsmAnd, QueryFormAndJsonGiveTheSamePosition) {
    const auto query = OsmAndDecoder::decode(
        "id=phone%201&lat=55.7558&lon=37.6173&timestamp=1700000000&speed=10&bearing=90.5&altitude=150&batt=80", "", "");
    ASSERT_TRUE(query.position) << qPrintable(query.refusal);
    EXPECT_EQ(query.position->ident, QStringLiteral("phone 1"));
    EXPECT_DOUBLE_EQ(query.position->position.lat, 55.7558);
    EXPECT_DOUBLE_EQ(query.position->position.lon, 37.6173);
    EXPECT_EQ(query.position->position.timeMs, 1700000000000);
    EXPECT_DOUBLE_EQ(query.position->position.speedKmh, 18.52); // knots
    EXPECT_DOUBLE_EQ(query.position->position.heading, 90.5);

    const auto form = OsmAndDecoder::decode("", "application/x-www-form-urlencoded",
                                            "deviceid=phone+1&lat=55.7558&lon=37.6173&timestamp=1700000000000");
    ASSERT_TRUE(form.position) << qPrintable(form.refusal);
    EXPECT_EQ(form.position->ident, QStringLiteral("phone 1"));
    EXPECT_EQ(form.position->position.timeMs, 1700000000000);

    const auto json = OsmAndDecoder::decode("", "application/json", R"({"device_id":"phone 1","location":{
        "timestamp":"2023-11-14T22:13:20.000Z","coords":{"latitude":55.7558,"longitude":37.6173,"speed":5,"heading":-1}}})");
    ASSERT_TRUE(json.position) << qPrintable(json.refusal);
    EXPECT_EQ(json.position->position.timeMs, 1700000000000);
    EXPECT_DOUBLE_EQ(json.position->position.speedKmh, 18); // m/s
    EXPECT_FALSE(std::isfinite(json.position->position.heading)); // -1: unknown
}

TEST(OsmAnd, TimestampsInEveryFormTheAppsSend) {
    EXPECT_EQ(OsmAndDecoder::parseTimestamp("1700000000"), 1700000000000);
    EXPECT_EQ(OsmAndDecoder::parseTimestamp("1700000000.25"), 1700000000250);
    EXPECT_EQ(OsmAndDecoder::parseTimestamp("1700000000123"), 1700000000123);
    EXPECT_EQ(OsmAndDecoder::parseTimestamp("2023-11-14T22:13:20Z"), 1700000000000);
    EXPECT_EQ(OsmAndDecoder::parseTimestamp("2023-11-14T22:13:20"), 1700000000000); // UTC unless said
    EXPECT_EQ(OsmAndDecoder::parseTimestamp("2023-11-15T01:13:20+03:00"), 1700000000000);
    for (const char* bad : {"", "-5", "yesterday", "1e400", "2023-13-45T99:00:00Z"})
        EXPECT_FALSE(OsmAndDecoder::parseTimestamp(bad)) << bad;
}

TEST(OsmAnd, RefusesRequestsThatAreNotOneWholePosition) {
    const char* cases[] = {
        "id=1&lat=55&lon=37",                                  // no time
        "id=1&lat=55&lat=56&lon=37&timestamp=1700000000",      // repeated
        "id=1&deviceid=2&lat=55&lon=37&timestamp=1700000000",  // two identifiers
        "lat=55&lon=37&timestamp=1700000000",                  // no identifier
        "id=1&lat=north&lon=37&timestamp=1700000000",
        "id=1&lat=55&lon=37&timestamp=1700000000&speed=fast",
        "id=1&lat=nan&lon=37&timestamp=1700000000",
    };
    for (const char* query : cases)
        EXPECT_FALSE(OsmAndDecoder::decode(query, "", "").position) << query;
    EXPECT_FALSE(OsmAndDecoder::decode("id=1&lon=37", "", "lat=55&id=1&timestamp=1700000000").position);
    const QByteArray huge = "id=1&lat=55&lon=37&timestamp=1700000000&x=" + QByteArray(1 << 20, 'a');
    const auto tooLarge = OsmAndDecoder::decode(huge, "", "");
    EXPECT_FALSE(tooLarge.position);
    EXPECT_TRUE(tooLarge.refusal.contains(QStringLiteral("64")));
    EXPECT_FALSE(OsmAndDecoder::decode("", "application/json", R"({"device_id":"1","location":{}})").position);
}

TEST(PositionCheck, RefusesOffTheGlobeUnsetClocksAndTheFutureButKeepsOldBuffers) {
    const qint64 now = 1700000000000;
    TrackerPosition p;
    p.lat = 55;
    p.lon = 37;
    p.timeMs = now - 3LL * 365 * 86400000; // years in a tracker's buffer
    EXPECT_TRUE(refusalOf(p, now).isEmpty());
    for (const auto& change : std::initializer_list<std::function<void(TrackerPosition&)>>{
             [](TrackerPosition& q) { q.lat = 90.5; }, [](TrackerPosition& q) { q.lon = -181; },
             [](TrackerPosition& q) { q.timeMs = 0; }, [now](TrackerPosition& q) { q.timeMs = now + 86400001; }}) {
        TrackerPosition q = p;
        change(q);
        EXPECT_FALSE(refusalOf(q, now).isEmpty());
    }
}

TEST(PositionCheck, StoredTimesAreTheLocalWallClockAcrossAClockChange) {
    // Moscow moved its clocks on 29.03.2009 at 02:00 local (23:00 UTC the day before).
    const qint64 change = QDateTime(QDate(2009, 3, 28), QTime(23, 0), Qt::UTC).toMSecsSinceEpoch();
    for (qint64 ms = change - 3600000; ms <= change + 3600000; ms += 299999) {
        TrackerPosition p;
        p.timeMs = ms;
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toLocalTime();
        EXPECT_EQ(datetime::toQDateTime(toMessage(p).time), QDateTime(local.date(), local.time(), Qt::UTC)) << ms;
    }
}
