// vantrel-server: the tracking server on the D-Bus session bus, and its tools.
//   vantrel-server [--db PATH]                      serve (a new store gets the demo data)
//   vantrel-server import-gpx [--db PATH] --group NAME --car NAME [--number TEXT] --device N FILE…
//   vantrel-server write-demo-map FOLDER
#include "AutomationService.h"
#include "DemoData.h"
#include "GpxImport.h"
#include "Store.h"
#include "VantrelError.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>
#include <csignal>
#include <cstdio>
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

void print(const QString& text) { std::fprintf(stderr, "%s\n", qPrintable(text)); }

int usage() {
    print(QStringLiteral(
        "Использование:\n"
        "  vantrel-server [--db ПУТЬ]\n"
        "  vantrel-server import-gpx [--db ПУТЬ] --group ГРУППА --car МАШИНА [--number НОМЕР] "
        "--device ПРИБОР ФАЙЛ.gpx…\n"
        "  vantrel-server write-demo-map ПАПКА"));
    return 2;
}

int serve(const QString& storePath) {
    const bool fresh = !QFileInfo::exists(storePath);
    vserver::Store store(storePath);
    if (fresh || store.isEmpty()) {
        print(QStringLiteral("vantrel-server: создаю демонстрационные данные в %1").arg(storePath));
        vserver::createDemoData(store);
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        print(QStringLiteral("vantrel-server: нет сеансовой шины D-Bus: %1").arg(bus.lastError().message()));
        return 1;
    }
    vserver::AutomationService service(storePath);
    QString reason;
    if (!service.publish(bus, &reason)) {
        print(QStringLiteral("vantrel-server: %1").arg(reason));
        return 1;
    }
    // SIGTERM and SIGINT end the server in order: goodbye to the clients, then exit.
    if (::pipe(signalPipe) == 0) {
        std::signal(SIGTERM, onSignal);
        std::signal(SIGINT, onSignal);
    }
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&service] {
        service.close();
        QCoreApplication::quit();
    });
    // A session bus that went away takes the server with it.
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, [&bus] {
        if (!bus.isConnected())
            QCoreApplication::quit();
    });
    watchdog.start(2000);
    print(QStringLiteral("vantrel-server: работаю, хранилище %1").arg(storePath));
    const int code = QCoreApplication::exec();
    service.close();
    return code;
}

int importGpx(QStringList args, const QString& storePath) {
    vserver::GpxImportTarget target;
    QStringList files;
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        const auto value = [&]() -> QString {
            if (args.isEmpty())
                throw VantrelError(QStringLiteral("после %1 нужно значение").arg(a));
            return args.takeFirst();
        };
        if (a == QLatin1String("--group"))
            target.group = value();
        else if (a == QLatin1String("--car"))
            target.car = value();
        else if (a == QLatin1String("--number"))
            target.number = value();
        else if (a == QLatin1String("--device"))
            target.device = value().toInt();
        else if (a.startsWith(QLatin1String("--")))
            throw VantrelError(QStringLiteral("неизвестный ключ %1").arg(a));
        else
            files << a;
    }
    if (files.isEmpty())
        throw VantrelError(QStringLiteral("не указан ни один файл GPX"));
    vserver::Store store(storePath);
    if (store.isEmpty())
        vserver::createDemoData(store);
    const qint64 stored = vserver::importGpx(store, target, files);
    print(QStringLiteral("Сохранено точек: %1 (прибор %2, группа «%3»)").arg(stored).arg(target.device).arg(target.group));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vantrel-server"));
    QStringList args = QCoreApplication::arguments().mid(1);
    try {
        QString command;
        if (!args.isEmpty() && !args.first().startsWith(QLatin1String("--")))
            command = args.takeFirst();
        QString storePath;
        const int db = args.indexOf(QStringLiteral("--db"));
        if (db >= 0) {
            if (db + 1 >= args.size())
                return usage();
            storePath = args[db + 1];
            args.remove(db, 2);
        }
        if (storePath.isEmpty())
            storePath = defaultStorePath();
        if (command.isEmpty() && args.isEmpty())
            return serve(storePath);
        if (command == QLatin1String("import-gpx"))
            return importGpx(args, storePath);
        if (command == QLatin1String("write-demo-map") && args.size() == 1) {
            vserver::writeDemoMap(args.first());
            return 0;
        }
        return usage();
    } catch (const std::exception& error) {
        print(QStringLiteral("vantrel-server: %1").arg(QString::fromUtf8(error.what())));
        return 1;
    }
}
