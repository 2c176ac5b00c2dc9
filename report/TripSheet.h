#pragma once

#include "TInfoPoints.h"
#include "VantrelError.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class BaseMap;
class IVantrelAutomation;
class QPagedPaintDevice;

// A trip sheet: what a dispute is settled with. The vehicle, the period, the trips and their
// totals; each chosen trip's trail, checkpoints and events are read when its page is laid out,
// so that a period of many trips never holds every trail at once.
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
    // One info point of a trip; without a position (`lon`, `lat` not finite) it has no marker.
    struct Event {
        QString kind, begin, end, duration, value;
        double lon = 0, lat = 0;
        double time = 0; // the begin as a date-time value, for the order
    };
    struct Trip {
        int number = 0;
        QString trail;             // "lon lat,lon lat,…" as the server gives it
        std::vector<Event> events; // every kind together, in time order
    };
    // What the period adds up to, over every trip of it.
    struct Totals {
        int trips = 0;
        double metres = 0;
        double drivingDays = 0, stoppedDays = 0, overSpeedDays = 0; // date-time spans
        double topSpeed = 0;
        double filled[2] = {0, 0}, drained[2] = {0, 0};  // litres per tank
        std::vector<std::pair<QString, int>> kindCounts; // a kind's name and its entries
    };
    QString group, car, number;
    int device = 0;
    QString from, to;
    Table trips; // begin, end, duration, the trip's own distance, highest speed
    Totals totals;
    std::vector<int> chosen; // the numbers of the trips that get a page
    std::vector<Checkpoint> checkpoints;
};

namespace tripsheet {

struct Request {
    QString group; // the group's identifier or name
    int device = 0;
    QString from, to; // "dd.mm.yyyy hh:mm:ss"
    int trip = 0;     // 0: every trip of the period
};

// How a sheet is laid out and signed in the file's properties.
struct PageOptions {
    bool landscape = false;
    QString author; // the operator; «Vantrel» when empty
};

// The operator's name for a sheet's author: the full name of the user account, else its login.
QString operatorName();

// Told the trips read and the pages laid out so far; false stops the work (Cancelled).
using Progress = std::function<bool(int done, int total)>;
using TripReader = std::function<TripSheet::Trip(int number)>;

// Thrown when a Progress answered false: nothing was written.
struct Cancelled : VantrelError {
    Cancelled() : VantrelError(QStringLiteral("Лист рейсов не записан: отменено")) {}
};

// Asks the server to compute and reads the sheet; `wait` runs until the computation ended.
// Throws VantrelError with a Russian text naming what is wrong.
TripSheet gather(IVantrelAutomation& server, const InfoPointDefinitions& definitions,
                 const Request& request, const std::function<void()>& wait,
                 const Progress& progress = {});

// The trips and totals of the server's current result into a sheet whose vehicle and period
// are filled in: what the window has on screen, without computing again.
void readResult(IVantrelAutomation& server, const InfoPointDefinitions& definitions, int chosenTrip,
                TripSheet& sheet, const Progress& progress = {});

// One trip of the server's current result: its trail and its events of every kind.
TripSheet::Trip readTrip(IVantrelAutomation& server, const InfoPointDefinitions& definitions,
                         int number);

// Runs the event loop until the server's computation under way ends (at most `timeoutMs`).
void waitForComputation(IVantrelAutomation& server, int timeoutMs = 300000);

// Lays the sheet out on the pages of a PDF writer or a printer, in the device's orientation.
void paint(const TripSheet& sheet, QPagedPaintDevice& device, const BaseMap& baseMap,
           const TripReader& trips, const Progress& progress = {});

// Writes the sheet as an A4 PDF/A-1b with page numbers, title, author and subject, the trails
// drawn on the base map at `mapPath` (none when empty or unreadable). The pages go to a
// temporary file as they are laid out; the target gets the whole file or is left as it was.
void writePdf(const TripSheet& sheet, const QString& path, const QString& mapPath,
              const TripReader& trips, const PageOptions& options = {},
              const QStringList& mapFolders = {}, const Progress& progress = {});

} // namespace tripsheet
