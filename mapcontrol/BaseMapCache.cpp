#include "BaseMap.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

// The contents of a vector map file once read, in this program's own binary form: opening the
// map again reads them back instead of parsing the file with GDAL. They are kept under the
// file's path and hold its size and modification time, so a changed file is read anew.
namespace {

constexpr quint32 kMagic = 0x56544d43; // "VTMC"
constexpr quint32 kFormat = 1;         // raised whenever what is kept changes

QString keyOf(const QFileInfo& file) {
    return QStringLiteral("%1|%2|%3")
        .arg(file.absoluteFilePath())
        .arg(file.size())
        .arg(file.lastModified().toMSecsSinceEpoch());
}

// One file a map: a changed map's contents replace those kept before.
QString cacheFile(const QString& folder, const QFileInfo& file) {
    const QByteArray path = file.absoluteFilePath().toUtf8();
    return QDir(folder).filePath(
        QString::fromLatin1(QCryptographicHash::hash(path, QCryptographicHash::Sha1).toHex()) +
        QStringLiteral(".map"));
}

void writePoints(QDataStream& out, const std::vector<QPointF>& points) {
    out << quint32(points.size());
    out.writeRawData(reinterpret_cast<const char*>(points.data()),
                     int(points.size() * sizeof(QPointF)));
}

bool readPoints(QDataStream& in, std::vector<QPointF>& points) {
    quint32 count = 0;
    in >> count;
    if (in.status() != QDataStream::Ok ||
        qint64(count) * qint64(sizeof(QPointF)) > in.device()->bytesAvailable())
        return false;
    points.resize(count);
    const int bytes = int(count * sizeof(QPointF));
    return in.readRawData(reinterpret_cast<char*>(points.data()), bytes) == bytes;
}

// A count of records that each take at least `smallest` bytes, checked against what is left.
bool readCount(QDataStream& in, quint32& count, int smallest) {
    in >> count;
    return in.status() == QDataStream::Ok &&
           qint64(count) * smallest <= in.device()->bytesAvailable();
}

void writeRings(QDataStream& out, const std::vector<coastline::Ring>& rings) {
    out << quint32(rings.size());
    for (const coastline::Ring& ring : rings)
        writePoints(out, ring);
}

bool readRings(QDataStream& in, std::vector<coastline::Ring>& rings) {
    quint32 count = 0;
    if (!readCount(in, count, 4))
        return false;
    rings.resize(count);
    for (coastline::Ring& ring : rings)
        if (!readPoints(in, ring))
            return false;
    return true;
}

} // namespace

bool BaseMap::readCache(const QString& folder, const QFileInfo& file, Contents& into) {
    const QString key = keyOf(file);
    QFile stored(cacheFile(folder, file));
    if (!stored.open(QIODevice::ReadOnly))
        return false;
    // Read from memory: a file's size, which the checks below ask for, is a system call each time.
    const uchar* bytes = stored.size() > 0 ? stored.map(0, stored.size()) : nullptr;
    if (!bytes)
        return false;
    const QByteArray data =
        QByteArray::fromRawData(reinterpret_cast<const char*>(bytes), qsizetype(stored.size()));
    QDataStream in(data);
    in.setVersion(QDataStream::Qt_6_4);
    quint32 magic = 0, format = 0;
    QString storedKey;
    in >> magic >> format >> storedKey;
    if (magic != kMagic || format != kFormat || storedKey != key)
        return false;
    Contents contents;
    quint32 lines = 0, areas = 0, places = 0;
    in >> contents.bounds >> contents.extent >> contents.attribution >> contents.warnings;
    if (!readCount(in, lines, 40))
        return false;
    contents.lines.resize(lines);
    for (Line& line : contents.lines) {
        qint32 kind = 0;
        in >> kind >> line.name >> line.bounds;
        if (kind < Motorway || kind > OtherLine || !readPoints(in, line.points))
            return false;
        line.kind = LineClass(kind);
    }
    if (!readCount(in, areas, 40))
        return false;
    contents.areas.resize(areas);
    for (Area& area : contents.areas) {
        qint32 kind = 0;
        in >> kind >> area.bounds;
        if (kind < OtherArea || kind > Building || !readPoints(in, area.points))
            return false;
        area.kind = AreaClass(kind);
    }
    if (!readCount(in, places, 28))
        return false;
    contents.places.resize(places);
    for (placelabels::Place& place : contents.places) {
        qint32 rank = 0;
        in >> place.point >> place.name >> rank >> place.population;
        place.rank = rank;
    }
    qint32 unjoined = 0;
    if (!readRings(in, contents.sea.water) || !readRings(in, contents.sea.islands))
        return false;
    in >> unjoined;
    contents.sea.unjoined = unjoined;
    if (in.status() != QDataStream::Ok || !in.atEnd())
        return false;
    into = std::move(contents);
    return true;
}

void BaseMap::writeCache(const QString& folder, const QFileInfo& file, const Contents& from) {
    // A map that cannot be kept is read from its file next time, without a word.
    if (!QDir().mkpath(folder))
        return;
    const QString key = keyOf(file);
    QSaveFile stored(cacheFile(folder, file));
    if (!stored.open(QIODevice::WriteOnly))
        return;
    QDataStream out(&stored);
    out.setVersion(QDataStream::Qt_6_4);
    out << kMagic << kFormat << key;
    out << from.bounds << from.extent << from.attribution << from.warnings;
    out << quint32(from.lines.size());
    for (const Line& line : from.lines) {
        out << qint32(line.kind) << line.name << line.bounds;
        writePoints(out, line.points);
    }
    out << quint32(from.areas.size());
    for (const Area& area : from.areas) {
        out << qint32(area.kind) << area.bounds;
        writePoints(out, area.points);
    }
    out << quint32(from.places.size());
    for (const placelabels::Place& place : from.places)
        out << place.point << place.name << qint32(place.rank) << place.population;
    writeRings(out, from.sea.water);
    writeRings(out, from.sea.islands);
    out << qint32(from.sea.unjoined);
    if (out.status() == QDataStream::Ok)
        stored.commit();
}
