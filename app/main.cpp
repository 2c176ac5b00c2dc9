#include "CommandLineHelp.h"
#include "DateTimeValue.h"
#include "FleetLoader.h"
#include "LocalAutomation.h"
#include "MessageSink.h"
#include "RunningPlayer.h"
#include "SettingsDocument.h"
#include "SettingsLocation.h"
#include "StartupMark.h"
#include "TForm1.h"
#include "TMapvexControl.h"
#include "TVantrelAutomation.h"
#include "TripSheet.h"
#include "VantrelError.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QStandardPaths>
#include <QTimer>
#include <QTranslator>
#include <cstdio>

namespace {

// Read before the window exists, so that --help and --version work without a display.
QCommandLineParser* commandLine(int argc, char* argv[]) {
    static QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Плеер треков Vantrel: рейсы машин с сервера слежения на интерактивной карте.\n"
        "Сервер vantrel-server запускается сам, если его ещё нет на сеансовой шине D-Bus."));
    commandline::addHelpAndVersion(parser);
    // The fleet view; its period is given with --from and --to, as the report's.
    parser.addOptions({
        {QStringLiteral("fleet"), QStringLiteral("Открыть весь парк группы (идентификатор или название) за период --from … --to."), QStringLiteral("группа")},
        {QStringLiteral("at"), QStringLiteral("--fleet: момент, с которого начать, «дд.мм.гггг чч:мм:сс»."), QStringLiteral("время")},
    });
    parser.addOptions({
        {QStringLiteral("report"), QStringLiteral("Записать лист рейсов в PDF и выйти (без окна)."), QStringLiteral("файл.pdf")},
        {QStringLiteral("group"), QStringLiteral("--report: группа (идентификатор или название)."), QStringLiteral("группа")},
        {QStringLiteral("device"), QStringLiteral("--report: номер прибора."), QStringLiteral("прибор")},
        {QStringLiteral("from"), QStringLiteral("--report: начало периода, «дд.мм.гггг чч:мм:сс»."), QStringLiteral("время")},
        {QStringLiteral("to"), QStringLiteral("--report: конец периода, «дд.мм.гггг чч:мм:сс»."), QStringLiteral("время")},
        {QStringLiteral("trip"), QStringLiteral("--report: номер рейса (без него — все рейсы)."), QStringLiteral("K")},
        {QStringLiteral("landscape"), QStringLiteral("--report: альбомные страницы A4 (без него — книжные).")},
        {QStringLiteral("db"), QStringLiteral("--report: хранилище сервера (файл SQLite или адрес PostgreSQL); по умолчанию то, что сервер берёт без --db."), QStringLiteral("хранилище")},
    });
    parser.addPositionalArgument(QStringLiteral("файлы"), QStringLiteral("Треки GPX, KML или GeoJSON, которые показать в окне."),
                                 QStringLiteral("[файл…]"));
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "vantrel-player: %s\n%s", parser.errorText().toUtf8().constData(),
                     commandline::russianHelp(parser).toUtf8().constData());
        return nullptr;
    }
    return &parser;
}

