#include "TileCache.h"

#include <algorithm>
#include <cmath>

size_t qHash(const TileCache::Key& key, size_t seed) noexcept {
    return qHashMulti(seed, key.metresPerPixel, key.ratio, key.layers, key.x, key.y);
}

std::vector<TileCache::Key> TileCache::tilesFor(const Viewport& view, qreal ratio, quint64 layers) {
    const double mpp = view.metresPerPixel();
    const double side = kTileSize * mpp;
    const QRectF visible = view.visibleMercator();
    const auto first = [&](double v) { return qint64(std::floor(v / side)); };
    std::vector<Key> keys;
    for (qint64 y = first(visible.bottom()); y >= first(visible.top()); --y)
        for (qint64 x = first(visible.left()); x <= first(visible.right()); ++x)
            keys.push_back({mpp, ratio, layers, x, y});
    return keys;
}

QRectF TileCache::placeIn(const Viewport& view, const Key& key) {
    const double side = kTileSize * key.metresPerPixel;
    const QPointF topLeft = view.toScreen(QPointF(key.x * side, (key.y + 1) * side));
    return QRectF(topLeft, QSizeF(kTileSize, kTileSize));
}

Viewport TileCache::viewOf(const Key& key, double dpi) {
    const double side = kTileSize * key.metresPerPixel;
    Viewport view;
    view.centre = QPointF((key.x + 0.5) * side, (key.y + 0.5) * side);
    view.dpi = dpi;
    view.size = QSize(kTileSize, kTileSize);
    // The scale that gives this tile the grid's metres per pixel at its own centre.
    view.scale = 1;
    view.scale = key.metresPerPixel / view.metresPerPixel();
    return view;
}

const QImage* TileCache::find(const Key& key) {
    const auto found = tiles_.find(key);
    if (found == tiles_.end())
        return nullptr;
    found->used = ++clock_;
    return &found->image;
}

void TileCache::insert(const Key& key, QImage image) {
    if (const auto old = tiles_.find(key); old != tiles_.end())
        bytes_ -= old->image.sizeInBytes();
    bytes_ += image.sizeInBytes();
    tiles_.insert(key, {std::move(image), ++clock_});
    evict();
}

void TileCache::evict() {
    while (bytes_ > byteLimit_ && tiles_.size() > 1) {
        const auto oldest = std::min_element(tiles_.begin(), tiles_.end(),
                                             [](const Entry& a, const Entry& b) { return a.used < b.used; });
        bytes_ -= oldest->image.sizeInBytes();
        tiles_.erase(oldest);
    }
}
