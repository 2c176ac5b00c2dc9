// The real server with both listeners on loopback ports, on a private session bus: positions
// are acknowledged only once stored, resends are stored once, broken packets are never
// acknowledged, unknown trackers are turned away, idle connections are closed, and the player's
// signal follows.
#include "Codec8Bytes.h"
#include "DateTimeValue.h"
#include "DeviceRegistry.h"
#include "EventLoopWait.h"
#include "SignalCounter.h"
#include "Store.h"

#include <QDBusConnection>
#include <QDateTime>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <limits>
#include <set>

using namespace vserver;

namespace {

constexpr int kPhone = 501, kTracker = 502;
const QByteArray kImei = "356307042441013";

QByteArray record(qint64 timeMs, double lon, double lat) {
    QByteArray out;
    const auto big = [&out](quint64 v, int bytes) {
        for (int i = bytes - 1; i >= 0; --i)
            out += char((v >> (8 * i)) & 0xff);
    };
    big(quint64(timeMs), 8);
    out += char(1);
    big(quint32(qint32(lon * 1e7)), 4);
    big(quint32(qint32(lat * 1e7)), 4);
    big(150, 2);
    big(90, 2);
    out += char(9);
    big(40, 2);
    out += QByteArray::fromHex("0001010101000000"); // DIN1 on; no 2, 4, 8-byte elements
    return out;
}

QByteArray packet(const std::vector<qint64>& times) {
    QByteArray data(1, 0x08);
    data += char(times.size());
    for (size_t i = 0; i < times.size(); ++i)
        data += record(times[i], 37.6 + double(i) * 1e-3, 55.7);
    data += char(times.size());
    return avlPacket(data);
}

QByteArray readExactly(QTcpSocket& socket, int bytes) {
    QByteArray got;
    waitFor([&] {
        got += socket.read(bytes - got.size());
        return got.size() == bytes || socket.state() != QAbstractSocket::ConnectedState;
    }, 20000);
    return got;
}

struct LiveServer : ::testing::Test {
    void SetUp() override {
        store = folder.filePath("store.sqlite");
        {
            Store s(store);
            s.begin();
            s.addGroup({"grp-1", "Онлайн"});
            s.commit();
            trackers::devices::add(s, "grp-1", kPhone, "phone-1", "Телефон", {});
            trackers::devices::add(s, "grp-1", kTracker, QString::fromLatin1(kImei), "Грузовик", {});
        }
        QDBusConnection::sessionBus().connect({}, "/org/vantrel/Automation", "org.vantrel.Automation",
                                              "OnReceiveOnlineData", &announced, SLOT(note()));
        server.setProgram(qEnvironmentVariable("VANTREL_BIN_DIR") + "/vantrel-server");
        server.setArguments({"--db", store, "--listen", "osmand=127.0.0.1:0", "--listen", "codec8=127.0.0.1:0",
                             "--idle-close", "2", "--verbose"});
        server.start();
        const QRegularExpression opened("принимаю (\\w+) на 127.0.0.1:(\\d+)");
        ASSERT_TRUE(waitFor([&] {
            log += QString::fromUtf8(server.readAllStandardError());
            for (const auto& m : opened.globalMatch(log))
                (m.captured(1) == "osmand" ? osmand : codec8) = quint16(m.captured(2).toUInt());
            return osmand && codec8 && log.contains("работаю");
        })) << log.toStdString();
    }
    void TearDown() override {
        server.terminate();
        server.waitForFinished(10000);
    }
    size_t stored(int device) const {
        return Store(store).messages(device, 0, std::numeric_limits<double>::max()).size();
    }
    QString fullLog() {
        log += QString::fromUtf8(server.readAllStandardError());
        return log;
    }
    QByteArray http(QTcpSocket& socket, const QByteArray& target) {
        socket.write("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        QByteArray got;
        waitFor([&] {
            got += socket.readAll();
            return got.contains("\r\n\r\n") || socket.state() != QAbstractSocket::ConnectedState;
        }, 20000);
        return got.left(got.indexOf("\r\n"));
    }

    QTemporaryDir folder;
    QString store, log;
    QProcess server;
    quint16 osmand = 0, codec8 = 0;
    SignalCounter announced;
};

} // namespace

TEST_F(LiveServer, BothProtocolsAreAcknowledgedOnlyOnceStored) {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QTcpSocket phone;
    phone.connectToHost("127.0.0.1", osmand);
    ASSERT_TRUE(phone.waitForConnected(5000));
    const QByteArray at = QByteArray::number(now / 1000);
    EXPECT_EQ(http(phone, "/?id=phone-1&lat=55.75&lon=37.61&speed=20&timestamp=" + at), "HTTP/1.1 200 OK");
    EXPECT_EQ(stored(kPhone), 1u); // already there when the answer came
    EXPECT_EQ(http(phone, "/?id=phone-1&lat=55.75&lon=37.61&timestamp=" + at), "HTTP/1.1 200 OK");
    EXPECT_EQ(stored(kPhone), 1u); // a resend
    EXPECT_EQ(http(phone, "/?id=stranger&lat=55.75&lon=37.61&timestamp=" + at), "HTTP/1.1 403 Forbidden");
    EXPECT_EQ(http(phone, "/?id=phone-1&lat=555&lon=37.61&timestamp=" + at), "HTTP/1.1 400 Bad Request");
    EXPECT_EQ(http(phone, "/?id=phone-1&lat=55.7&lon=37.6&timestamp=100"), "HTTP/1.1 400 Bad Request");

    QTcpSocket tracker;
    tracker.connectToHost("127.0.0.1", codec8);
    ASSERT_TRUE(tracker.waitForConnected(5000));
    tracker.write(imeiHello(kImei));
    EXPECT_EQ(readExactly(tracker, 1), QByteArray(1, 1));
    const QByteArray three = packet({now - 3000, now - 1000, now - 2000});
    tracker.write(three);
    EXPECT_EQ(readExactly(tracker, 4), QByteArray::fromHex("00000003"));
    EXPECT_EQ(stored(kTracker), 3u);
    tracker.write(three); // the acknowledgement was "lost"
    EXPECT_EQ(readExactly(tracker, 4), QByteArray::fromHex("00000003"));
    QByteArray broken = packet({now - 500, now - 400});
    broken[broken.size() - 1] = char(broken.back() ^ 0x55);
    tracker.write(broken + packet({now - 4000}));
    EXPECT_EQ(readExactly(tracker, 4), QByteArray::fromHex("00000001")); // the broken one got none
    const Store s(store);
    const std::vector<Message> m = s.messages(kTracker, 0, std::numeric_limits<double>::max());
    ASSERT_EQ(m.size(), 4u);
    EXPECT_TRUE(std::is_sorted(m.begin(), m.end(), [](auto& a, auto& b) { return a.time < b.time; }));
    EXPECT_DOUBLE_EQ(m.back().lon, 37.601); // the newest is the packet's second record
    EXPECT_EQ(m.back().sensors, 1);

    EXPECT_TRUE(waitFor([this] { return announced.count > 0; }, 10000));
    EXPECT_TRUE(fullLog().contains("stranger")) << log.toStdString();
    EXPECT_TRUE(log.contains("контрольная сумма")) << log.toStdString();
}

TEST_F(LiveServer, UnknownIdleAndOversizedConnectionsAreClosedAndOthersStillServed) {
    QTcpSocket unknown, idle, huge;
    for (QTcpSocket* s : {&unknown, &idle})
        s->connectToHost("127.0.0.1", codec8);
    huge.connectToHost("127.0.0.1", osmand);
    ASSERT_TRUE(unknown.waitForConnected(5000) && idle.waitForConnected(5000) && huge.waitForConnected(5000));
    unknown.write(imeiHello("111111111111111"));
    EXPECT_EQ(readExactly(unknown, 1), QByteArray(1, 0));
    EXPECT_TRUE(waitFor([&] { return unknown.state() == QAbstractSocket::UnconnectedState; }, 10000));
    huge.write("GET /?id=phone-1&x=" + QByteArray(1 << 20, 'a'));
    EXPECT_TRUE(waitFor([&] { huge.readAll(); return huge.state() == QAbstractSocket::UnconnectedState; }, 20000));
    QTcpSocket body; // a body announced at 2 GB, sent in pieces the HTTP server would keep
    body.connectToHost("127.0.0.1", osmand);
    ASSERT_TRUE(body.waitForConnected(5000));
    body.write("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 2000000000\r\n\r\n");
    QByteArray answer;
    for (int piece = 0; piece < 100 && body.state() == QAbstractSocket::ConnectedState; ++piece) {
        body.write(QByteArray(2048, 'b'));
        waitFor([&] { return body.bytesToWrite() == 0; }, 1000);
        runFor(5);
        answer += body.readAll();
    }
    EXPECT_TRUE(waitFor([&] { answer += body.readAll(); return body.state() == QAbstractSocket::UnconnectedState; }, 20000));
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 413")) << answer.left(40).constData();
    EXPECT_TRUE(waitFor([&] { return idle.state() == QAbstractSocket::UnconnectedState; }, 20000)); // --idle-close 2
    QTcpSocket phone;
    phone.connectToHost("127.0.0.1", osmand);
    ASSERT_TRUE(phone.waitForConnected(5000));
    const QByteArray at = QByteArray::number(QDateTime::currentMSecsSinceEpoch() / 1000);
    EXPECT_EQ(http(phone, "/?id=phone-1&lat=55.75&lon=37.61&timestamp=" + at), "HTTP/1.1 200 OK");
    EXPECT_EQ(server.state(), QProcess::Running);
}

TEST_F(LiveServer, KilledAtAnyMomentItKeepsEveryAcknowledgedPosition) {
    // Five trackers send packets back to back; the server is killed while they do.
    struct Sender {
        QTcpSocket socket;
        std::vector<qint64> acknowledged, inFlight;
        qint64 next = 0;
    };
    std::vector<std::unique_ptr<Sender>> senders;
    const qint64 start = QDateTime::currentMSecsSinceEpoch() - 3600000;
    for (int i = 0; i < 5; ++i) {
        auto s = std::make_unique<Sender>();
        s->next = start + i; // each its own milliseconds: they report as one device
        s->socket.connectToHost("127.0.0.1", codec8);
        ASSERT_TRUE(s->socket.waitForConnected(5000));
        s->socket.write(imeiHello(kImei));
        ASSERT_EQ(readExactly(s->socket, 1), QByteArray(1, 1));
        senders.push_back(std::move(s));
    }
    const auto send = [](Sender& s) {
        s.inFlight.clear();
        for (int r = 0; r < 10; ++r)
            s.inFlight.push_back(s.next += 5);
        s.socket.write(packet(s.inFlight));
    };
    for (auto& s : senders) {
        send(*s);
        QObject::connect(&s->socket, &QTcpSocket::readyRead, &s->socket, [&s = *s, &send] {
            while (s.socket.bytesAvailable() >= 4) {
                s.socket.read(4);
                s.acknowledged.insert(s.acknowledged.end(), s.inFlight.begin(), s.inFlight.end());
                send(s);
            }
        });
    }
    ASSERT_TRUE(waitFor([&] { return senders[0]->acknowledged.size() >= 300; }));
    server.kill();
    server.waitForFinished(10000);
    const Store s(store);
    std::set<qint64> stored;
    for (const Message& m : s.messages(kTracker, 0, std::numeric_limits<double>::max()))
        stored.insert(QDateTime(datetime::toQDateTime(m.time).date(), datetime::toQDateTime(m.time).time()).toMSecsSinceEpoch());
    size_t acknowledged = 0;
    for (auto& sender : senders)
        for (qint64 t : sender->acknowledged) {
            ++acknowledged;
            EXPECT_TRUE(stored.count(t)) << t;
        }
    EXPECT_GE(stored.size(), acknowledged);
}
