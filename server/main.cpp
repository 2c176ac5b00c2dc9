// vantrel-server: the tracking server on the D-Bus session bus, and its tools.
//   vantrel-server [--db PATH] [--idle-exit SECONDS]  serve (a new store gets the demo data)
//   vantrel-server import-gpx [--db PATH] --group NAME --car NAME [--number TEXT] --device N [--append] FILE…
//   vantrel-server write-demo-map FOLDER
//   vantrel-server migrate --from STORE --to STORE
//   vantrel-server export [--db PATH] --group ID --device N --from T --to T [--trip K] --format gpx|kml|geojson OUT
//   vantrel-server [--listen osmand=HOST:PORT] [--listen codec8=HOST:PORT] [--idle-close S] [--verbose]
//   vantrel-server device add|list|remove [--db PATH] [--group ID --device N] [--id IDENT]
//   vantrel-server demo-fleet [--db PATH] --vehicles N --day dd.mm.yyyy
#include "AutomationService.h"
#include "CommandLineHelp.h"
#include "DateTimeValue.h"
#include "DemoData.h"
#include "DemoFleet.h"
#include "GpxImport.h"
#include "IdleExit.h"
#include "Store.h"
#include "StoreMigration.h"
#include "TrackerCommands.h"
#include "TripExport.h"
#include "VantrelError.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <sqlite3.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

QString defaultStorePath() {
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/vantrel");
    QDir().mkpath(folder);
    return folder + QStringLiteral("/store.sqlite");
}

void print(const QString& text) { std::fprintf(stderr, "%s\n", text.toUtf8().constData()); }

int serve(const QString& storePath, int idleExitSeconds, const trackers::ListenOptions& listen) {
    const bool fresh = !vserver::Store::isDatabaseUri(storePath) && !QFileInfo::exists(storePath);
    {
        vserver::Store store(storePath);
        if (fresh || store.isEmpty()) {
            print(QStringLiteral("vantrel-server: создаю демонстрационные данные в ") + storePath);
            vserver::createDemoData(store);
        }
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        print(QStringLiteral("vantrel-server: нет сеансовой шины D-Bus: ") + bus.lastError().message());
        return 1;
    }
    vserver::AutomationService service(storePath);
    // SIGTERM and SIGINT end the server in order: goodbye to the clients, then exit. Set before
    // the name is published, so that a signal sent as soon as it appears is not fatal.
    if (::pipe(signalPipe) == 0) {
        std::signal(SIGTERM, onSignal);
        std::signal(SIGINT, onSignal);
    }
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&service] {
        service.close();
        QCoreApplication::quit();
    });
    QString reason;
    if (!service.publish(bus, &reason)) {
        print(QStringLiteral("vantrel-server: ") + reason);
        return 1;
    }
    // A session bus that went away takes the server with it, said aloud.
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, [&bus, &service] {
        if (bus.isConnected())
            return;
        print(QStringLiteral("vantrel-server: связь с сеансовой шиной D-Bus потеряна, завершаю работу"));
        service.close();
        QCoreApplication::exit(3);
    });
    watchdog.start(1000);
    std::unique_ptr<vserver::IdleExit> idleExit;
    if (idleExitSeconds > 0) {
        idleExit = std::make_unique<vserver::IdleExit>(bus, idleExitSeconds, [&service] { return service.computing(); });
        service.setCallerObserver([&idleExit](const QString& name) { idleExit->noteCaller(name); });
        QObject::connect(idleExit.get(), &vserver::IdleExit::idle, [&service, idleExitSeconds] {
            print(QStringLiteral("vantrel-server: никто не обращался к серверу %1 с, завершаю работу").arg(idleExitSeconds));
            service.close();
            QCoreApplication::quit();
        });
    }
    // Live trackers' ports, only when asked for; their batches are announced on the bus.
    const std::unique_ptr<trackers::TrackerServer> trackerServer = trackers::openListeners(storePath, listen, print);
    if (trackerServer)
        QObject::connect(trackerServer.get(), &trackers::TrackerServer::onlineData, &service,
                         &vserver::AutomationService::OnReceiveOnlineData);
    print(QStringLiteral("vantrel-server: работаю, хранилище ") + storePath);
    const int code = QCoreApplication::exec();
    service.close();
    return code;
}

int importGpx(const QCommandLineParser& parser, const QString& storePath) {
    vserver::GpxImportTarget target;
    target.group = parser.value(QStringLiteral("group"));
    target.car = parser.value(QStringLiteral("car"));
    target.number = parser.value(QStringLiteral("number"));
    target.append = parser.isSet(QStringLiteral("append"));
    bool ok = false;
    target.device = parser.value(QStringLiteral("device")).toInt(&ok);
    if (!ok)
        throw VantrelError(QStringLiteral("номер прибора --device должен быть целым числом"));
    const QStringList files = parser.positionalArguments().mid(1);
    if (files.isEmpty())
        throw VantrelError(QStringLiteral("не указан ни один файл GPX"));
    vserver::Store store(storePath); // a new store holds only what the files hold
    const vserver::GpxImportSummary summary = vserver::importGpx(store, target, files);
    print(QStringLiteral("Сохранено точек: %1, пропущено уже сохранённых: %2 (прибор %3, группа «%4»)")
              .arg(QString::number(summary.added), QString::number(summary.skipped),
                   QString::number(target.device), target.group));
    return 0;
}

