#pragma once

#include <QString>

// One stop of the chosen trip, as stop skipping reads it.
struct TStops {
    double BeginTime = 0; // days
    double EndTime = 0;   // days
    QString DurationText;
};
