#include "PlaybackController.h"

#include "CarPosition.h"
#include "DateTimeValue.h"
#include "GlyphButton.h"
#include "MapController.h"
#include "PlaybackTimer.h"
#include "SpeedChart.h"
#include "SpeedText.h"
#include "TForm1.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QSlider>
#include <QToolButton>
#include <QTreeWidget>

namespace {
const QString kPlayGlyph = QStringLiteral("4");
const QString kPauseGlyph = QStringLiteral(";");
} // namespace

PlaybackController::PlaybackController(TForm1& form) : f(form) {
    rest_.setSingleShot(true);
    connect(&rest_, &QTimer::timeout, this, [this] { f.guarded([this] { endRest(); }); });
}

bool PlaybackController::rowSelected() const { return f.ListView1->currentItem() != nullptr; }

void PlaybackController::btnPlayClick() {
    if (!rowSelected())
        return;
    if (f.Timer1->enabled() || resting()) {
        f.Timer1->setEnabled(false);
        rest_.stop();
        f.btnPlay->setGlyph(kPlayGlyph);
        f.clock.rebase(f.clock.PlayTime);
        return;
    }
    f.Timer1->setInterval(f.clock.interval());
    f.Timer1->setEnabled(true);
    f.btnPlay->setGlyph(kPauseGlyph);
    f.clock.ClockBase = f.clock.now();
    if (f.clock.PlayBase == 0)
        f.clock.PlayBase = f.track.TrackStartTime();
}

void PlaybackController::btnStopClick() {
    if (!rowSelected())
        return;
    try {
        f.Timer1->setEnabled(false);
        rest_.stop();
        f.btnPlay->setGlyph(kPlayGlyph);
        f.clock.rebase(f.track.TrackStartTime());
        // A speed change after Stop must not resume from the moment playback was stopped.
        f.clock.PlayTime = f.clock.PlayBase;
        f.TrackBarActive = false;
        setTrackBarPosition(1);
        f.TrackBarActive = true;
        f.lblDate->setText(QString());
        f.lblSpeed->setText(QStringLiteral("0 км/ч"));
        f.lblDistance->setText(QStringLiteral("0 м"));
        f.CurPoint = 1;
    } catch (const std::exception&) {
        f.TrackBarActive = true; // Stop's own failures are not reported
    }
}

void PlaybackController::cmbSpeedChange() {
    f.clock.rebase(f.clock.PlayTime);
    const int speed = speedtext::parse(f.cmbSpeed->currentText());
    const int accepted = speed > 0 ? speed : f.clock.PlaySpeed; // a factor of 0 is refused
    f.clock.PlaySpeed = accepted;
    const QString text = speedtext::format(accepted);
    if (f.cmbSpeed->currentText() != text)
        f.cmbSpeed->setEditText(text);
    f.Timer1->setInterval(f.clock.interval());
}

bool PlaybackController::cmbSpeedKeyPress(QChar key) { return speedtext::acceptsKey(key); }

void PlaybackController::UpDown1ChangingEx(UpDown::Direction direction) {
    const int position = f.UpDown1->position();
    int key = 0;
    if (direction == UpDown::Direction::Up ||
        (direction == UpDown::Direction::None && position == f.UpDown1->maximum()))
        key = Qt::Key_Up;
    else if (direction == UpDown::Direction::Down ||
             (direction == UpDown::Direction::None && position == f.UpDown1->minimum()))
        key = Qt::Key_Down;
    if (key == 0)
        return;
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(f.cmbSpeed, &press);
}

void PlaybackController::Timer1Timer() {
    if (f.CurPoint >= f.track.PointCount) {
        btnStopClick();
        return;
    }
    if (f.TrackBar->value() >= f.TrackBar->maximum()) {
        btnStopClick();
        return;
    }
    double playTime = f.clock.advance();
    bool skipped = false;
    if (f.ToolButton3->isChecked()) {
        const int stop = PlaybackClock::findStopAt(f.StopList, playTime);
        if (stop >= 0) {
            playTime = f.clock.PlayTime = f.StopList[size_t(stop)].EndTime;
            skipped = true;
        }
    }
    f.lblDate->setText(datetime::formatLabel(playTime));
    const double start = f.track.TrackStartTime();
    f.TrackBarActive = false;
    try {
        setTrackBarPosition(static_cast<int>(
            std::clamp<qint64>(datetime::secondsBetween(start, playTime), INT_MIN, INT_MAX)));
    } catch (...) {
        f.TrackBarActive = true;
        throw;
    }
    f.TrackBarActive = true;
    if (!f.Timer1->enabled()) {
        // The end of the track was reached: the vehicle rests on the last point.
        showCarAtEnd();
        return;
    }
    ShowCarPosition(playTime);
    if (skipped) {
        f.Timer1->setEnabled(false);
        rest_.start(f.environment().skipRestMs);
    }
}

void PlaybackController::endRest() {
    f.Timer1->setEnabled(true);
    f.clock.rebase(f.clock.PlayTime);
}

void PlaybackController::TrackBarChange() {
    if (!rowSelected())
        return;
    if (f.TrackBar->value() >= f.TrackBar->maximum()) {
        btnStopClick();
        return;
    }
    if (!f.TrackBarActive || f.track.PointCount < 1)
        return; // without a track a drag has nowhere to go
    const double playTime = f.track.TrackStartTime() + f.TrackBar->value() / datetime::kSecondsPerDay;
    f.clock.PlayTime = playTime;
    f.lblDate->setText(datetime::formatLabel(playTime));
    ShowCarPosition(playTime);
    f.clock.rebase(playTime);
}

void PlaybackController::setTrackBarPosition(int position) {
    ++programmaticSets_;
    trackBarError_ = nullptr;
    f.TrackBar->setValue(position);
    --programmaticSets_;
    if (trackBarError_) {
        std::exception_ptr error = trackBarError_;
        trackBarError_ = nullptr;
        std::rethrow_exception(error);
    }
}

void PlaybackController::onTrackBarValueChanged() {
    if (programmaticSets_ > 0) {
        try {
            TrackBarChange();
        } catch (...) {
            trackBarError_ = std::current_exception();
        }
        return;
    }
    f.guarded([this] { TrackBarChange(); });
}

void PlaybackController::ShowCarPosition(double playTime) {
    const TrackStore& track = f.track;
    if (track.PointCount < 1)
        return;
    f.CurPoint = carposition::FindPointIndex(track, playTime, f.CurPoint);
    placeVehicle(std::clamp(f.CurPoint, 1, track.PointCount), playTime);
}

void PlaybackController::showCarAtEnd() {
    if (f.track.PointCount >= 1)
        placeVehicle(f.track.PointCount, f.track.time(f.track.PointCount));
}

void PlaybackController::NumberLabel::write(ValueLabel* label, double number, QString (*format)(double)) {
    if (number == value && label->text() == text)
        return;
    value = number;
    text = format(number);
    label->setText(text);
}

void PlaybackController::placeVehicle(int c, double playTime) {
    const TrackStore& track = f.track;
    speedLabel_.write(f.lblSpeed, track.speed(c), carposition::speedLabel);
    mileageLabel_.write(f.lblDistance, track.mileage(c), carposition::distanceLabel);
    const carposition::Placement where = carposition::place(track, c, playTime);
    f.CarMarkerTexts = carposition::SetCarMarkerTexts(where.x, where.y, where.heading);
    f.map().RefreshLayers(2);
    f.speedChart->setPlayTime(playTime);
}
