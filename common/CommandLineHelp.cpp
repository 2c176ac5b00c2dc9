#include "CommandLineHelp.h"

#include <QCoreApplication>
#include <cstdio>

namespace commandline {

QString russianHelp(const QCommandLineParser& parser) {
    QString text = parser.helpText();
    text.replace(QStringLiteral("Usage: "), QStringLiteral("Использование: "));
    // Read before the application object exists, Qt knows no program name yet.
    text.replace(QStringLiteral("<executable_name>"), QCoreApplication::applicationName());
    text.replace(QStringLiteral("[options]"), QStringLiteral("[ключи]"));
    text.replace(QStringLiteral("Options:"), QStringLiteral("Ключи:"));
    text.replace(QStringLiteral("Arguments:"), QStringLiteral("Аргументы:"));
    return text;
}

void addHelpAndVersion(QCommandLineParser& parser) {
    parser.addOption({{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Показать эту справку.")});
    parser.addOption({{QStringLiteral("v"), QStringLiteral("version")}, QStringLiteral("Показать версию.")});
}

bool answeredHelpOrVersion(const QCommandLineParser& parser) {
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(russianHelp(parser).toUtf8().constData(), stdout);
        return true;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::fputs((QCoreApplication::applicationName() + QLatin1Char(' ') +
                    QCoreApplication::applicationVersion() + QLatin1Char('\n')).toUtf8().constData(), stdout);
        return true;
    }
    return false;
}

} // namespace commandline
