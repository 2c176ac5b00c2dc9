#include "PlaybackController.h"

#include "CarPosition.h"
#include "DateTimeValue.h"
#include "ErrorReporter.h"
#include "GlyphButton.h"
#include "PlaybackTimer.h"
#include "PlayerSession.h"
#include "SpeedChart.h"
#include "SpeedText.h"
#include "ValueLabel.h"
#include "WindowControls.h"

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

PlaybackController::PlaybackController(PlayerSession& session, WindowControls& ui,
                                       ErrorReporter& errors, int skipRestMs)
    : s(session), ui(ui), errors_(errors), skipRestMs_(skipRestMs) {
    rest_.setSingleShot(true);
    connect(&rest_, &QTimer::timeout, this, [this] { errors_.guarded([this] { endRest(); }); });
}

bool PlaybackController::rowSelected() const {
    return ui.ListView1->currentItem() != nullptr;
}

void PlaybackController::btnPlayClick() {
    if (!rowSelected())
        return;
    if (ui.Timer1->enabled() || resting()) {
        ui.Timer1->setEnabled(false);
        rest_.stop();
        ui.btnPlay->setGlyph(kPlayGlyph);
        s.clock.rebase(s.clock.PlayTime);
        s.setPlaying(false);
        return;
    }
    ui.Timer1->setInterval(s.clock.interval());
    ui.Timer1->setEnabled(true);
    ui.btnPlay->setGlyph(kPauseGlyph);
    s.setPlaying(true);
    s.clock.ClockBase = s.clock.now();
    if (s.clock.PlayBase == 0)
        s.clock.PlayBase = s.track.TrackStartTime();
}

void PlaybackController::btnStopClick() {
    if (!rowSelected())
        return;
    try {
        ui.Timer1->setEnabled(false);
        rest_.stop();
        ui.btnPlay->setGlyph(kPlayGlyph);
        s.setPlaying(false);
        s.clock.rebase(s.track.TrackStartTime());
        // A speed change after Stop must not resume from the moment playback was stopped.
        s.clock.PlayTime = s.clock.PlayBase;
        TrackBarActive = false;
        setTrackBarPosition(1);
        TrackBarActive = true;
        ui.lblDate->setText(QString());
        ui.lblSpeed->setText(QStringLiteral("0 км/ч"));
        ui.lblDistance->setText(QStringLiteral("0 м"));
        s.CurPoint = 1;
    } catch (const std::exception&) {
        TrackBarActive = true; // Stop's own failures are not reported
    }
}

void PlaybackController::cmbSpeedChange() {
    s.clock.rebase(s.clock.PlayTime);
    const int speed = speedtext::parse(ui.cmbSpeed->currentText());
    const int accepted = speed > 0 ? speed : s.clock.PlaySpeed; // a factor of 0 is refused
    s.clock.PlaySpeed = accepted;
    const QString text = speedtext::format(accepted);
    if (ui.cmbSpeed->currentText() != text)
        ui.cmbSpeed->setEditText(text);
    ui.Timer1->setInterval(s.clock.interval());
}

bool PlaybackController::cmbSpeedKeyPress(QChar key) {
    return speedtext::acceptsKey(key);
}

void PlaybackController::UpDown1ChangingEx(UpDown::Direction direction) {
    const int position = ui.UpDown1->position();
    int key = 0;
    if (direction == UpDown::Direction::Up ||
        (direction == UpDown::Direction::None && position == ui.UpDown1->maximum()))
        key = Qt::Key_Up;
    else if (direction == UpDown::Direction::Down ||
             (direction == UpDown::Direction::None && position == ui.UpDown1->minimum()))
        key = Qt::Key_Down;
    if (key == 0)
        return;
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(ui.cmbSpeed, &press);
}

