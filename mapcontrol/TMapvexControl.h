#pragma once

#include "IMapvexControl.h"
#include "MapScene.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

// The embeddable map widget: a thin view over MapScene. The base map and the static layers are
// kept in a cached image; a frame in which only the marker moved draws the cache and the marker.
// Repaints are coalesced to the display's pace however often layers are published.
// Drag to pan, wheel to zoom about the cursor.
class TMapvexControl : public QWidget, public IMapvexControl {
    Q_OBJECT
public:
    explicit TMapvexControl(QWidget* parent = nullptr);

    IMapTable* CreateTable() override { return scene_.createTable(); }
    int LoadMap(const QString& path, const QString& options) override;
    int AddLayer(const QString& definition, const QString& style, IMapTable* table) override;
    double CurScale() const override { return view_.scale; }
    void SetCurScale(double scale) override;
    void CenterOn(double latitude, double longitude) override;

    const MapScene& scene() const { return scene_; }
    const Viewport& viewport() const { return view_; }
    // Frames painted so far, for the benchmarks.
    quint64 paintedFrames() const { return paintedFrames_; }
    // Draws the whole view into an image now, for tests and export.
    QImage renderImage(QSize size);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void scheduleFrame();
    void invalidateCache();
    void drawScaleBar(QPainter& painter) const;

    MapScene scene_;
    Viewport view_;
    QImage cache_;
    quint64 cacheRevision_ = ~0ull;
    bool cacheValid_ = false;
    QTimer frameTimer_;
    QPoint dragFrom_;
    bool dragging_ = false;
    quint64 paintedFrames_ = 0;
};
