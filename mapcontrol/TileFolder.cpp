#include "TileFolder.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>
#include <numbers>

namespace {

constexpr int kDeepestZoom = 22;  // a level's width in pixels must fit an int
constexpr double kHalfWorld = 20037508.342789244; // Web Mercator metres

QList<int> numbered(const QDir& dir, QDir::Filters filter, const QString& suffix = QString()) {
    QList<int> numbers;
    for (const QString& name : dir.entryList(filter)) {
        if (!suffix.isEmpty() && !name.endsWith(suffix, Qt::CaseInsensitive))
            continue;
        bool ok = false;
        const int n = name.left(name.size() - suffix.size()).toInt(&ok);
        if (ok && n >= 0)
            numbers << n;
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

} // namespace

std::optional<TileFolder> TileFolder::inspect(const QString& folder) {
    const QDir root(folder);
    QList<int> zooms = numbered(root, QDir::Dirs | QDir::NoDotAndDotDot);
    for (auto z = zooms.rbegin(); z != zooms.rend(); ++z) {
        if (*z > kDeepestZoom)
            continue;
        const QDir level(root.filePath(QString::number(*z)));
        const QList<int> columns = numbered(level, QDir::Dirs | QDir::NoDotAndDotDot);
        if (columns.isEmpty())
            continue;
        TileFolder tiles;
        tiles.path = root.absolutePath();
        tiles.zoom = *z;
        tiles.fromSouth = root.exists(QStringLiteral("tilemapresource.xml"));
        int top = INT_MAX, bottom = -1;
        // The rows of a few columns across the level: enough for where the tiles lie.
        for (int i = 0; i < 16; ++i) {
            const QDir column(level.filePath(QString::number(columns[i * (columns.size() - 1) / 15])));
            for (const QString& extension : {".png", ".jpg", ".jpeg", ".webp"}) {
                const QList<int> rows = numbered(column, QDir::Files, extension);
                if (rows.isEmpty())
                    continue;
                if (tiles.extension.isEmpty()) {
                    tiles.extension = extension.mid(1);
                    const QSize size = QImageReader(column.filePath(QString::number(rows.front()) + extension)).size();
                    tiles.tileSize = size.width() == 512 ? 512 : 256;
                }
                top = std::min(top, rows.front());
                bottom = std::max(bottom, rows.back());
            }
        }
        if (tiles.extension.isEmpty())
            continue;
        if (tiles.fromSouth)
            std::tie(top, bottom) = std::pair((1 << *z) - 1 - bottom, (1 << *z) - 1 - top);
        const double side = 2 * kHalfWorld / (1 << *z);
        tiles.bounds = QRectF(QPointF(-kHalfWorld + columns.front() * side, kHalfWorld - (bottom + 1) * side),
                              QPointF(-kHalfWorld + (columns.back() + 1) * side, kHalfWorld - top * side));
        QFile metadata(root.filePath(QStringLiteral("metadata.json")));
        if (metadata.size() < (1 << 20) && metadata.open(QIODevice::ReadOnly))
            tiles.attribution = QJsonDocument::fromJson(metadata.readAll()).object().value(QStringLiteral("attribution")).toString();
        return tiles;
    }
    return std::nullopt;
}

QString TileFolder::gdalDescription() const {
    const QString url = QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) +
                        QStringLiteral("/${z}/${x}/${y}.") + extension;
    return QStringLiteral(
               "<GDAL_WMS><Service name=\"TMS\"><ServerUrl>%1</ServerUrl></Service>"
               "<DataWindow><UpperLeftX>%2</UpperLeftX><UpperLeftY>%3</UpperLeftY>"
               "<LowerRightX>%3</LowerRightX><LowerRightY>%2</LowerRightY><TileLevel>%4</TileLevel>"
               "<TileCountX>1</TileCountX><TileCountY>1</TileCountY><YOrigin>%5</YOrigin></DataWindow>"
               "<Projection>EPSG:3857</Projection><BlockSizeX>%6</BlockSizeX><BlockSizeY>%6</BlockSizeY>"
               "<BandsCount>4</BandsCount><ZeroBlockHttpCodes>204,404</ZeroBlockHttpCodes>"
               "<ZeroBlockOnServerException>true</ZeroBlockOnServerException></GDAL_WMS>")
        .arg(url.toHtmlEscaped(), QString::number(-kHalfWorld, 'f', 6), QString::number(kHalfWorld, 'f', 6),
             QString::number(zoom), fromSouth ? QStringLiteral("bottom") : QStringLiteral("top"),
             QString::number(tileSize)); // in one pass: the path's %-escapes are no place markers
}
