#pragma once

#include <QCommandLineParser>
#include <QString>

namespace commandline {

// The parser's help in Russian whatever the locale: Qt writes its headings in English unless
// its own translations are installed.
QString russianHelp(const QCommandLineParser& parser);

// Adds -h/--help and -v/--version with Russian descriptions.
void addHelpAndVersion(QCommandLineParser& parser);

// Prints the help or the version and returns true when one was asked for.
bool answeredHelpOrVersion(const QCommandLineParser& parser);

} // namespace commandline
