#pragma once

#include "TInfoPoints.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class BaseMap;
class IVantrelAutomation;
class QPagedPaintDevice;

// A trip sheet: what a dispute is settled with. The vehicle, the period, the trips, and for
// each chosen trip its trail, checkpoints and the info points of every kind that has entries.
struct TripSheet {
    struct Table {
        QString title;
        QStringList header;
        std::vector<QStringList> rows;
    };
    struct Checkpoint {
        QString name;
        double lon = 0, lat = 0;
        int radius = 0;
    };
    struct Trip {
        int number = 0;
        QString trail; // "lon lat,lon lat,…" as the server gives it
        std::vector<Table> entries;
    };
    // What the period adds up to, over every trip of it.
    struct Totals {
        int trips = 0;
        double metres = 0;
        double drivingDays = 0, stoppedDays = 0, overSpeedDays = 0; // date-time spans
        double topSpeed = 0;
        double filled[2] = {0, 0}, drained[2] = {0, 0}; // litres per tank
        std::vector<std::pair<QString, int>> kindCounts; // a kind's name and its entries
    };
    QString group, car, number;
    int device = 0;
    QString from, to;
    Table trips; // begin, end, duration, the trip's own distance, highest speed
    Totals totals;
    std::vector<Trip> chosen;
    std::vector<Checkpoint> checkpoints;
};

namespace tripsheet {

struct Request {
    QString group; // the group's identifier or name
    int device = 0;
    QString from, to; // "dd.mm.yyyy hh:mm:ss"
    int trip = 0;     // 0: every trip of the period
};

// Asks the server to compute and reads the sheet; `wait` runs until the computation ended.
// Throws VantrelError with a Russian text naming what is wrong.
TripSheet gather(IVantrelAutomation& server, const InfoPointDefinitions& definitions, const Request& request,
                 const std::function<void()>& wait);

// The trips and entries of the server's current result into a sheet whose vehicle and period
// are filled in: what the window has on screen, without computing again.
void readResult(IVantrelAutomation& server, const InfoPointDefinitions& definitions, int chosenTrip, TripSheet& sheet);

// Runs the event loop until the server's computation under way ends (at most `timeoutMs`).
void waitForComputation(IVantrelAutomation& server, int timeoutMs = 300000);

// Lays the sheet out on the pages of a PDF writer or a printer.
void paint(const TripSheet& sheet, QPagedPaintDevice& device, const BaseMap& baseMap);

// Writes the sheet as an A4 PDF with page numbers, the trails drawn on the base map at
// `mapPath` (none when empty or unreadable); written whole under the path or not at all.
void writePdf(const TripSheet& sheet, const QString& path, const QString& mapPath, const QStringList& mapFolders = {});

} // namespace tripsheet
