#include "IntegerText.h"

#include "VantrelError.h"

int parseInteger(const QString& text) {
    bool ok = false;
    const QString trimmed = text.trimmed();
    const int value = trimmed.toInt(&ok, 10);
    if (!ok || trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('+')))
        throw VantrelError(QLatin1Char('\'') + text + QStringLiteral("' не является целым числом"));
    return value;
}
