#include "CommandLineHelp.h"
#include "DateTimeValue.h"
#include "LargePages.h"
#include "MessageSink.h"
#include "SettingsLocation.h"
#include "TForm1.h"
#include "TMapvexControl.h"
#include "TVantrelAutomation.h"

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>

namespace {

// Read before the window exists, so that --help and --version work without a display.
QCommandLineParser* commandLine(int argc, char* argv[]) {
    static QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Плеер треков Vantrel: рейсы машин с сервера слежения на интерактивной карте.\n"
        "Сервер vantrel-server запускается сам, если его ещё нет на сеансовой шине D-Bus."));
    commandline::addHelpAndVersion(parser);
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

} // namespace

int main(int argc, char* argv[]) {
    largepages::restartWithHugePages(argv);
    QCoreApplication::setApplicationName(QStringLiteral("vantrel-player"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTREL_VERSION));
    const QCommandLineParser* parser = commandLine(argc, argv);
    if (!parser)
        return 2;
    if (commandline::answeredHelpOrVersion(*parser))
        return 0;

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Плеер Vantrel"));

    BoxMessageSink messages;
    PlayerEnvironment environment;
    environment.createServer = [&application]() -> IVantrelAutomation* {
        return new TVantrelAutomation(&application);
    };
    environment.createMap = [](QWidget* parent) {
        auto* control = new TMapvexControl(parent);
        return PlayerEnvironment::MapParts{control, control};
    };
    environment.messages = &messages;
    environment.now = [] { return datetime::fromQDateTime(QDateTime::currentDateTimeUtc()); };
    environment.settingsDirectory = settingslocation::settingsDirectory(QApplication::applicationDirPath());

    TForm1 form(environment);
    form.showMaximized();
    return QApplication::exec();
}
