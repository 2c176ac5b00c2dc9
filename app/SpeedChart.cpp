#include "SpeedChart.h"

#include "DateTimeValue.h"
#include "LargePages.h"
#include "TrackStore.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {
constexpr int kLeft = 44, kRight = 10, kTop = 8, kBottom = 18; // room for the scales
}

SpeedChart::SpeedChart(QWidget* parent) : QWidget(parent) {
    setMinimumHeight(60);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setToolTip(QStringLiteral("Скорость за рейс; щелчок переводит воспроизведение в это время"));
}

void SpeedChart::setTrack(const TrackStore& track) {
    times_.clear();
    speeds_.clear();
    largepages::reserve(times_, size_t(std::max(track.PointCount, 0)));
    largepages::reserve(speeds_, size_t(std::max(track.PointCount, 0)));
    double highest = 0;
    // Straight from the store's five values a point: a million points on the window's thread.
    const size_t count =
        std::min(size_t(std::max(track.PointCount, 0)), track.TrackData.size() / 5);
    for (const double* point = track.TrackData.data(); point < track.TrackData.data() + 5 * count;
         point += 5) {
        times_.push_back(point[0]);
        speeds_.push_back(point[4]);
        if (std::isfinite(point[4]))
            highest = std::max(highest, point[4]);
    }
    top_ = speedprofile::scaleTop(highest);
    playTime_ = times_.empty() ? 0 : times_.front();
    columns_ = speedprofile::columns(times_, speeds_, axis());
    background_ = QPixmap();
    update();
}

void SpeedChart::setShaded(std::vector<std::pair<double, double>> periods) {
    shaded_ = std::move(periods);
    background_ = QPixmap();
    update();
}

void SpeedChart::setPlayTime(double time) {
    playTime_ = time;
    if (times_.size() < 2)
        return;
    const int x = int(std::lround(axis().xAt(time)));
    if (x != playX_) { // the play-head moved by a pixel at least: repaint where it was and where it is
        update(playHeadRect(playX_));
        update(playHeadRect(x));
    }
}

QRect SpeedChart::playHeadRect(int x) const {
    return QRect(x - 2, 0, 5, height());
}

QRectF SpeedChart::plotArea() const {
    return QRectF(kLeft, kTop, std::max(1, width() - kLeft - kRight), std::max(1, height() - kTop - kBottom));
}

speedprofile::TimeAxis SpeedChart::axis() const {
    const QRectF area = plotArea();
    speedprofile::TimeAxis a;
    a.begin = times_.empty() ? 0 : times_.front();
    a.end = times_.empty() ? 0 : times_.back();
    a.x0 = area.left();
    a.x1 = area.right();
    return a;
}

void SpeedChart::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    columns_ = speedprofile::columns(times_, speeds_, axis());
    background_ = QPixmap();
}

void SpeedChart::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange)
        background_ = QPixmap();
    QWidget::changeEvent(event);
}

void SpeedChart::paintEvent(QPaintEvent* event) {
    if (background_.size() != size() * devicePixelRatio()) {
        background_ = QPixmap(size() * devicePixelRatio());
        background_.setDevicePixelRatio(devicePixelRatio());
        QPainter painter(&background_);
        paintBackground(painter);
    }
    QPainter painter(this);
    painter.drawPixmap(event->rect(), background_, QRectF(QPointF(event->rect().topLeft()) * devicePixelRatio(),
                                                          QSizeF(event->rect().size()) * devicePixelRatio()));
    if (times_.size() < 2) {
        playX_ = -1;
        return;
    }
    const QRectF area = plotArea();
    playX_ = int(std::lround(axis().xAt(playTime_)));
    painter.setPen(QPen(QColor(220, 0, 0), 2));
    painter.drawLine(QPointF(playX_, area.top()), QPointF(playX_, area.bottom()));
}

void SpeedChart::paintBackground(QPainter& painter) {
    painter.fillRect(rect(), palette().base());
    const QRectF area = plotArea();
    const double yPerKmh = area.height() / top_;
    painter.setPen(QColor(225, 225, 225));
    for (int i = 0; i <= 4; ++i)
        painter.drawLine(QPointF(area.left(), area.bottom() - i * area.height() / 4),
                         QPointF(area.right(), area.bottom() - i * area.height() / 4));
    painter.setPen(palette().color(QPalette::Text));
    QFont small = font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() - 2));
    painter.setFont(small);
    painter.drawText(QRectF(0, area.top() - 6, kLeft - 4, 14), Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("%1 км/ч").arg(top_));
    painter.drawText(QRectF(0, area.bottom() - 8, kLeft - 4, 14), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("0"));
    if (times_.size() < 2) {
        painter.drawText(area, Qt::AlignCenter, QStringLiteral("Нет рейса для графика скорости"));
        return;
    }
    const auto timeText = [](double t) { return datetime::toQDateTime(t).toString(QStringLiteral("HH:mm:ss")); };
    painter.drawText(QRectF(area.left(), area.bottom() + 2, 120, kBottom - 2), Qt::AlignLeft | Qt::AlignTop,
                     timeText(times_.front()));
    painter.drawText(QRectF(area.right() - 120, area.bottom() + 2, 120, kBottom - 2), Qt::AlignRight | Qt::AlignTop,
                     timeText(times_.back()));
    for (const auto& [from, to] : shaded_) {
        const double x0 = axis().xAt(from), x1 = std::max(axis().xAt(to), x0 + 1);
        painter.fillRect(QRectF(x0, area.top(), x1 - x0, area.height()), QColor(255, 90, 90, 60));
    }
    painter.setPen(QPen(QColor(30, 90, 200), 1));
    const auto y = [&](double speed) { return area.bottom() - std::clamp(speed, 0.0, top_) * yPerKmh; };
    QPointF previous(-1, 0);
    for (size_t i = 0; i < columns_.size(); ++i) {
        const speedprofile::Column& c = columns_[i];
        if (c.empty)
            continue;
        const double x = area.left() + double(i) + 0.5;
        if (previous.x() >= 0) // sparse points: the line runs on to the next one
            painter.drawLine(previous, QPointF(x, y(c.first)));
        painter.drawLine(QPointF(x, y(c.high)), QPointF(x, y(c.low) + 0.5));
        previous = QPointF(x, y(c.last));
    }
}

void SpeedChart::seekTo(double x) {
    if (times_.size() >= 2 && onSeek)
        onSeek(axis().timeAt(x));
}

void SpeedChart::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        seekTo(event->position().x());
}

void SpeedChart::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton)
        seekTo(event->position().x());
}
