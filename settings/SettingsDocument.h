#pragma once

#include "TInfoPoints.h"

#include <QDomDocument>
#include <QString>

// Everything the settings file holds, as a save writes it.
struct SettingsValues {
    QString mapPath;
    bool loadKT = false;
    bool loadIT = false;
    int groupId = -1;
    int carId = -1;
    double periodBegin = 0;
    double periodEnd = 0;
    QString speed;
    bool stops = true;
    QString cont;
    bool chartShown = true; // the speed chart under the map
    int infoPointsCount = 0;
    InfoPointDefinitions definitions;
};

// The player's settings file, VantrelSettings.xml: the root AppSettings, whose first child
// node is the settings element, whose children are found by name in any order. Every reader
// throws VantrelError with a readable text for a value that is missing or does not convert.
class SettingsDocument {
public:
    static const QString kNamespace;
    static const QString kFileName;
    // The map a new installation opens, as the default document names it.
    static const QString kDefaultMapPath;

    // The document a new installation starts with: 31 lines, UTF-8 with byte-order mark, CR LF.
    static QByteArray defaultDocument();
    // The one line written when a save finds no file.
    static QByteArray seedDocument();

    // Files above kLargestFile or nested deeper than kDeepest are refused before parsing.
    static constexpr qint64 kLargestFile = 1 << 20;
    static constexpr int kDeepest = 64;

    void loadFile(const QString& path);
    void parse(const QByteArray& content);

    // The first child node of the root.
    QDomNode settings() const;
    // The text of the first child element of that name; throws when missing or empty.
    QString text(const QString& name) const;
    bool boolean(const QString& name) const;
    // For elements later versions added: `fallback` when the document has no such element.
    bool boolean(const QString& name, bool fallback) const;
    int integer(const QString& name) const;
    double dateTime(const QString& name) const;
    // Every "x" or "X" removed, the rest a decimal integer.
    int speed(const QString& name) const;

    // The InfoPoints element; when missing, an empty one is added to the document in memory.
    QDomElement infoPoints();
    int infoPointsChildCount();
    // Definition N (from 1), from the child InfoPointsN; a missing child is added empty, so
    // reading it fails on its first attribute.
    TInfoPoints definition(int number);

    // Rewrites the settings element from `values`. With `keepInfoPoints`, the document's own
    // InfoPoints element and InfoPointsCount stay as they are (when it has them).
    void write(const SettingsValues& values, bool keepInfoPoints);
    QByteArray toBytes() const;

    // Writes the whole file beside the old one and renames it over it: never a truncated file.
    static void saveFile(const QString& path, const QByteArray& content);

    static bool parseBoolean(const QString& text);

private:
    static void checkDepth(const QByteArray& content);

    QDomDocument dom_;
};
