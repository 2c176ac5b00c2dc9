// Start-up as the operator meets it: the real vantrel-player process started on a virtual X
// server of its own (1280 x 800, ru_RU.UTF-8, Europe/Moscow) against the real vantrel-server on
// this bench's bus, whose store holds a day of a vehicle's drives through Monaco. The settings
// pick that vehicle and day and the Monaco extract, so the player computes the trips at once.
// Timed: from starting the process to the first frame that shows a trip listed over the painted
// map (the player's VANTREL_STARTUP_MARK line). The first start warms the page cache; the
// three after it are the warm starts the goal names.
// Run inside a session bus of its own: dbus-run-session -- bench_startup [player program]
#include "Goal.h"
#include "SettingsDocument.h"
#include "Store.h"
#include "XvfbDisplay.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>
#include <ctime>

namespace {

const QString kMonaco = QStringLiteral(VANTREL_SHARED_DATA) + "/osm/monaco-2016-03-05.osm.pbf";

// Three drives of 10,000 s through Monaco, a message a second, with 40 minutes parked between.
std::vector<vserver::Message> day() {
    std::vector<vserver::Message> messages;
    double time = 39873.25;
    for (int drive = 0; drive < 3; ++drive) {
        for (int i = 0; i < 10000; ++i, time += 1 / 86400.0)
            messages.push_back({time, 7.42 + 0.008 * std::sin(i * 1e-3),
                                43.735 + 0.006 * std::cos(i * 1.3e-3), 40});
        const vserver::Message parked = messages.back();
        for (int i = 0; i < 80; ++i, time += 30 / 86400.0)
            messages.push_back({time, parked.lon, parked.lat, 0});
    }
    return messages;
}

qint64 monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QString player = argc > 1
                               ? QString::fromLocal8Bit(argv[1])
                               : QCoreApplication::applicationDirPath() + "/../bin/vantrel-player";
    if (!QFile::exists(kMonaco)) {
        std::printf("FAILED: the OpenStreetMap extract %s is missing\n", qPrintable(kMonaco));
        return 1;
    }
    if (!QDBusConnection::sessionBus().isConnected()) {
        std::printf("FAILED: no session bus (run under dbus-run-session)\n");
        return 1;
    }
    XvfbDisplay display;
    if (!display.started())
        return 1;
    QTemporaryDir folder;
    const QString storePath = folder.filePath("startup.sqlite");
    {
        vserver::Store store(storePath);
        store.begin();
        store.addGroup({"bench", "Замер"});
        store.addCar({1, "bench", "Машина", "A001AA", 7001, ""});
        store.addMessages(7001, day());
        store.commit();
    }
    QProcess server;
    server.start(QCoreApplication::applicationDirPath() + "/../bin/vantrel-server",
                 {"--db", storePath});
    QElapsedTimer waited;
    waited.start();
    while (
        !QDBusConnection::sessionBus().interface()->isServiceRegistered("org.vantrel.Automation")) {
        if (waited.elapsed() > 30000) {
            std::printf("FAILED: the server did not start\n");
            return 1;
        }
        QThread::msleep(20);
    }
    // A player run from a writable folder keeps its settings beside itself: a copy here keeps
    // them in this bench's folder.
    const QString program = folder.filePath("vantrel-player");
    if (!QFile::copy(player, program)) {
        std::printf("FAILED: no player at %s\n", qPrintable(player));
        return 1;
    }
    QFile::setPermissions(program, QFile::permissions(player));
    const QString settings = QString::fromUtf8(SettingsDocument::defaultDocument())
                                 .replace(SettingsDocument::kDefaultMapPath, kMonaco)
                                 .replace("<GroupID>7</GroupID>", "<GroupID>0</GroupID>")
                                 .replace("<CarID>0</CarID>", "<CarID>0</CarID>");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("QT_QPA_PLATFORM");
    environment.insert("DISPLAY", QString::fromLatin1(display.name()));
    environment.insert("LANG", "ru_RU.UTF-8");
    environment.insert("LC_ALL", "ru_RU.UTF-8");
    environment.insert("TZ", "Europe/Moscow");
    environment.insert("VANTREL_STARTUP_MARK", "1");
    // The player's caches and data in this bench's folder, not the user's.
    for (const char* variable :
         {"XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"}) {
        QDir(folder.path()).mkpath(variable);
        environment.insert(variable, folder.filePath(variable));
    }

    // One start: the seconds until the mark, or a negative number with the reason printed.
    const auto start = [&](int run) {
        SettingsDocument::saveFile(folder.filePath(SettingsDocument::kFileName), settings.toUtf8());
        QProcess window;
        window.setProcessEnvironment(environment);
        window.setProcessChannelMode(QProcess::SeparateChannels);
        window.setStandardOutputFile(QProcess::nullDevice());
        window.setReadChannel(QProcess::StandardError);
        const qint64 startedAt = monotonicNs();
        window.start(program, {});
        QByteArray said;
        qint64 markedAt = 0;
        while (markedAt == 0 && window.state() != QProcess::NotRunning &&
               monotonicNs() - startedAt < 60e9) {
            window.waitForReadyRead(100);
            said += window.readAllStandardError();
            const int at = said.indexOf("vantrel-player: started ");
            if (at >= 0 && said.indexOf('\n', at) > 0)
                markedAt = said.mid(at + 24, said.indexOf('\n', at) - at - 24).toLongLong();
        }
        // BENCH_SCREEN=file.xwd keeps what the screen showed at the end of each start.
        if (!qEnvironmentVariableIsEmpty("BENCH_SCREEN")) {
            QFile::remove(qEnvironmentVariable("BENCH_SCREEN"));
            QFile::copy(display.screenFile(), qEnvironmentVariable("BENCH_SCREEN"));
        }
        window.terminate();
        if (!qEnvironmentVariableIsEmpty("BENCH_PLAYER_LOG")) // what the player said, for a look
            std::printf("%s", said.constData());
        if (!window.waitForFinished(10000)) {
            window.kill();
            window.waitForFinished();
        }
        if (markedAt == 0) {
            std::printf("FAILED: start %d showed no trip over the map within a minute: %s\n", run,
                        said.constData());
            return -1.0;
        }
        return (markedAt - startedAt) / 1e9;
    };
    std::vector<double> warm;
    for (int run = 0; run < 4; ++run) {
        const double seconds = start(run + 1);
        if (seconds < 0)
            return 1;
        std::printf("start %d%s: %.3f s to the first trip listed over the painted map\n", run + 1,
                    run == 0 ? " (warming the page cache)" : "", seconds);
        if (run > 0)
            warm.push_back(seconds);
    }
    server.terminate();
    server.waitForFinished();
    reportGoal("start-up to the first trip listed and the map painted, warm", median(warm), "s",
               0.6);
    return 0;
}