// The trip sheet of --report, written without a window. It is computed in this process on the
// server's store, so that it neither waits for nor moves the server that a window may be using.
int writeReport(const QCommandLineParser& parser) {
    try {
        tripsheet::Request request;
        request.group = parser.value(QStringLiteral("group"));
        bool ok = false;
        request.device = parser.value(QStringLiteral("device")).toInt(&ok);
        if (!ok)
            throw VantrelError(QStringLiteral("номер прибора --device должен быть целым числом"));
        request.from = parser.value(QStringLiteral("from"));
        request.to = parser.value(QStringLiteral("to"));
        if (request.from.isEmpty() || request.to.isEmpty())
            throw VantrelError(QStringLiteral("нужны --from и --to «дд.мм.гггг чч:мм:сс»"));
        datetime::parseText(request.from);
        datetime::parseText(request.to);
        if (parser.isSet(QStringLiteral("trip"))) {
            request.trip = parser.value(QStringLiteral("trip")).toInt(&ok);
            if (!ok || request.trip < 1)
                throw VantrelError(QStringLiteral("номер рейса --trip должен быть целым числом от 1"));
        }
        // The map and the info-point kinds of the user's settings, when there are any.
        QString mapPath = SettingsDocument::kDefaultMapPath;
        InfoPointDefinitions definitions = defaultInfoPointDefinitions();
        try {
            SettingsDocument settings;
            settings.loadFile(QDir(settingslocation::settingsDirectory(QCoreApplication::applicationDirPath()))
                                  .filePath(SettingsDocument::kFileName));
            mapPath = settings.text(QStringLiteral("MapPath"));
        } catch (const std::exception&) {
        }
        LocalAutomation server(parser.isSet(QStringLiteral("db")) ? parser.value(QStringLiteral("db"))
                                                                 : LocalAutomation::defaultStorePath());
        const TripSheet sheet =
            tripsheet::gather(server, definitions, request, [&server] { tripsheet::waitForComputation(server); });
        tripsheet::PageOptions options;
        options.landscape = parser.isSet(QStringLiteral("landscape"));
        options.author = tripsheet::operatorName();
        tripsheet::writePdf(sheet, parser.value(QStringLiteral("report")), mapPath,
                            [&](int trip) { return tripsheet::readTrip(server, definitions, trip); }, options,
                            TMapvexControl::mapsFolders());
        std::fprintf(stderr, "vantrel-player: лист рейсов записан в %s\n", parser.value(QStringLiteral("report")).toUtf8().constData());
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vantrel-player: %s\n", error.what());
        return 1;
    }
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationName(QStringLiteral("vantrel-player"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTREL_VERSION));
    const QCommandLineParser* parser = commandLine(argc, argv);
    if (!parser)
        return 2;
    if (commandline::answeredHelpOrVersion(*parser))
        return 0;
    if (parser->isSet(QStringLiteral("report"))) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen"); // a scheduled job has no display
        QGuiApplication application(argc, argv);
        return writeReport(*parser);
    }

    std::optional<PlayerEnvironment::FleetStart> fleet;
    if (parser->isSet(QStringLiteral("fleet"))) {
        const auto moment = [parser](const char* option) {
            try {
                return datetime::parseText(parser->value(QLatin1String(option)));
            } catch (const std::exception& error) {
                throw VantrelError(QStringLiteral("--%1: %2")
                                       .arg(QLatin1String(option), QString::fromUtf8(error.what())));
            }
        };
        try {
            fleet = PlayerEnvironment::FleetStart{parser->value(QStringLiteral("fleet")), moment("from"), moment("to")};
            FleetLoader::checkPeriod(fleet->from, fleet->to);
            if (parser->isSet(QStringLiteral("at")))
                fleet->at = moment("at");
        } catch (const std::exception& error) {
            std::fprintf(stderr, "vantrel-player: --fleet: %s\n", error.what());
            return 2;
        }
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Плеер Vantrel"));
    // Qt's own dialogs (files, printing, message buttons) in the user's language.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);

    BoxMessageSink messages;
    PlayerEnvironment environment;
    environment.createServer = [&application]() -> IVantrelAutomation* {
        return new TVantrelAutomation(&application);
    };
    environment.createSheetServer = [](const QString& storePath) -> std::unique_ptr<IVantrelAutomation> {
        return std::make_unique<LocalAutomation>(storePath.isEmpty() ? LocalAutomation::defaultStorePath() : storePath);
    };
    TMapvexControl* map = nullptr;
    environment.createMap = [&map](QWidget* parent) {
        map = new TMapvexControl(parent);
        map->setMapCacheFolder(
            QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
            QStringLiteral("/vantrel/maps"));
        return PlayerEnvironment::MapParts{map, map};
    };
    environment.messages = &messages;
    environment.now = [] { return datetime::fromQDateTime(QDateTime::currentDateTimeUtc()); };
    environment.settingsDirectory = settingslocation::settingsDirectory(QApplication::applicationDirPath());
    for (const QString& file : parser->positionalArguments())
        environment.filesToOpen << QFileInfo(file).absoluteFilePath();

    environment.fleetAtStart = fleet;
    if ((!environment.filesToOpen.isEmpty() || fleet) && RunningPlayer::forward(environment.filesToOpen, fleet)) {
        std::fprintf(stderr, "vantrel-player: передано уже открытому окну плеера\n");
        return 0;
    }
    TForm1 form(environment);
    if (StartupMark::wanted() && map)
        new StartupMark(*form.ui().ListView1, *map);
    RunningPlayer running;
    running.registerOnSessionBus([&form](const QStringList& files,
                                         const std::optional<PlayerEnvironment::FleetStart>& fleet) {
        form.openRequested(files, fleet);
    });
    form.showMaximized();
    return QApplication::exec();
}
