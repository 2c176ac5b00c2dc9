#include "TrackerSimulator.h"

#include "Codec8Stream.h"
#include "DemoData.h"

#include <QDateTime>
#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>
#include <cmath>
#include <random>

namespace trackers {
namespace {

constexpr double kMetresPerDegree = 111320;
constexpr double kSpeedMs = 12; // a town's pace

void appendBig(QByteArray& out, quint64 value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out += char((value >> (8 * i)) & 0xff);
}

} // namespace

QString SimulationPlan::ident(int index) const {
    if (protocol == QLatin1String("codec8"))
        return QString::number(356307040000000LL + firstDevice + index);
    return QStringLiteral("sim-%1").arg(firstDevice + index);
}

struct TrackerSimulator::Tracker {
    int index = 0;
    QTcpSocket* socket = nullptr;
    bool ready = false;    // connected and (codec8) accepted
    bool waiting = false;  // a packet or request is unanswered
    int route = 0;
    double startOffset = 0; // metres along the route at the start
    qint64 lastTimeMs = 0;
    std::vector<std::pair<qint64, QByteArray>> queued; // positions due: their time and their encoding
    int inFlight = 0;
    qint64 sentAtMs = 0;
    QByteArray received;
};

TrackerSimulator::TrackerSimulator(SimulationPlan plan, QObject* parent) : QObject(parent), plan_(std::move(plan)) {
    const vserver::RoadNetwork roads = vserver::RoadNetwork::demo();
    std::mt19937 random(7);
    for (int r = 0; r < 32; ++r) { // a few long drives, shared by the trackers at different offsets
        std::vector<QPointF> points;
        int at = int(random() % uint(roads.nodeCount()));
        for (int leg = 0; leg < 8; ++leg) {
            const int to = int(random() % uint(roads.nodeCount()));
            std::vector<QPointF> legPoints;
            std::vector<double> speeds;
            roads.route(at, to, legPoints, speeds);
            points.insert(points.end(), legPoints.begin(), legPoints.end());
            at = to;
        }
        if (points.size() < 2)
            points = {roads.node(0), roads.node(1)};
        routes_.push_back(std::move(points));
    }
    for (int i = 0; i < plan_.devices; ++i) {
        auto t = std::make_unique<Tracker>();
        t->index = i;
        t->route = i % int(routes_.size());
        t->startOffset = (i * 337) % 5000;
        trackers_.push_back(std::move(t));
    }
}

TrackerSimulator::~TrackerSimulator() = default;

QPointF TrackerSimulator::positionOf(Tracker& t, double& heading) const {
    const std::vector<QPointF>& route = routes_[size_t(t.route)];
    double along = t.startOffset + kSpeedMs * double(QDateTime::currentMSecsSinceEpoch() - startMs_) / 1000;
    for (int pass = 0; pass < 1000; ++pass) {
        for (size_t i = 1; i < route.size(); ++i) {
            const QPointF a = route[i - 1], b = route[i];
            const double dx = (b.x() - a.x()) * kMetresPerDegree * std::cos(a.y() * M_PI / 180);
            const double dy = (b.y() - a.y()) * kMetresPerDegree;
            const double length = std::hypot(dx, dy);
            if (along <= length && length > 0) {
                heading = std::fmod(std::atan2(dx, dy) * 180 / M_PI + 360, 360);
                return a + (b - a) * (along / length);
            }
            along -= length;
        }
    }
    heading = 0;
    return route.front();
}

void TrackerSimulator::connectTracker(Tracker& t) {
    t.socket = new QTcpSocket(this);
    t.socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(t.socket, &QTcpSocket::connected, this, [this, &t] {
        ++report_.connected;
        if (plan_.protocol == QLatin1String("codec8")) {
            const QByteArray imei = plan_.ident(t.index).toLatin1();
            QByteArray hello;
            appendBig(hello, quint64(imei.size()), 2);
            t.socket->write(hello + imei);
            t.waiting = true;
        } else {
            t.ready = true;
        }
    });
    connect(t.socket, &QTcpSocket::readyRead, this, [this, &t] { onReadyRead(t); });
    // A tracker whose connection failed or was closed tries again a second later, as real ones
    // do; what it had sent unanswered counts as not acknowledged.
    connect(t.socket, &QTcpSocket::errorOccurred, this, [this, &t] {
        if (!t.ready)
            ++report_.failedConnections;
        t.ready = t.waiting = false;
        t.inFlight = 0;
        t.received.clear();
        QTimer::singleShot(1000, t.socket, [this, &t] {
            if (running_ && t.socket->state() == QAbstractSocket::UnconnectedState)
                t.socket->connectToHost(plan_.host, plan_.port);
        });
    });
    t.socket->connectToHost(plan_.host, plan_.port);
}

void TrackerSimulator::onReadyRead(Tracker& t) {
    t.received += t.socket->readAll();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (plan_.protocol == QLatin1String("codec8")) {
        if (!t.ready) {
            if (t.received.isEmpty())
                return;
            t.ready = t.received.at(0) == 1;
            t.waiting = false;
            t.received.remove(0, 1);
            if (!t.ready) {
                ++report_.refused;
                t.socket->abort();
            }
            return;
        }
        while (t.received.size() >= 4) {
            const quint32 count = qFromBigEndian<quint32>(t.received.constData());
            t.received.remove(0, 4);
            if (int(count) == t.inFlight)
                report_.acknowledged += count;
            else
                report_.refused += t.inFlight;
            for (int i = 0; i < t.inFlight; ++i)
                report_.latenciesMs.push_back(double(now - t.sentAtMs));
            t.inFlight = 0;
            t.waiting = false;
        }
        return;
    }
    for (;;) { // HTTP answers: status line, headers, a body of Content-Length bytes
        const qsizetype headerEnd = t.received.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const QByteArray head = t.received.left(headerEnd).toLower();
        const qsizetype lengthAt = head.indexOf("content-length:");
        const int length = lengthAt < 0 ? 0 : head.mid(lengthAt + 15, head.indexOf('\r', lengthAt) - lengthAt - 15).trimmed().toInt();
        if (t.received.size() < headerEnd + 4 + length)
            return;
        const bool ok = head.startsWith("http/1.1 200");
        t.received.remove(0, headerEnd + 4 + length);
        (ok ? report_.acknowledged : report_.refused) += t.inFlight;
        for (int i = 0; i < t.inFlight; ++i)
            report_.latenciesMs.push_back(double(now - t.sentAtMs));
        t.inFlight = 0;
        t.waiting = false;
    }
}

void TrackerSimulator::sendDue(Tracker& t) {
    if (!t.ready || t.waiting || t.queued.empty())
        return;
    const bool codec8 = plan_.protocol == QLatin1String("codec8");
    const size_t take = codec8 ? std::min<size_t>(t.queued.size(), size_t(plan_.recordsPerPacket)) : 1;
    if (codec8 && take < size_t(plan_.recordsPerPacket) && QDateTime::currentMSecsSinceEpoch() - t.queued.front().first < 1000)
        return; // a packet of a full count, unless its oldest record waited a second
    QByteArray out;
    if (codec8) {
        QByteArray data;
        data += char(0x08);
        data += char(take);
        for (size_t i = 0; i < take; ++i)
            data += t.queued[i].second;
        data += char(take);
        appendBig(out, 0, 4);
        appendBig(out, quint64(data.size()), 4);
        out += data;
        appendBig(out, crc16Ibm(reinterpret_cast<const uint8_t*>(data.constData()), size_t(data.size())), 4);
    } else {
        out = t.queued.front().second;
    }
    t.queued.erase(t.queued.begin(), t.queued.begin() + std::ptrdiff_t(take));
    t.inFlight = int(take);
    t.waiting = true;
    t.sentAtMs = QDateTime::currentMSecsSinceEpoch();
    report_.sent += qint64(take);
    t.socket->write(out);
}

void TrackerSimulator::tick() {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 target = qint64(plan_.rate * double(now - startMs_) / 1000);
    const bool codec8 = plan_.protocol == QLatin1String("codec8");
    for (; due_ < target; ++due_) {
        Tracker& t = *trackers_[nextTracker_];
        nextTracker_ = (nextTracker_ + 1) % trackers_.size();
        if (t.queued.size() > 1000)
            continue; // a tracker that cannot send keeps its last thousand, as a real one buffers
        const qint64 time = std::max(now, t.lastTimeMs + 1);
        t.lastTimeMs = time;
        double heading = 0;
        const QPointF where = positionOf(t, heading);
        QByteArray encoded;
        if (codec8) {
            appendBig(encoded, quint64(time), 8);
            encoded += char(0);
            appendBig(encoded, quint64(quint32(qint32(std::lround(where.x() * 1e7)))), 4);
            appendBig(encoded, quint64(quint32(qint32(std::lround(where.y() * 1e7)))), 4);
            appendBig(encoded, 150, 2);
            appendBig(encoded, quint64(std::lround(heading)), 2);
            encoded += char(9);
            appendBig(encoded, quint64(std::lround(kSpeedMs * 3.6)), 2);
            encoded += QByteArray("\x00\x00\x00\x00\x00\x00", 6); // no I/O elements
        } else {
            encoded = QStringLiteral("GET /?id=%1&lat=%2&lon=%3&timestamp=%4&speed=%5&bearing=%6 HTTP/1.1\r\nHost: %7\r\n\r\n")
                          .arg(plan_.ident(t.index), QString::number(where.y(), 'f', 7), QString::number(where.x(), 'f', 7))
                          .arg(double(time) / 1000, 0, 'f', 3)
                          .arg(kSpeedMs * 3.6 / 1.852, 0, 'f', 2)
                          .arg(std::lround(heading))
                          .arg(plan_.host)
                          .toLatin1();
        }
        t.queued.emplace_back(time, std::move(encoded));
    }
    for (auto& t : trackers_)
        sendDue(*t);
}

SimulationReport TrackerSimulator::run() {
    startMs_ = QDateTime::currentMSecsSinceEpoch();
    running_ = true;
    for (auto& t : trackers_)
        connectTracker(*t);
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, &TrackerSimulator::tick);
    ticker.start(5);
    QEventLoop loop;
    const qint64 end = startMs_ + qint64(plan_.duration * 1000);
    QTimer watch;
    connect(&watch, &QTimer::timeout, &loop, [&] {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        if (now >= end) {
            ticker.stop();
            bool outstanding = false;
            for (auto& t : trackers_)
                outstanding = outstanding || (t->waiting && t->ready);
            if (!outstanding || now >= end + 10000)
                loop.quit();
        }
    });
    watch.start(20);
    loop.exec();
    running_ = false;
    report_.seconds = double(QDateTime::currentMSecsSinceEpoch() - startMs_) / 1000;
    for (auto& t : trackers_)
        t->socket->abort();
    return report_;
}

} // namespace trackers
