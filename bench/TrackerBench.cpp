// Live trackers on this machine, the simulator beside the server as the goals say: Codec 8
// packets of 10 records over 1,000 connections stored and acknowledged on SQLite and on
// PostgreSQL (started here on a private socket), the phones' HTTP protocol over 1,000
// connections, the acknowledgement delay at 20,000 records a second, and the server's memory
// with 10,000 idle connections. Runs on a private session bus (dbus-run-session).
#include "Goal.h"
#include "PostgresServer.h"
#include "DeviceRegistry.h"
#include "Store.h"
#include "TrackerSimulator.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <sys/resource.h>

namespace {

QString binary() { return QCoreApplication::applicationDirPath() + "/../bin/vantrel-server"; }

struct Outcome {
    double rate = 0, p99 = 0;  // as the simulator saw them: from sending to the answer
    double arrivalP99 = 0;      // as the server saw it: from a packet's arrival to its answer
};

// A server listening on both protocols over the store, until destroyed.
class Server {
public:
    explicit Server(const QString& store) {
        process_.setProgram(binary());
        process_.setArguments({"--db", store, "--listen", "osmand=127.0.0.1:0", "--listen", "codec8=127.0.0.1:0"});
        process_.start();
        const QRegularExpression opened("принимаю (\\w+) на 127.0.0.1:(\\d+)");
        QElapsedTimer waited;
        waited.start();
        while (!(osmand && codec8 && log_.contains("работаю")) && waited.elapsed() < 120000) {
            process_.waitForReadyRead(100);
            log_ += QString::fromUtf8(process_.readAllStandardError());
            for (const auto& m : opened.globalMatch(log_))
                (m.captured(1) == "osmand" ? osmand : codec8) = quint16(m.captured(2).toUInt());
        }
        if (!osmand || !codec8)
            std::fprintf(stderr, "the server did not start: %s\n", qPrintable(log_));
    }
    ~Server() { finish(); }
    // Stops the server; its log, which ends with the delays from arrival to acknowledgement.
    QString finish() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            process_.waitForFinished(30000);
            log_ += QString::fromUtf8(process_.readAllStandardError());
        }
        return log_;
    }
    double rssMb() const {
        QFile status(QStringLiteral("/proc/%1/status").arg(process_.processId()));
        status.open(QIODevice::ReadOnly);
        const QByteArray text = status.readAll();
        const qsizetype at = text.indexOf("VmRSS:");
        return text.mid(at + 6, text.indexOf('\n', at) - at - 6).trimmed().split(' ').first().toDouble() / 1024;
    }
    quint16 osmand = 0, codec8 = 0;

private:
    QProcess process_;
    QString log_;
};

Outcome simulate(const QString& store, const char* protocol, quint16 port, int rate, int seconds) {
    QProcess simulator;
    simulator.start(binary(), {"--db", store, "simulate", "--protocol", protocol, "--to", QStringLiteral("127.0.0.1:%1").arg(port),
                               "--devices", "1000", "--rate", QString::number(rate), "--duration", QString::number(seconds)});
    simulator.waitForFinished(600000);
    const QString out = QString::fromUtf8(simulator.readAllStandardOutput());
    std::printf("  %s", qPrintable(out));
    const auto m = QRegularExpression("rate ([\\d.]+)/s latency p50 [\\d.]+ ms p99 ([\\d.]+) ms").match(out);
    return {m.captured(1).toDouble(), m.captured(2).toDouble()};
}

// Median of three runs, each on a server of its own over the same store.
Outcome median3(const QString& store, const char* protocol, int rate, int seconds) {
    std::vector<double> rates, p99s, arrivals;
    for (int run = 0; run < 3; ++run) {
        Server server(store);
        const Outcome o = simulate(store, protocol, QString(protocol) == "osmand" ? server.osmand : server.codec8, rate, seconds);
        const auto m = QRegularExpression("p99 (\\d+) мс").match(server.finish());
        std::printf("  server: from arrival to acknowledgement p99 %s ms\n", qPrintable(m.captured(1)));
        rates.push_back(o.rate);
        p99s.push_back(o.p99);
        arrivals.push_back(m.hasMatch() ? m.captured(1).toDouble() : 1e9);
    }
    return {median(rates), median(p99s), median(arrivals)};
}

// The store with the simulator's 1,000 trackers of each protocol registered.
void prepare(const QString& uri) {
    vserver::Store store(uri);
    store.begin();
    store.addGroup({"grp-1", "Онлайн"});
    store.commit();
    for (const char* protocol : {"codec8", "osmand"}) {
        trackers::SimulationPlan plan;
        plan.protocol = protocol;
        for (int i = 0; i < 1000; ++i)
            trackers::devices::add(store, "grp-1", plan.firstDevice + i, plan.ident(i), {}, {});
    }
}

double idleMemoryMb(const QString& store) {
    Server server(store);
    const double before = server.rssMb();
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < 10000; ++i) {
        auto s = std::make_unique<QTcpSocket>();
        s->connectToHost("127.0.0.1", server.codec8);
        if (i % 200 == 199)
            QCoreApplication::processEvents();
        sockets.push_back(std::move(s));
    }
    int connected = 0;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 60000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        connected = int(std::count_if(sockets.begin(), sockets.end(), [](auto& s) { return s->state() == QAbstractSocket::ConnectedState; }));
        if (connected == 10000)
            break;
    }
    QThread::msleep(1000); // the server accepts the last ones
    QCoreApplication::processEvents();
    const double after = server.rssMb();
    std::printf("  %d idle connections held: server %.1f MB (%.1f MB before them)\n", connected, after, before);
    return connected == 10000 ? after : 1e9;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max; // 10,000 connections on each side; the server inherits it
    setrlimit(RLIMIT_NOFILE, &files);
    QTemporaryDir folder;
    const QString sqlite = folder.filePath("live.sqlite");
    prepare(sqlite);

    std::printf("Codec 8, 1,000 connections, 10 records a packet, SQLite:\n");
    const Outcome codec8 = median3(sqlite, "codec8", 70000, 10);
    std::printf("Phones' HTTP, 1,000 connections, SQLite:\n");
    const Outcome http = median3(sqlite, "osmand", 8000, 10);
    std::printf("Codec 8 at 20,000 records a second, SQLite:\n");
    const Outcome steady = median3(sqlite, "codec8", 20000, 10);
    const double idle = idleMemoryMb(sqlite);

    PostgresServer postgres;
    Outcome pg;
    if (postgres.ready()) {
        const QString uri = postgres.newDatabase("live");
        prepare(uri);
        std::printf("Codec 8, 1,000 connections, 10 records a packet, PostgreSQL:\n");
        pg = median3(uri, "codec8", 40000, 10);
    } else {
        std::printf("no PostgreSQL: %s\n", qPrintable(postgres.problem));
    }
    reportGoal("Codec 8 records stored and acknowledged, SQLite", codec8.rate, "records/s", 50000, Better::Higher);
    reportGoal("Codec 8 records stored and acknowledged, PostgreSQL", pg.rate, "records/s", 20000, Better::Higher);
    reportGoal("phones' HTTP positions stored and answered", http.rate, "requests/s", 5000, Better::Higher);
    reportGoal("server memory with 10,000 idle connections", idle, "MB", 200);
    std::printf("At 20,000 records/s the simulator saw 99%% of its packets answered within %.0f ms of sending.\n", steady.p99);
    reportGoal("99th percentile from arrival to acknowledgement at 20,000 records/s", steady.arrivalP99, "ms", 100);
    return postgres.ready() ? 0 : 1;
}
