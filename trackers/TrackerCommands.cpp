#include "TrackerCommands.h"

#include "DeviceRegistry.h"
#include "Store.h"
#include "TrackerSimulator.h"
#include "VantrelError.h"

#include <QFileInfo>
#include <algorithm>

namespace trackers {
namespace {

const QString kOnlineGroup = QStringLiteral("Онлайн");

int positiveInt(const QCommandLineParser& parser, const char* name, int max) {
    bool ok = false;
    const int value = parser.value(QLatin1String(name)).toInt(&ok);
    if (!ok || value < 1 || value > max)
        throw VantrelError(QStringLiteral("--%1: нужно целое число от 1 до %2").arg(QLatin1String(name)).arg(max));
    return value;
}

double positiveNumber(const QCommandLineParser& parser, const char* name, double max) {
    bool ok = false;
    const double value = parser.value(QLatin1String(name)).toDouble(&ok);
    if (!ok || !(value > 0) || value > max)
        throw VantrelError(QStringLiteral("--%1: нужно число больше нуля и не больше %2").arg(QLatin1String(name)).arg(max));
    return value;
}

} // namespace

void addOptions(QCommandLineParser& parser) {
    parser.addOptions({
        {QStringLiteral("listen"),
         QStringLiteral("Принимать позиции приборов: osmand=АДРЕС:ПОРТ (HTTP телефонов) или codec8=АДРЕС:ПОРТ "
                        "(Codec 8 по TCP); можно несколько раз. Без адреса — только 127.0.0.1."),
         QStringLiteral("протокол=адрес:порт")},
        {QStringLiteral("idle-close"),
         QStringLiteral("Закрывать соединение прибора, молчащее столько секунд (по умолчанию %1).")
             .arg(TrackerServer::kDefaultIdleSeconds),
         QStringLiteral("секунды"), QString::number(TrackerServer::kDefaultIdleSeconds)},
        {QStringLiteral("verbose"), QStringLiteral("Писать в журнал и отклонённые неизвестные приборы.")},
        {QStringLiteral("id"), QStringLiteral("device: идентификатор прибора (IMEI или id приложения)."),
         QStringLiteral("идентификатор")},
        {QStringLiteral("protocol"), QStringLiteral("simulate: osmand или codec8."), QStringLiteral("протокол")},
        {QStringLiteral("devices"), QStringLiteral("simulate: сколько приборов."), QStringLiteral("N"), QStringLiteral("1")},
        {QStringLiteral("rate"), QStringLiteral("simulate: позиций в секунду от всех приборов вместе."),
         QStringLiteral("R"), QStringLiteral("1")},
        {QStringLiteral("duration"), QStringLiteral("simulate: сколько секунд."), QStringLiteral("S"), QStringLiteral("10")},
        {QStringLiteral("register"),
         QStringLiteral("simulate: сначала записать приборы за машинами группы «Онлайн» в хранилище --db.")},
    });
}

ListenOptions listenOptions(const QCommandLineParser& parser) {
    ListenOptions options;
    for (const QString& value : parser.values(QStringLiteral("listen")))
        options.addresses.push_back(ListenAddress::parse(value));
    options.idleSeconds = positiveInt(parser, "idle-close", 86400);
    options.verbose = parser.isSet(QStringLiteral("verbose"));
    return options;
}

std::unique_ptr<TrackerServer> openListeners(const QString& storePath, const ListenOptions& options, const Print& print) {
    if (options.addresses.empty())
        return nullptr;
    auto server = std::make_unique<TrackerServer>(storePath, options.addresses, options.idleSeconds, options.verbose,
                                                  [print](const QString& text) { print(QStringLiteral("vantrel-server: ") + text); });
    for (size_t i = 0; i < options.addresses.size(); ++i)
        print(QStringLiteral("vantrel-server: принимаю %1 на %2:%3")
                  .arg(options.addresses[i].protocol, options.addresses[i].address.toString())
                  .arg(server->ports()[i]));
    return server;
}

int deviceCommand(const QCommandLineParser& parser, const QString& storePath, const Print& print) {
    const QString action = parser.positionalArguments().value(1);
    if (!vserver::Store::isDatabaseUri(storePath) && !QFileInfo::exists(storePath))
        throw VantrelError(QStringLiteral("нет хранилища ") + storePath);
    vserver::Store store(storePath);
    if (action == QLatin1String("list")) {
        const QStringList lines = devices::list(store);
        for (const QString& line : lines)
            std::printf("%s\n", line.toUtf8().constData());
        return 0;
    }
    const QString ident = parser.value(QStringLiteral("id"));
    if (ident.isEmpty())
        throw VantrelError(QStringLiteral("device %1: нужен --id ИДЕНТИФИКАТОР").arg(action));
    if (action == QLatin1String("add")) {
        const QString group = parser.value(QStringLiteral("group"));
        if (group.isEmpty())
            throw VantrelError(QStringLiteral("device add: нужна --group ИДЕНТИФИКАТОР_ГРУППЫ"));
        const int device = positiveInt(parser, "device", std::numeric_limits<int>::max());
        devices::add(store, group, device, ident, parser.value(QStringLiteral("car")), parser.value(QStringLiteral("number")));
        print(QStringLiteral("Прибор %1 записан за прибором %2 группы «%3»").arg(ident).arg(device).arg(group));
        return 0;
    }
    if (action == QLatin1String("remove")) {
        devices::remove(store, ident);
        print(QStringLiteral("Прибор %1 удалён").arg(ident));
        return 0;
    }
    throw VantrelError(QStringLiteral("device: нужно add, list или remove"));
}

int simulateCommand(const QCommandLineParser& parser, const QString& storePath, const Print& print) {
    SimulationPlan plan;
    plan.protocol = parser.value(QStringLiteral("protocol"));
    if (plan.protocol != QLatin1String("osmand") && plan.protocol != QLatin1String("codec8"))
        throw VantrelError(QStringLiteral("simulate: --protocol osmand или codec8"));
    const QString to = parser.value(QStringLiteral("to"));
    const qsizetype colon = to.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    const uint port = to.mid(colon + 1).toUInt(&ok);
    if (colon <= 0 || !ok || port == 0 || port > 65535)
        throw VantrelError(QStringLiteral("simulate: --to АДРЕС:ПОРТ"));
    plan.host = to.left(colon);
    plan.port = quint16(port);
    plan.devices = positiveInt(parser, "devices", SimulationPlan::kMaxDevices);
    plan.rate = positiveNumber(parser, "rate", SimulationPlan::kMaxRate);
    plan.duration = positiveNumber(parser, "duration", SimulationPlan::kMaxDuration);
    if (parser.isSet(QStringLiteral("register"))) {
        vserver::Store store(storePath);
        const QString group = store.ensureGroup(kOnlineGroup);
        QSet<QString> known;
        for (const vserver::Tracker& t : store.trackers())
            known.insert(t.ident);
        int added = 0;
        for (int i = 0; i < plan.devices; ++i) {
            if (known.contains(plan.ident(i)))
                continue;
            devices::add(store, group, plan.firstDevice + i, plan.ident(i), QStringLiteral("Имитатор %1").arg(i + 1), {});
            ++added;
        }
        print(QStringLiteral("Группа «%1» (%2): записано новых приборов %3").arg(kOnlineGroup, group).arg(added));
    }
    TrackerSimulator simulator(plan);
    const SimulationReport report = simulator.run();
    std::vector<double> latencies = report.latenciesMs;
    std::sort(latencies.begin(), latencies.end());
    const auto percentile = [&latencies](double p) {
        return latencies.empty() ? 0.0 : latencies[std::min(latencies.size() - 1, size_t(p * double(latencies.size())))];
    };
    // One line in the C locale's numbers, for people and for the benchmark alike.
    std::printf("simulate %s: connected %d failed %d sent %lld acknowledged %lld refused %lld seconds %.2f "
                "rate %.1f/s latency p50 %.1f ms p99 %.1f ms\n",
                qPrintable(plan.protocol), report.connected, report.failedConnections, report.sent,
                report.acknowledged, report.refused, report.seconds,
                report.seconds > 0 ? double(report.acknowledged) / report.seconds : 0.0, percentile(0.5), percentile(0.99));
    std::fflush(stdout);
    return report.acknowledged > 0 ? 0 : 1;
}

} // namespace trackers
