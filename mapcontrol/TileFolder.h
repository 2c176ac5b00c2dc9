#pragma once

#include <QRectF>
#include <QString>
#include <optional>

// A folder of map tiles named zoom/x/y.png (or .jpg, .jpeg, .webp), as tile makers and tile
// servers keep them: rows counted from the north, or from the south where a TMS
// tilemapresource.xml lies beside them. GDAL reads it as a tile service on the local disk;
// a missing tile is a blank piece of the map.
struct TileFolder {
    // What the folder holds; nothing when it holds no tiles so named.
    static std::optional<TileFolder> inspect(const QString& folder);
    // A GDAL WMS description that reads the tiles of the folder.
    QString gdalDescription() const;

    QString path;
    int zoom = 0; // the deepest level with tiles
    QString extension;
    int tileSize = 256;
    bool fromSouth = false;
    QRectF bounds;       // Web Mercator metres of the deepest level's tiles
    QString attribution; // from a metadata.json beside the tiles
};
