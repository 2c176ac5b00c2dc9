#pragma once

#include "Viewport.h"

#include <QHash>
#include <QImage>
#include <vector>

// Square pieces of the static map on a grid fixed per scale, kept while they were seen lately:
// a pan or a re-centre draws only the pieces that came into view, and a vehicle driving back
// over ground it crossed before draws none.
class TileCache {
public:
    static constexpr int kTileSize = 256; // logical pixels

    struct Key {
        double metresPerPixel = 0;
        qreal ratio = 1;
        quint64 layers = 0; // the static layers' revision
        qint64 x = 0, y = 0; // the tile's column, and its row counted northwards
        bool operator==(const Key&) const = default;
    };

    explicit TileCache(qsizetype byteLimit = qsizetype(128) << 20) : byteLimit_(byteLimit) {}

    // The tiles that cover a view, row by row from its top left.
    static std::vector<Key> tilesFor(const Viewport& view, qreal ratio, quint64 layers);
    // Where a tile lies in the view, in logical pixels.
    static QRectF placeIn(const Viewport& view, const Key& key);
    // The view a tile is drawn in: its own square at the tile's scale.
    static Viewport viewOf(const Key& key, double dpi);

    const QImage* find(const Key& key);
    void insert(const Key& key, QImage image);
    qsizetype size() const { return tiles_.size(); }

private:
    struct Entry {
        QImage image;
        quint64 used = 0;
    };
    void evict();

    QHash<Key, Entry> tiles_;
    qsizetype bytes_ = 0;
    qsizetype byteLimit_;
    quint64 clock_ = 0;
};

size_t qHash(const TileCache::Key& key, size_t seed = 0) noexcept;