int exportTrip(const QCommandLineParser& parser, const QString& storePath) {
    vserver::ExportRequest request;
    request.group = parser.value(QStringLiteral("group"));
    bool ok = false;
    request.device = parser.value(QStringLiteral("device")).toInt(&ok);
    if (!ok)
        throw VantrelError(QStringLiteral("номер прибора --device должен быть целым числом"));
    const auto moment = [&parser](const char* option) {
        const QString text = parser.value(QLatin1String(option));
        if (text.isEmpty())
            throw VantrelError(QStringLiteral("не задано --%1 «дд.мм.гггг чч:мм:сс»").arg(QLatin1String(option)));
        return datetime::parseText(text);
    };
    request.from = moment("from");
    request.to = moment("to");
    if (parser.isSet(QStringLiteral("trip"))) {
        request.trip = parser.value(QStringLiteral("trip")).toInt(&ok);
        if (!ok || request.trip < 1)
            throw VantrelError(QStringLiteral("номер рейса --trip должен быть целым числом от 1"));
    }
    const auto format = vserver::exportFormat(parser.value(QStringLiteral("format")));
    if (!format)
        throw VantrelError(QStringLiteral("формат --format: gpx, kml или geojson"));
    request.format = *format;
    request.path = parser.positionalArguments().value(1);
    if (request.path.isEmpty())
        throw VantrelError(QStringLiteral("не указан файл, в который писать"));
    if (!vserver::Store::isDatabaseUri(storePath) && !QFileInfo::exists(storePath))
        throw VantrelError(QStringLiteral("нет хранилища ") + storePath);
    const vserver::Store store(storePath);
    const vserver::ExportSummary summary = vserver::exportTrips(store, request);
    // One pass of arg(): a "%1" in the file's name stays as it is.
    print(QStringLiteral("Записано в %1: рейсов %2, точек %3, событий %4")
              .arg(request.path, QString::number(summary.trips), QString::number(summary.points),
                   QString::number(summary.events)));
    return 0;
}

int demoFleet(const QCommandLineParser& parser, const QString& storePath) {
    vserver::DemoFleetRequest request;
    bool ok = false;
    request.vehicles = parser.value(QStringLiteral("vehicles")).toInt(&ok);
    if (!ok)
        throw VantrelError(QStringLiteral("число машин --vehicles должно быть целым числом"));
    request.day = QDate::fromString(parser.value(QStringLiteral("day")), QStringLiteral("dd.MM.yyyy"));
    vserver::Store store(storePath);
    if (store.isEmpty()) // a new store gets the small demo set too, as the server would give it
        vserver::createDemoData(store);
    QElapsedTimer timer;
    timer.start();
    const QString group = vserver::createDemoFleet(store, request, [&request](int written) {
        if (written % 10 == 0 || written == request.vehicles)
            std::fprintf(stderr, "\rЗаписано машин: %d из %d", written, request.vehicles);
    });
    std::fprintf(stderr, "\n");
    print(QStringLiteral("Группа «%1» (%2): %3 машин, %4 позиций за %5 с")
              .arg(vserver::demoFleetGroupName(request), group, QString::number(request.vehicles),
                   QString::number(qint64(request.vehicles) * 86400), QString::number(timer.elapsed() / 1000.0, 'f', 1)));
    return 0;
}