void PlaybackController::Timer1Timer() {
    if (s.CurPoint >= s.track.PointCount) {
        btnStopClick();
        return;
    }
    if (ui.TrackBar->value() >= ui.TrackBar->maximum()) {
        btnStopClick();
        return;
    }
    double playTime = s.clock.advance();
    bool skipped = false;
    if (ui.ToolButton3->isChecked()) {
        const int stop = PlaybackClock::findStopAt(s.StopList, playTime);
        if (stop >= 0) {
            playTime = s.clock.PlayTime = s.StopList[size_t(stop)].EndTime;
            skipped = true;
        }
    }
    ui.lblDate->setText(datetime::formatLabel(playTime));
    const double start = s.track.TrackStartTime();
    TrackBarActive = false;
    try {
        setTrackBarPosition(static_cast<int>(
            std::clamp<qint64>(datetime::secondsBetween(start, playTime), INT_MIN, INT_MAX)));
    } catch (...) {
        TrackBarActive = true;
        throw;
    }
    TrackBarActive = true;
    if (!ui.Timer1->enabled()) {
        // The end of the track was reached: the vehicle rests on the last point.
        showCarAtEnd();
        return;
    }
    ShowCarPosition(playTime);
    if (skipped) {
        ui.Timer1->setEnabled(false);
        rest_.start(skipRestMs_);
    }
}

void PlaybackController::endRest() {
    ui.Timer1->setEnabled(true);
    s.clock.rebase(s.clock.PlayTime);
}

void PlaybackController::TrackBarChange() {
    if (!rowSelected())
        return;
    if (ui.TrackBar->value() >= ui.TrackBar->maximum()) {
        btnStopClick();
        return;
    }
    if (!TrackBarActive || s.track.PointCount < 1)
        return; // without a track a drag has nowhere to go
    const double playTime =
        s.track.TrackStartTime() + ui.TrackBar->value() / datetime::kSecondsPerDay;
    s.clock.PlayTime = playTime;
    ui.lblDate->setText(datetime::formatLabel(playTime));
    ShowCarPosition(playTime);
    s.clock.rebase(playTime);
}

void PlaybackController::showTrack() {
    const TrackStore& track = s.track;
    const qint64 seconds =
        datetime::secondsBetween(track.TrackStartTime(), track.time(track.PointCount));
    ui.TrackBar->setMinimum(0);
    ui.TrackBar->setMaximum(static_cast<int>(std::min<qint64>(seconds, INT_MAX)));
    ui.TrackBar->setTickInterval(std::max(1, ui.TrackBar->maximum() / 20));
    btnStopClick();
}

void PlaybackController::seekTo(double playTime) {
    if (s.track.PointCount < 1)
        return;
    const qint64 seconds = datetime::secondsBetween(s.track.TrackStartTime(), playTime);
    setTrackBarPosition(static_cast<int>(
        std::clamp<qint64>(seconds, ui.TrackBar->minimum(), ui.TrackBar->maximum())));
}

void PlaybackController::seekBy(int seconds) {
    if (s.track.PointCount >= 1)
        setTrackBarPosition(std::clamp(ui.TrackBar->value() + seconds, ui.TrackBar->minimum(),
                                       ui.TrackBar->maximum()));
}

void PlaybackController::setTrackBarPosition(int position) {
    ++programmaticSets_;
    trackBarError_ = nullptr;
    ui.TrackBar->setValue(position);
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
    errors_.guarded([this] { TrackBarChange(); });
}

void PlaybackController::ShowCarPosition(double playTime) {
    const TrackStore& track = s.track;
    if (track.PointCount < 1)
        return;
    s.CurPoint = carposition::FindPointIndex(track, playTime, s.CurPoint);
    placeVehicle(std::clamp(s.CurPoint, 1, track.PointCount), playTime);
}

void PlaybackController::showCarAtEnd() {
    if (s.track.PointCount >= 1)
        placeVehicle(s.track.PointCount, s.track.time(s.track.PointCount));
}

void PlaybackController::NumberLabel::write(ValueLabel* label, double number,
                                            QString (*format)(double)) {
    if (number == value && label->text() == text)
        return;
    value = number;
    text = format(number);
    label->setText(text);
}

void PlaybackController::placeVehicle(int c, double playTime) {
    const TrackStore& track = s.track;
    speedLabel_.write(ui.lblSpeed, track.speed(c), carposition::speedLabel);
    mileageLabel_.write(ui.lblDistance, track.mileage(c), carposition::distanceLabel);
    const carposition::Placement where = carposition::place(track, c, playTime);
    s.showPosition(carposition::SetCarMarkerTexts(where.x, where.y, where.heading), playTime);
}
