#pragma once

#include <QStringList>

class TForm1;

// The trip list and the info-point lists below the kind box, the stop list of the chosen trip
// and the entry positions of each kind.
class InfoPointsController {
public:
    explicit InfoPointsController(TForm1& form) : f(form) {}

    void FillTripList();
    void cmbInfoPointsChange();
    void ListView1Click();
    void LoadInfoPointPositions();

private:
    void addRow(const QStringList& columns, int serverIndex);
    void setValueCaption(const QString& caption);
    void clickTrip(int row);
    void clickEntry(int kind);
    void jumpToEntry(int serverEntry);
    void loadStopList();

    TForm1& f;
};
