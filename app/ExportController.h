#pragma once

#include <QObject>
#include <QString>

class QMenu;
class QToolButton;
class TForm1;
struct TripSheet;

// The «Экспорт» button in the map's corner: the current trip as GPX, KML or GeoJSON (written by
// the tracking server's own export, with progress and a cancel button), the map view as PNG,
// and the trip sheet as PDF or on a printer.
class ExportController : public QObject {
    Q_OBJECT
public:
    explicit ExportController(TForm1& form);
    QToolButton* button() const { return button_; }

    void exportTrip(const QString& format);
    void saveMapImage(const QString& path);
    void saveSheet(const QString& path);
    void printSheet();

private:
    TripSheet currentSheet();
    QString askPath(const QString& title, const QString& suffix, const QString& filter);

    TForm1& f;
    QToolButton* button_ = nullptr;
};
