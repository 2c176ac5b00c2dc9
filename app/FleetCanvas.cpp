#include "FleetCanvas.h"

#include "TMapvexControl.h"
#include "Viewport.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVarLengthArray>
#include <cmath>

FleetCanvas::FleetCanvas(TMapvexControl& map, const FleetReplay& replay)
    : QWidget(&map), map_(map), replay_(replay) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(map.rect());
    map.installEventFilter(this);
}

QColor FleetCanvas::colourOf(size_t vehicle) {
    // Hues a golden angle apart: neighbours in the list never look alike.
    return QColor::fromHsv(int(std::fmod(double(vehicle) * 137.508, 360.0)), 220, 200);
}

void FleetCanvas::setTool(Tool tool) {
    tool_ = tool;
    setAttribute(Qt::WA_TransparentForMouseEvents, tool == Tool::None);
    setCursor(tool == Tool::None ? Qt::ArrowCursor : Qt::CrossCursor);
}

bool FleetCanvas::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &map_ && event->type() == QEvent::Resize)
        setGeometry(map_.rect());
    return QWidget::eventFilter(watched, event);
}

QPointF FleetCanvas::toScreen(double lon, double lat) const {
    return const_cast<TMapvexControl&>(map_).viewport().toScreen(mercator::project(lon, lat));
}

QPointF FleetCanvas::toLonLat(QPointF screen) const {
    return mercator::unproject(const_cast<TMapvexControl&>(map_).viewport().toMercator(screen));
}

void FleetCanvas::paintEvent(QPaintEvent*) {
    ++painted_;
    const Fleet* fleet = replay_.fleet();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    drawArea(painter);
    if (!fleet)
        return;
    const Viewport view = map_.viewport();
    const auto screen = [&view](double lon, double lat) {
        return view.toScreen(mercator::project(lon, lat));
    };
    const QRectF visible = QRectF(rect()).adjusted(-40, -40, 40, 40);
    const double now = replay_.seconds();
    if (labelled_.lock() != replay_.sharedFleet() || labels_.size() != fleet->vehicles.size())
        prepareLabels(replay_.sharedFleet());
    QPolygonF marker;
    marker << QPointF(0, -9) << QPointF(6, 7) << QPointF(0, 3) << QPointF(-6, 7);
    for (size_t v = 0; v < fleet->vehicles.size(); ++v) {
        if (v < shown_.size() && !shown_[v])
            continue;
        const VehicleTrack& track = fleet->vehicles[v];
        const VehicleTrack::Place place = track.at(now, fleet->maxGap);
        if (place.presence == VehicleTrack::Presence::BeforeFirst)
            continue;
        const QPointF at = screen(place.lon, place.lat);
        const bool live = place.presence == VehicleTrack::Presence::Moving;
        const QColor colour = live ? colourOf(v) : QColor(150, 150, 150);
        if (live) {
            // The tail fades in four steps towards its oldest end.
            const std::vector<QPointF> tail = track.tail(now, kTailSeconds, 24, fleet->maxGap);
            if (tail.size() >= 2) {
                QPolygonF line;
                line.reserve(qsizetype(tail.size()));
                for (const QPointF& p : tail)
                    line << screen(p.x(), p.y());
                if (visible.intersects(line.boundingRect()))
                    drawTail(painter, line, colour);
            }
        }
        if (!visible.contains(at))
            continue;
        painter.save();
        painter.translate(at);
        painter.rotate(place.course);
        painter.setPen(QPen(Qt::black, 1));
        painter.setBrush(colour);
        painter.drawPolygon(marker);
        painter.restore();
        const QImage& label = live ? labels_[v] : greyLabels_[v];
        painter.drawImage(at + QPointF(8, -label.height() / 2.0), label);
    }
}

