#pragma once

#include "UpDown.h"

#include <QObject>
#include <QTimer>
#include <cmath>
#include <exception>

class QChar;
class ValueLabel;
class TForm1;

// Play, pause, stop, the speed box and its spinner, the playback tick, the track bar, and the
// placement of the vehicle with its info panel.
class PlaybackController : public QObject {
    Q_OBJECT
public:
    explicit PlaybackController(TForm1& form);

    void btnPlayClick();
    void btnStopClick();
    void cmbSpeedChange();
    // False when the typed character is to be discarded.
    bool cmbSpeedKeyPress(QChar key);
    void UpDown1ChangingEx(UpDown::Direction direction);
    void Timer1Timer();
    void TrackBarChange();
    void ShowCarPosition(double playTime);

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

    TForm1& f;
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
