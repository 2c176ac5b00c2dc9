#pragma once

#include <QString>
#include <optional>

class IVantrelAutomation;

namespace entryquery {

struct Split {
    QString type;
    std::optional<QString> kind; // absent: the server's kind stays as the last query set it
};

// "tank-num1" → type "tank", kind "num1"; "parks" → type "parks", no kind. Split at the first "-".
Split split(const QString& query);

// Sets the server's entry-list selection for a query.
void SelectEntryQuery(IVantrelAutomation& server, const QString& query);

// An entry's duration text, "hh:mm:ss" optionally preceded by a day count and one separator
// ("1 00:00:05"), in days. Throws VantrelError when it does not convert.
double ParseEntryDuration(const QString& text);

// The fourth column of an info-point list: what it shows and its caption.
enum class ValueColumn { Duration, Speed, Tank1, Tank2 };
ValueColumn valueColumnFor(const QString& query);
QString valueColumnCaption(ValueColumn column);

// A number as the list shows it: at most 15 significant digits, the locale's separator.
QString listNumber(double value);

} // namespace entryquery
