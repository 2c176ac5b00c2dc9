#include "EntryQuery.h"

#include "FloatToMapStr.h"
#include "IVantrelAutomation.h"
#include "IntegerText.h"
#include "VantrelError.h"

#include <QLocale>
#include <QRegularExpression>

namespace entryquery {

Split split(const QString& query) {
    const int dash = query.indexOf(QLatin1Char('-'));
    if (dash < 0)
        return {query, std::nullopt};
    return {query.left(dash), query.mid(dash + 1)};
}

void SelectEntryQuery(IVantrelAutomation& server, const QString& query) {
    const Split parts = split(query);
    server.SetTripEntriesListTypeName(parts.type);
    if (parts.kind)
        server.SetTripEntriesListKindName(*parts.kind);
}

double ParseEntryDuration(const QString& text) {
    static const QRegularExpression timePattern(
        QStringLiteral("^\\s*(\\d{1,2}):(\\d{1,2}):(\\d{1,2})\\s*$"));
    const auto match = timePattern.match(text.right(8));
    const int hours = match.captured(1).toInt();
    const int minutes = match.captured(2).toInt();
    const int seconds = match.captured(3).toInt();
    if (!match.hasMatch() || hours > 23 || minutes > 59 || seconds > 59)
        throw VantrelError(QLatin1Char('\'') + text + QStringLiteral("' не является временем"));
    const double time = (hours * 3600 + minutes * 60 + seconds) / 86400.0;
    if (text.size() > 9)
        return parseInteger(text.left(text.size() - 9)) + time;
    return time;
}

ValueColumn valueColumnFor(const QString& query) {
    if (query == QLatin1String("over_speed"))
        return ValueColumn::Speed;
    if (query == QLatin1String("tank-num1"))
        return ValueColumn::Tank1;
    if (query == QLatin1String("tank-num2"))
        return ValueColumn::Tank2;
    return ValueColumn::Duration;
}

QString valueColumnCaption(ValueColumn column) {
    switch (column) {
    case ValueColumn::Speed:
        return QStringLiteral("Скорость");
    case ValueColumn::Tank1:
    case ValueColumn::Tank2:
        return QStringLiteral("Объем, л");
    case ValueColumn::Duration:
        break;
    }
    return QStringLiteral("Прод-ть");
}

QString listNumber(double value) {
    QString text = FloatToMapStr(value);
    text.replace(QLatin1Char('.'), QLocale().decimalPoint());
    return text;
}

} // namespace entryquery
