#include "TMapvexControl.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStandardPaths>
#include <QThreadPool>
#include <QToolTip>
#include <QWheelEvent>
#include <QtConcurrent>
#include <cmath>

TMapvexControl::TMapvexControl(QWidget* parent) : QWidget(parent), frameTimer_([this] { frame(); }) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true); // hovering a picture shows its text
    setMinimumSize(100, 100);
    // A view or layers that changed start their missing tiles at once, not when the next frame
    // is due: the frame then finds them drawn or nearly so.
    renderTimer_.setSingleShot(true);
    connect(&renderTimer_, &QTimer::timeout, this, [this] {
        if (isVisible() && !synchronous_ && !upToDate())
            composeFromTiles();
    });
    view_.centre = mercator::project(37.6173, 55.7558);
    view_.dpi = logicalDpiX() > 0 ? logicalDpiX() : 96;
    view_.size = size();
}

QStringList TMapvexControl::mapsFolders() {
    const QDir programs(QCoreApplication::applicationDirPath());
    return {programs.filePath(QStringLiteral("maps")),
            programs.filePath(QStringLiteral("../share/vantrel/maps")),
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/vantrel/maps")};
}

QFuture<std::pair<int, BaseMap>>
TMapvexControl::readMap(const QString& path, std::shared_ptr<std::atomic_bool> cancelled) const {
    BaseMap::Options options{mapCacheFolder_, nullptr};
    return QtConcurrent::run([path, options, cancelled, folders = mapsFolders()]() mutable {
        BaseMap map;
        options.cancelled = cancelled.get();
        const int result = map.load(path, folders, options);
        return std::pair{result, map};
    });
}

int TMapvexControl::LoadMap(const QString& path, const QString& options) {
    Q_UNUSED(options);
    settle();
    cancelMapReading(); // this one is newer
    // GDAL reads on a worker; the window keeps painting (user input waits) and shows it is busy.
    QApplication::setOverrideCursor(Qt::BusyCursor);
    const int centredBefore = centrings_;
    QFutureWatcher<std::pair<int, BaseMap>> reading;
    QEventLoop loop;
    connect(&reading, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    reading.setFuture(readMap(path, std::make_shared<std::atomic_bool>(false)));
    if (!reading.isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    QApplication::restoreOverrideCursor();
    auto [result, map] = reading.result();
    return showMap(result, std::move(map), centredBefore);
}

void TMapvexControl::LoadMapLater(const QString& path, const QString& options,
                                  std::function<void(int)> opened) {
    Q_UNUSED(options);
    settle();
    cancelMapReading();
    QApplication::setOverrideCursor(Qt::BusyCursor);
    auto* watcher = new QFutureWatcher<std::pair<int, BaseMap>>(this);
    mapReading_ = MapReading{watcher, std::make_shared<std::atomic_bool>(false), centrings_};
    connect(watcher, &QFutureWatcherBase::finished, this,
            [this, watcher, opened = std::move(opened)] {
                const int centredBefore = mapReading_->centredBefore;
                mapReading_.reset();
                watcher->deleteLater();
                QApplication::restoreOverrideCursor();
                auto [result, map] = watcher->result();
                const int code = showMap(result, std::move(map), centredBefore);
                if (opened)
                    opened(code);
            });
    watcher->setFuture(readMap(path, mapReading_->cancelled));
}

void TMapvexControl::cancelMapReading() {
    if (!mapReading_)
        return;
    // The worker gives up at its next feature; what it read is dropped with its watcher.
    mapReading_->cancelled->store(true);
    mapReading_->watcher->disconnect(this);
    mapReading_->watcher->deleteLater();
    mapReading_.reset();
    QApplication::restoreOverrideCursor();
}

int TMapvexControl::showMap(int result, BaseMap map, int centredBefore) {
    loadFailure_ = map.failure();
    if (result != 0) {
        qWarning("%s", qUtf8Printable(loadFailure_));
        return result;
    }
    for (const QString& warning : map.warnings())
        qWarning("%s", qUtf8Printable(warning));
    const QRectF bounds = map.bounds();
    // The map replaced is let go on a worker: freeing a large one (its features, a raster's
    // blocks) would keep the window from its events.
    QThreadPool::globalInstance()->start(
        [previous = scene_.baseMap()]() mutable { previous = BaseMap(); });
    scene_.setBaseMap(std::move(map));
    ++mapsLoaded_;
    // A view centred while the map was read (a trip loaded meanwhile) is kept.
    if (!bounds.isNull() && centrings_ == centredBefore)
        view_.centre = bounds.center();
    invalidateCache();
    return 0;
}

int TMapvexControl::AddLayer(const QString& definition, const QString& style, IMapTable* table) {
    // The playback clock publishes the vehicle on every tick, far more often than frames are
    // painted: a live layer's publication waits for the frame.
    // One that waits is live: nothing was published since it was found so, as every publication
    // first publishes what waits.
    const auto* source = dynamic_cast<const MapTable*>(table);
    const auto sent = std::find_if(waiting_.begin(), waiting_.end(),
                                   [&](const Publication& p) { return p.definition == definition; });
    if (source && sent != waiting_.end()) { // replaced in the storage it had, and moved last
        sent->style = style;
        sent->table = *source;
        std::rotate(sent, sent + 1, waiting_.end());
        scheduleFrame();
        return 0;
    }
    if (source && scene_.isLive(definition)) {
        waiting_.push_back({definition, style, *source});
        scheduleFrame();
        return 0;
    }
    QString longText;
    if (source && !synchronous_ && (reading_ || needsReading(*source, &longText))) {
        afterReading_.push_back({definition, style, *source});
        if (!reading_)
            readAside(longText);
        return 0;
    }
    settle();
    const int result = publish(definition, style, table);
    scheduleFrame();
    return result;
}

int TMapvexControl::publish(const QString& definition, const QString& style, IMapTable* table) {
    const quint64 revision = scene_.staticRevision();
    const int result = scene_.addLayer(definition, style, table);
    if (result == 0)
        keepSymbolInView(scene_.lastPublished());
    if (scene_.staticRevision() != revision)
        renderTimer_.start(0);
    return result;
}

bool TMapvexControl::needsReading(const MapTable& table, QString* text) const {
    for (const QStringList& record : table.records())
        for (const QString& value : record)
            if (scene_.needsReading(value)) {
                if (text)
                    *text = value;
                return true;
            }
    return false;
}

void TMapvexControl::readAside(const QString& text) {
    readingText_ = text;
    reading_ = std::make_unique<QFutureWatcher<std::optional<Geometry>>>();
    connect(reading_.get(), &QFutureWatcherBase::finished, this, [this] { readingDone(); });
    reading_->setFuture(QtConcurrent::run([text] { return MapScene::readGeometry(text); }));
}

void TMapvexControl::readingDone() {
    const auto reading = std::move(reading_);
    scene_.keepGeometry(std::exchange(readingText_, {}), reading->future().takeResult());
    publishWaitingForReading();
}

// Publishes what waited, in order, up to the next one that needs reading.
void TMapvexControl::publishWaitingForReading() {
    std::vector<Publication> waiting = std::exchange(afterReading_, {});
    for (size_t i = 0; i < waiting.size(); ++i) {
        QString longText;
        if (needsReading(waiting[i].table, &longText)) {
            afterReading_.assign(std::make_move_iterator(waiting.begin() + qsizetype(i)),
                                 std::make_move_iterator(waiting.end()));
            readAside(longText);
            return;
        }
        settle();
        publish(waiting[i].definition, waiting[i].style, &waiting[i].table);
    }
    scheduleFrame();
}

void TMapvexControl::finishReading() {
    while (reading_) {
        reading_->waitForFinished();
        readingDone();
    }
}

void TMapvexControl::settle() {
    if (waiting_.empty())
        return;
    std::vector<Publication> waiting;
    waiting.swap(waiting_);
    for (Publication& publication : waiting)
        publish(publication.definition, publication.style, &publication.table);
    waiting.clear();
    if (waiting_.empty())
        waiting_.swap(waiting); // its storage kept for the next ticks' publications
}

void TMapvexControl::keepSymbolInView(const MapScene::Layer* layer) {
    constexpr qint64 kUserPriorityMs = 10000; // a map the user just moved stays where it is
    if (userMoved_.isValid() && userMoved_.elapsed() < kUserPriorityMs)
        return;
    if (!layer || !layer->pointLayer || width() < 50 || height() < 50)
        return;
    const Viewport view = frameView();
    const QRectF middle = QRectF(rect()).adjusted(width() * 0.1, height() * 0.1, -width() * 0.1, -height() * 0.1);
    for (const MapScene::Feature& feature : layer->features) {
        if (feature.style.kind != MapStyle::Kind::Symbol)
            continue;
        if (!middle.contains(view.toScreen(feature.points.front()))) {
            view_.centre = feature.points.front();
            invalidateCache();
        }
        return;
    }
}

void TMapvexControl::SetCurScale(double scale) {
    settle();
    if (!std::isfinite(scale) || scale < 100 || scale > 1e9)
        return;
    view_.scale = scale;
    invalidateCache();
}

void TMapvexControl::CenterOn(double latitude, double longitude) {
    settle();
    if (!std::isfinite(latitude) || !std::isfinite(longitude))
        return;
    view_.centre = mercator::project(longitude, latitude);
    ++centrings_;
    invalidateCache();
}

void TMapvexControl::SetSymbolImage(const QString& name, const QImage& image) {
    settle();
    scene_.setPicture(name, image);
    scheduleFrame();
}

bool TMapvexControl::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        settle();
        auto* help = static_cast<QHelpEvent*>(event);
        const MapScene::Hit hit = scene_.pictureAt(frameView(), help->pos());
        if (hit.feature && !hit.feature->hint.isEmpty())
            QToolTip::showText(help->globalPos(), hit.feature->hint, this);
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

void TMapvexControl::frame() {
    settle();
    // Only the live layers moved over an image that still fits: repaint where they were and
    // where they are, not the whole map.
    if (upToDate() && !fullFrameDue_)
        update(paintedLive_ | scene_.liveBounds(frameView()).toAlignedRect());
    else
        update();
}

void TMapvexControl::scheduleFrame() {
    frameTimer_.start(16); // a frame already asked for comes first
}

void TMapvexControl::invalidateCache() {
    ++viewGeneration_;
    fullFrameDue_ = true;
    renderTimer_.start(0);
    scheduleFrame();
}

Viewport TMapvexControl::frameView() const {
    Viewport view = view_;
    view.size = size();
    return view;
}

bool TMapvexControl::composeFromTiles() {
    // Tiles drawn now would lack the trail being read and be drawn again once it is.
    if (reading_)
        return false;
    const Viewport view = frameView();
    const qreal ratio = devicePixelRatioF();
    const std::vector<TileCache::Key> keys = TileCache::tilesFor(view, ratio, scene_.staticRevision());
    std::vector<TileCache::Key> missing;
    for (const TileCache::Key& key : keys)
        if (!tiles_.find(key))
            missing.push_back(key);
    if (!missing.empty()) {
        startRender(std::move(missing));
        return false;
    }
    QImage image(view.size * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    QPainter painter(&image);
    for (const TileCache::Key& key : keys)
        painter.drawImage(TileCache::placeIn(view, key).topLeft(), *tiles_.find(key));
    painter.end();
    cache_ = std::move(image);
    cacheView_ = view;
    cacheKey_ = currentKey();
    return true;
}

namespace {
// A tile to draw, with its base-map piece when one is kept; what a worker gives back.
struct TileJob {
    TileCache::Key key, baseKey;
    QImage base;
};
struct DrawnTile {
    TileCache::Key key, baseKey;
    QImage image, newBase;
};

QImage blankTile(qreal ratio) {
    const int side = int(std::ceil(TileCache::kTileSize * ratio));
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    return image;
}

// The tile workers: two, as the machine has two cores to share a view's tiles, and their own so
// that a view's tiles and work on the global pool (a long trail read) never wait for each other.
Q_GLOBAL_STATIC(QThreadPool, tileWorkers)

QThreadPool* tilePool() {
    static const bool sized = [] {
        tileWorkers()->setMaxThreadCount(2);
        return true;
    }();
    Q_UNUSED(sized);
    return tileWorkers();
}

DrawnTile drawTile(const TileJob& job, const MapScene::StaticPart& part, double dpi) {
    const Viewport view = TileCache::viewOf(job.key, dpi);
    DrawnTile drawn{job.key, job.baseKey, job.base, {}};
    if (drawn.image.isNull()) {
        drawn.image = blankTile(job.key.ratio);
        QPainter painter(&drawn.image);
        painter.setRenderHint(QPainter::Antialiasing);
        MapScene::renderBase(painter, view, part);
        painter.end();
        drawn.newBase = drawn.image;
    }
    if (!part.layers.empty()) { // the painter draws on a copy; the base-map piece stays as it is
        QPainter painter(&drawn.image);
        painter.setRenderHint(QPainter::Antialiasing);
        MapScene::renderLayers(painter, view, part);
    }
    return drawn;
}
} // namespace

void TMapvexControl::startRender(std::vector<TileCache::Key> missing) {
    if (inFlight_)
        return; // one batch at a time; what the view then needs is asked for when it lands
    inFlight_ = true;
    std::vector<TileJob> jobs;
    for (const TileCache::Key& key : missing) {
        TileCache::Key baseKey = key;
        baseKey.layers = scene_.baseRevision();
        const QImage* base = baseTiles_.find(baseKey);
        jobs.push_back({key, baseKey, base ? *base : QImage()});
    }
    auto* watcher = new QFutureWatcher<DrawnTile>(this);
    connect(watcher, &QFutureWatcher<DrawnTile>::finished, this, [this, watcher] {
        watcher->deleteLater();
        inFlight_ = false;
        for (DrawnTile& tile : watcher->future().results()) {
            if (!tile.newBase.isNull() && tile.baseKey.layers == scene_.baseRevision())
                baseTiles_.insert(tile.baseKey, std::move(tile.newBase));
            if (tile.key.layers == scene_.staticRevision())
                tiles_.insert(tile.key, std::move(tile.image));
        }
        update(); // draws the new tiles, or asks for those the view now needs
    });
    // Each tile on whichever worker is free: the cores share a view's tiles.
    watcher->setFuture(
        QtConcurrent::mapped(tilePool(), std::move(jobs),
                             [part = scene_.staticPart(), dpi = view_.dpi](const TileJob& job) {
                                 return drawTile(job, *part, dpi);
                             }));
}

void TMapvexControl::drawStandIn(QPainter& painter) {
    // The last image, moved and scaled to where its ground lies in the current view, under
    // whatever tiles of the current view are ready.
    const Viewport view = frameView();
    painter.fillRect(rect(), QColor(242, 239, 233));
    if (!cache_.isNull()) {
        const QPointF topLeft = view.toScreen(cacheView_.toMercator(QPointF(0, 0)));
        const double scale = cacheView_.metresPerPixel() / view.metresPerPixel();
        const QSizeF size = QSizeF(cacheView_.size) * scale;
        painter.drawImage(QRectF(topLeft, size), cache_);
    }
    for (const TileCache::Key& key : TileCache::tilesFor(view, devicePixelRatioF(), scene_.staticRevision()))
        if (const QImage* tile = tiles_.find(key))
            painter.drawImage(TileCache::placeIn(view, key).topLeft(), *tile);
}

void TMapvexControl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    view_.size = size();
    invalidateCache();
}

void TMapvexControl::paintEvent(QPaintEvent* event) {
    settle();
    view_.size = size();
    if (!upToDate() && synchronous_) {
        const qreal ratio = devicePixelRatioF();
        cache_ = QImage(size() * ratio, QImage::Format_ARGB32_Premultiplied);
        cache_.setDevicePixelRatio(ratio);
        QPainter cachePainter(&cache_);
        cachePainter.setRenderHint(QPainter::Antialiasing);
        scene_.renderStatic(cachePainter, view_);
        cacheView_ = frameView();
        cacheKey_ = currentKey();
    }
    QPainter painter(this);
    const QRect dirty = event->rect();
    if (upToDate()) {
        const qreal ratio = cache_.devicePixelRatio();
        painter.drawImage(QRectF(dirty), cache_,
                          QRectF(dirty.x() * ratio, dirty.y() * ratio, dirty.width() * ratio, dirty.height() * ratio));
        fullFrameDue_ = fullFrameDue_ && dirty != rect();
        ++completeFrames_;
    } else if (composeFromTiles()) {
        painter.drawImage(QPointF(0, 0), cache_);
        fullFrameDue_ = dirty != rect();
        ++completeFrames_;
    } else {
        drawStandIn(painter);
    }
    painter.setClipRect(dirty);
    painter.setRenderHint(QPainter::Antialiasing);
    scene_.renderLive(painter, view_);
    paintedLive_ = scene_.liveBounds(frameView()).toAlignedRect();
    constexpr int kOverlayBand = 40; // the scale bar and the credit sit in the bottom strip
    if (dirty.bottom() >= height() - kOverlayBand) { // text layout is dear even when clipped away
        drawScaleBar(painter);
        drawAttribution(painter);
    }
    ++paintedFrames_;
}

QImage TMapvexControl::renderImage(QSize size) {
    finishReading();
    settle();
    Viewport view = view_;
    view.size = size;
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    scene_.render(painter, view);
    return image;
}

void TMapvexControl::drawScaleBar(QPainter& painter) const {
    // The ground length of about 100 pixels, rounded down to 1, 2 or 5 times a power of ten.
    const double latitude = mercator::unproject(view_.centre).y() * M_PI / 180;
    const double groundPerPixel = view_.metresPerPixel() * std::cos(latitude);
    const double target = groundPerPixel * 100;
    const double power = std::pow(10.0, std::floor(std::log10(target)));
    double length = power;
    for (const double step : {2.0, 5.0, 10.0})
        if (power * step <= target)
            length = power * step;
    const double pixels = length / groundPerPixel;
    const QString text = length >= 1000 ? QStringLiteral("%1 км").arg(length / 1000)
                                        : QStringLiteral("%1 м").arg(length);
    const QPointF origin(12, height() - 14);
    painter.setPen(QPen(Qt::black, 2));
    painter.drawLine(origin, origin + QPointF(pixels, 0));
    painter.drawLine(origin, origin + QPointF(0, -5));
    painter.drawLine(origin + QPointF(pixels, 0), origin + QPointF(pixels, -5));
    painter.drawText(origin + QPointF(4, -6), text);
}

void TMapvexControl::drawAttribution(QPainter& painter) const {
    const QString credit = scene_.baseMap().attribution();
    if (credit.isEmpty())
        return;
    QFont font = painter.font();
    font.setPointSizeF(8);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const QRect box = metrics.boundingRect(credit).adjusted(-4, -2, 4, 2);
    const QRect placed = box.translated(width() - box.right() - 1, height() - box.bottom() - 1);
    painter.fillRect(placed, QColor(255, 255, 255, 190));
    painter.setPen(QColor(40, 40, 40));
    painter.drawText(placed, Qt::AlignCenter, credit);
}

void TMapvexControl::mousePressEvent(QMouseEvent* event) {
    settle();
    if (event->button() == Qt::LeftButton) {
        dragging_ = true;
        dragFrom_ = pressedAt_ = event->position().toPoint();
        setCursor(Qt::ClosedHandCursor);
    }
}

void TMapvexControl::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_)
        return;
    settle();
    const QPoint now = event->position().toPoint();
    const QPoint delta = now - dragFrom_;
    dragFrom_ = now;
    userMovedTheMap();
    const double mpp = view_.metresPerPixel();
    view_.centre += QPointF(-delta.x() * mpp, delta.y() * mpp);
    invalidateCache();
}

void TMapvexControl::mouseReleaseEvent(QMouseEvent* event) {
    settle();
    const bool wasDragging = dragging_;
    dragging_ = false;
    unsetCursor();
    // A click, not the end of a drag, on a picture: the one who placed it is told.
    if (!wasDragging || (event->position().toPoint() - pressedAt_).manhattanLength() > 3 || !pictureClick_)
        return;
    const MapScene::Hit hit = scene_.pictureAt(frameView(), event->position());
    if (hit.feature)
        pictureClick_(hit.layer->name, hit.feature->record);
}

void TMapvexControl::wheelEvent(QWheelEvent* event) {
    settle();
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0)
        return;
    userMovedTheMap();
    const QPointF cursor = event->position();
    const QPointF before = view_.toMercator(cursor);
    view_.scale = std::clamp(view_.scale * std::pow(0.8, steps), 200.0, 5e7);
    const QPointF after = view_.toMercator(cursor);
    view_.centre += before - after;
    invalidateCache();
}