void FleetCanvas::drawTail(QPainter& painter, const QPolygonF& line, const QColor& colour) {
    // Separate segments with square caps: Qt draws these on its fast path, where a wide
    // antialiased polyline of the same points costs ten times as much.
    constexpr qsizetype kSteps = 4; // fading towards the oldest end
    const qsizetype n = line.size();
    QVarLengthArray<QLineF, 32> segments;
    for (qsizetype k = 0; k < kSteps; ++k) {
        const qsizetype from = (n - 1) * k / kSteps, to = (n - 1) * (k + 1) / kSteps;
        if (to <= from)
            continue;
        segments.clear();
        for (qsizetype i = from; i < to; ++i)
            segments.append(QLineF(line[i], line[i + 1]));
        QColor faded = colour;
        faded.setAlpha(int(50 + 190 * (k + 1) / kSteps));
        painter.setPen(QPen(faded, 3, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        painter.drawLines(segments.constData(), int(segments.size()));
    }
}

void FleetCanvas::prepareLabels(const std::shared_ptr<const Fleet>& shown) {
    labelled_ = shown;
    const Fleet& fleet = *shown;
    labels_.clear();
    greyLabels_.clear();
    QFont font = this->font();
    font.setPixelSize(11);
    const QFontMetrics metrics(font);
    for (size_t v = 0; v < fleet.vehicles.size(); ++v) {
        const QString& name = fleet.vehicles[v].name;
        for (const bool live : {true, false}) {
            QImage image(metrics.horizontalAdvance(name) + 3, metrics.height() + 2,
                         QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            QPainter painter(&image);
            painter.setFont(font);
            painter.setPen(QColor(255, 255, 255, 220));
            painter.drawText(QPointF(2, 1 + metrics.ascent()), name);
            painter.setPen(live ? colourOf(v).darker(160) : QColor(110, 110, 110));
            painter.drawText(QPointF(1, metrics.ascent()), name);
            (live ? labels_ : greyLabels_).push_back(std::move(image));
        }
    }
}

void FleetCanvas::drawArea(QPainter& painter) const {
    QPainterPath path;
    if (pressed_ && dragged_) {
        if (tool_ == Tool::Circle) {
            const double r = QLineF(*pressed_, *dragged_).length();
            path.addEllipse(*pressed_, r, r);
        } else {
            path.addRect(QRectF(*pressed_, *dragged_).normalized());
        }
    } else if (area_) {
        if (area_->shape() == Area::Shape::Circle) {
            const QPointF centre = toScreen(area_->centreLon(), area_->centreLat());
            // The radius northwards, as the map shows it there.
            const double north = area_->centreLat() + area_->radius() / 111195.0;
            const double r = std::abs(toScreen(area_->centreLon(), north).y() - centre.y());
            path.addEllipse(centre, r, r);
        } else {
            const QPointF a = toScreen(area_->west(), area_->north());
            const QPointF b = toScreen(area_->west() + area_->width(), area_->south());
            path.addRect(QRectF(a, b).normalized());
        }
    } else {
        return;
    }
    painter.setPen(QPen(QColor(200, 30, 30), 2, Qt::DashLine));
    painter.setBrush(QColor(220, 40, 40, 40));
    painter.drawPath(path);
}

void FleetCanvas::mousePressEvent(QMouseEvent* event) {
    if (tool_ == Tool::None || event->button() != Qt::LeftButton)
        return;
    pressed_ = dragged_ = event->position();
    update();
}

void FleetCanvas::mouseMoveEvent(QMouseEvent* event) {
    if (!pressed_)
        return;
    dragged_ = event->position();
    update();
}

void FleetCanvas::mouseReleaseEvent(QMouseEvent* event) {
    if (!pressed_)
        return;
    const QPointF from = *pressed_, to = event->position();
    pressed_.reset();
    dragged_.reset();
    const Tool tool = tool_;
    setTool(Tool::None);
    if (drawn)
        drawn(tool, toLonLat(from), toLonLat(to));
    update();
}
