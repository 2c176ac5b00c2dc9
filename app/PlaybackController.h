#pragma once

#include "UpDown.h"

#include <QObject>
#include <QTimer>
#include <cmath>
#include <exception>

class QChar;
class ValueLabel;
class ErrorReporter;
class PlayerSession;
struct WindowControls;

// Play, pause, stop, the speed box and its spinner, the playback tick, the track bar, and the
// placement of the vehicle with its info panel.
class PlaybackController : public QObject {
    Q_OBJECT
public:
    PlaybackController(PlayerSession& session, WindowControls& ui, ErrorReporter& errors,
                       int skipRestMs);

    void btnPlayClick();
    void btnStopClick();
    void cmbSpeedChange();
    // False when the typed character is to be discarded.
    bool cmbSpeedKeyPress(QChar key);
    void UpDown1ChangingEx(UpDown::Direction direction);
    void Timer1Timer();
    void TrackBarChange();
    void ShowCarPosition(double playTime);

    // A trip's track was loaded: the track bar spans it and playback stops at its start.
    void showTrack();
    // The track bar to a moment of the trip, or by seconds from where it stands, within the trip.
    void seekTo(double playTime);
    void seekBy(int seconds);
    // Sets the track bar's position from the program; an error of the change handler that
    // this runs reaches the caller.
    void setTrackBarPosition(int position);
    // Called for every change of the track bar's position.
    void onTrackBarValueChanged();

    bool resting() const { return rest_.isActive(); }

private:
    bool rowSelected() const;
    void endRest();
    void showCarAtEnd();
    // The labels of point c, and the vehicle placed on its segment for the time.
    void placeVehicle(int c, double playTime);

    PlayerSession& s;
    WindowControls& ui;
    ErrorReporter& errors_;
    int skipRestMs_;
    bool TrackBarActive = true;
    QTimer rest_; // the pause at the end of a skipped stop; the window keeps working meanwhile
    int programmaticSets_ = 0;
    // A label written from a number, formatted again only when the number changes or something
    // else wrote the label meanwhile: most ticks stay on one point, and formatting is not free.
    struct NumberLabel {
        double value = std::nan("");
        QString text;
        void write(ValueLabel* label, double number, QString (*format)(double));
    };
    NumberLabel speedLabel_, mileageLabel_;
    std::exception_ptr trackBarError_;
};
