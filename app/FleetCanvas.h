#pragma once

#include "Area.h"
#include "FleetReplay.h"

#include <QColor>
#include <QImage>
#include <QWidget>
#include <functional>
#include <optional>

class TMapvexControl;

// Draws the whole fleet over the map control, on a transparent child of it: each vehicle's
// fading tail, a marker turned to its heading in its own colour (grey when it is silent) and
// its name; the area being asked about. While an area is being drawn it takes the mouse; else
// the mouse goes through to the map (pan, zoom).
class FleetCanvas : public QWidget {
    Q_OBJECT
public:
    enum class Tool { None, Rectangle, Circle };

    FleetCanvas(TMapvexControl& map, const FleetReplay& replay);

    static QColor colourOf(size_t vehicle);
    // Vehicles not ticked in the list are not drawn.
    void setShown(std::vector<bool> shown) { shown_ = std::move(shown); }
    void setTool(Tool tool);
    void setArea(std::optional<Area> area) {
        area_ = std::move(area);
        update();
    }
    // A finished drawing: the area (which refuses a zero size) is asked for by the window.
    std::function<void(Tool, QPointF fromLonLat, QPointF toLonLat)> drawn;

    quint64 paintedFrames() const { return painted_; }
    static constexpr double kTailSeconds = 5 * 60;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool eventFilter(QObject* watched, QEvent* event) override;
    QPointF toScreen(double lon, double lat) const;
    QPointF toLonLat(QPointF screen) const;
    void drawArea(QPainter& painter) const;
    // The names drawn once into images (in colour and in grey), for the fleet shown now.
    void prepareLabels(const std::shared_ptr<const Fleet>& fleet);
    static void drawTail(QPainter& painter, const QPolygonF& line, const QColor& colour);

    TMapvexControl& map_;
    const FleetReplay& replay_;
    std::vector<bool> shown_;
    Tool tool_ = Tool::None;
    std::optional<Area> area_;
    std::optional<QPointF> pressed_, dragged_;
    quint64 painted_ = 0;
    std::weak_ptr<const Fleet> labelled_;
    std::vector<QImage> labels_, greyLabels_;
};