int migrate(const QCommandLineParser& parser) {
    const QString from = parser.value(QStringLiteral("from")), to = parser.value(QStringLiteral("to"));
    if (from.isEmpty() || to.isEmpty())
        throw VantrelError(QStringLiteral("migrate: нужны --from ХРАНИЛИЩЕ и --to ХРАНИЛИЩЕ"));
    if (!vserver::Store::isDatabaseUri(from) && !QFileInfo::exists(from))
        throw VantrelError(QStringLiteral("нет хранилища ") + from);
    const vserver::Store source(from);
    vserver::Store target(to);
    const vserver::MigrationCounts counts = vserver::migrateStore(source, target);
    print(QStringLiteral("Перенесено в %1: групп %2, машин %3, сообщений %4, контрольных точек %5")
              .arg(to.section(QLatin1Char('?'), 0, 0), QString::number(counts.groups), QString::number(counts.cars),
                   QString::number(counts.messages), QString::number(counts.checkpoints)));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Before any thread or store: SQLite then keeps no global allocation statistics, whose mutex
    // every row stored or read would take.
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vantrel-server"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTREL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Сервер слежения Vantrel на сеансовой шине D-Bus (org.vantrel.Automation).\n"
        "Без команды работает как сервер; новое хранилище получает демонстрационные данные.\n"
        "Команды:\n"
        "  import-gpx ФАЙЛ.gpx…    сохранить треки GPX как сообщения одной машины\n"
        "  write-demo-map ПАПКА    записать демонстрационную карту\n"
        "  export ФАЙЛ             записать рейсы машины за период в GPX, KML или GeoJSON\n"
        "  migrate                 перенести хранилище --from в пустое хранилище --to\n"
        "  device add|list|remove  приборы слежения: --id ИДЕНТИФИКАТОР за прибором --device группы --group\n"
        "  simulate                имитировать приборы, шлющие позиции на --to АДРЕС:ПОРТ\n"
        "  demo-fleet              записать демонстрационный парк: --vehicles машин за сутки --day\n"
        "Хранилище: файл SQLite или база PostgreSQL (postgresql://пользователь@сервер/база)."));
    commandline::addHelpAndVersion(parser);
    parser.addOptions({
        {QStringLiteral("db"), QStringLiteral("Хранилище: файл SQLite (по умолчанию $XDG_DATA_HOME/vantrel/store.sqlite) "
                                              "или адрес базы PostgreSQL postgresql://…"),
         QStringLiteral("путь")},
        {QStringLiteral("group"), QStringLiteral("import-gpx: название группы; export, device add: идентификатор группы."), QStringLiteral("группа")},
        {QStringLiteral("car"), QStringLiteral("import-gpx: название машины."), QStringLiteral("машина")},
        {QStringLiteral("number"), QStringLiteral("import-gpx: регистрационный номер."), QStringLiteral("номер")},
        {QStringLiteral("device"), QStringLiteral("import-gpx, export, device add: номер прибора."), QStringLiteral("прибор")},
        {QStringLiteral("idle-exit"),
         QStringLiteral("Завершить работу, когда никто из обращавшихся клиентов не остался на шине и ничего не "
                        "считается столько секунд (0 — никогда; так по умолчанию)."),
         QStringLiteral("секунды"), QStringLiteral("0")},
        {QStringLiteral("from"), QStringLiteral("export: начало периода, «дд.мм.гггг чч:мм:сс»; migrate: откуда."), QStringLiteral("время")},
        {QStringLiteral("to"), QStringLiteral("export: конец периода, «дд.мм.гггг чч:мм:сс»; migrate: куда."), QStringLiteral("время")},
        {QStringLiteral("trip"), QStringLiteral("export: номер рейса (без него — все рейсы периода)."), QStringLiteral("K")},
        {QStringLiteral("format"), QStringLiteral("export: gpx, kml или geojson."), QStringLiteral("формат")},
        {QStringLiteral("vehicles"), QStringLiteral("demo-fleet: число машин (1…1000)."), QStringLiteral("N")},
        {QStringLiteral("day"), QStringLiteral("demo-fleet: сутки, «дд.мм.гггг»."), QStringLiteral("дата")},
        {QStringLiteral("append"),
         QStringLiteral("import-gpx: добавить точки к машине прибора, даже если у неё другое название или номер.")},
    });
    trackers::addOptions(parser);
    parser.addPositionalArgument(QStringLiteral("команда"), QStringLiteral("import-gpx, write-demo-map или export"),
                                 QStringLiteral("[команда]"));
    if (!parser.parse(QCoreApplication::arguments())) {
        print(QStringLiteral("vantrel-server: ") + parser.errorText() + QStringLiteral("\n") +
              commandline::russianHelp(parser));
        return 2;
    }
    if (commandline::answeredHelpOrVersion(parser))
        return 0;
    try {
        const QStringList positional = parser.positionalArguments();
        const QString command = positional.value(0);
        // Only the commands that use a store make its folder: a build writes nothing outside itself.
        const auto storePath = [&parser] {
            const QString given = parser.value(QStringLiteral("db"));
            return given.isEmpty() ? defaultStorePath() : given;
        };
        if (command.isEmpty()) {
            bool ok = false;
            const int idleExit = parser.value(QStringLiteral("idle-exit")).toInt(&ok);
            if (!ok || idleExit < 0)
                throw VantrelError(QStringLiteral("--idle-exit: нужно число секунд, 0 или больше"));
            return serve(storePath(), idleExit, trackers::listenOptions(parser));
        }
        if (command == QLatin1String("import-gpx"))
            return importGpx(parser, storePath());
        if (command == QLatin1String("export"))
            return exportTrip(parser, storePath());
        if (command == QLatin1String("demo-fleet"))
            return demoFleet(parser, storePath());
        if (command == QLatin1String("migrate"))
            return migrate(parser);
        if (command == QLatin1String("device"))
            return trackers::deviceCommand(parser, storePath(), print);
        if (command == QLatin1String("simulate"))
            return trackers::simulateCommand(parser, storePath(), print);
        if (command == QLatin1String("write-demo-map") && positional.size() == 2) {
            vserver::writeDemoMap(positional[1]);
            return 0;
        }
        print(QStringLiteral("vantrel-server: неизвестная команда «") + command + QStringLiteral("»\n") +
              commandline::russianHelp(parser));
        return 2;
    } catch (const std::exception& error) {
        print(QStringLiteral("vantrel-server: ") + QString::fromUtf8(error.what()));
        return 1;
    }
}
