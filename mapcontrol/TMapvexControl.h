#pragma once

#include "FrameTimer.h"
#include "IMapvexControl.h"
#include "MapScene.h"
#include "TileCache.h"

#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <memory>
#include <optional>

// The embeddable map widget: a thin view over MapScene. The base map and the static layers are
// kept in a cached image; a frame in which only the marker moved draws the cache and the marker.
// A cache that no longer fits the view (a pan, a zoom, a new trail) is put together from tiles
// of the static map; tiles not drawn yet are drawn on worker threads, over the base map's own
// tiles when those are kept, while the old image, moved and scaled to the new view, stands in
// for them; synchronous rendering remains for tests and export. Repaints are coalesced to the
// display's pace however often layers are published, and so is reading a live layer: a
// publication is kept as it was sent and read when a frame, or anyone, next looks at the scene,
// so one that the next replaces is never read. Drag to pan, wheel to zoom about the cursor. A
// moving symbol (a vehicle) is kept in view: published outside the middle of the view, it is
// centred again, unless the user moved the map in the last few seconds.
class TMapvexControl : public QWidget, public IMapvexControl {
    Q_OBJECT
public:
    explicit TMapvexControl(QWidget* parent = nullptr);
    ~TMapvexControl() override { cancelMapReading(); }

    IMapTable* CreateTable() override { return scene_.createTable(); }
    int LoadMap(const QString& path, const QString& options) override;
    // Reads the map on a worker while the window goes on answering; a newer map cancels it.
    void LoadMapLater(const QString& path, const QString& options,
                      std::function<void(int code)> opened) override;
    bool openingMap() const { return mapReading_.has_value(); }
    // Where vector maps once read are kept for the next opening; empty (the default): nowhere.
    void setMapCacheFolder(const QString& folder) { mapCacheFolder_ = folder; }
    int AddLayer(const QString& definition, const QString& style, IMapTable* table) override;
    double CurScale() const override { return view_.scale; }
    void SetCurScale(double scale) override;
    void CenterOn(double latitude, double longitude) override;
    void SetSymbolImage(const QString& name, const QImage& image) override;
    void SetPictureClickHandler(PictureClick handler) override { pictureClick_ = std::move(handler); }

    // Where a map named by a path that does not exist is looked for by its file name: maps/
    // beside the program, share/vantrel/maps of its installation, $XDG_DATA_HOME/vantrel/maps.
    static QStringList mapsFolders();
    // Why the last LoadMap failed, in Russian, naming the file; empty after a success.
    QString loadFailure() const { return loadFailure_; }
    QString LoadFailure() const override { return loadFailure_; }

    const MapScene& scene() {
        finishReading();
        settle();
        return scene_;
    }
    const Viewport& viewport() {
        settle();
        return view_;
    }
    // Maps read so far.
    quint64 mapsLoaded() const { return mapsLoaded_; }
    // Frames painted so far, and those of them that showed every tile of the view, for the
    // benchmarks.
    quint64 paintedFrames() const { return paintedFrames_; }
    quint64 completeFrames() const { return completeFrames_; }
    // Draws the whole view into an image now, for tests and export.
    QImage renderImage(QSize size);
    // Whether a cache miss is drawn before the frame (true) or in the background (the default).
    // Drawn at once, a long geometry is read at once too.
    void setSynchronousRendering(bool synchronous) {
        synchronous_ = synchronous;
        if (synchronous)
            finishReading();
    }
    bool rendering() const { return inFlight_; }
    // Whether the cached image shows the current view and layers, none waiting to be read.
    bool upToDate() const {
        return cacheKey_ == currentKey() && cacheView_.size == size() && !cache_.isNull() &&
               !reading_;
    }

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    // What a cached image was drawn for: the view's generation and the static layers' revision.
    struct CacheKey {
        quint64 view = 0, layers = 0;
        bool operator==(const CacheKey&) const = default;
    };
    CacheKey currentKey() const { return {viewGeneration_, scene_.staticRevision()}; }
    Viewport frameView() const;
    void frame();
    void scheduleFrame();
    void invalidateCache();
    // Puts the cached image together from tiles; false while some are still being drawn.
    bool composeFromTiles();
    void startRender(std::vector<TileCache::Key> missing);
    void drawStandIn(QPainter& painter);
    void drawScaleBar(QPainter& painter) const;
    void drawAttribution(QPainter& painter) const;
    void keepSymbolInView(const MapScene::Layer* layer);
    QFuture<std::pair<int, BaseMap>> readMap(const QString& path,
                                             std::shared_ptr<std::atomic_bool> cancelled) const;
    int showMap(int result, BaseMap map, int centredBefore);
    void cancelMapReading();
    int publish(const QString& definition, const QString& style, IMapTable* table);
    // Reads the live layers' publications that wait, in the order they were last sent.
    void settle();
    void userMovedTheMap() { userMoved_.start(); }

    MapScene scene_;
    struct Publication {
        QString definition, style;
        MapTable table; // as it was when published
    };
    std::vector<Publication> waiting_;
    // A long geometry (a long trip's trail) is read on a worker: the window's thread goes on,
    // and the publications from the one that needs it on wait for it, in their order.
    bool needsReading(const MapTable& table, QString* text = nullptr) const;
    void readAside(const QString& text);
    void readingDone();
    void publishWaitingForReading();
    void finishReading();
    std::unique_ptr<QFutureWatcher<std::optional<Geometry>>> reading_;
    QString readingText_;
    std::vector<Publication> afterReading_;
    Viewport view_;
    int centrings_ = 0; // CenterOn calls so far: a map read meanwhile keeps their view
    quint64 viewGeneration_ = 1;
    QImage cache_;
    Viewport cacheView_;
    CacheKey cacheKey_;
    bool synchronous_ = false;
    bool inFlight_ = false;
    TileCache tiles_;
    TileCache baseTiles_{qsizetype(64) << 20}; // the base map alone, for layers that change over it
    FrameTimer frameTimer_;
    QTimer renderTimer_;
    QElapsedTimer userMoved_;
    QPoint dragFrom_, pressedAt_;
    bool dragging_ = false;
    PictureClick pictureClick_;
    quint64 paintedFrames_ = 0;
    quint64 completeFrames_ = 0;
    quint64 mapsLoaded_ = 0;
    struct MapReading {
        QFutureWatcher<std::pair<int, BaseMap>>* watcher = nullptr;
        std::shared_ptr<std::atomic_bool> cancelled;
        int centredBefore = 0;
    };
    std::optional<MapReading> mapReading_;
    QString mapCacheFolder_;
    QString loadFailure_;
    QRect paintedLive_;         // where the live layers were drawn in the last frame
    bool fullFrameDue_ = true;  // the view or the cache changed since the last whole frame
};
