#include "SpeedText.h"

#include "IntegerText.h"

namespace speedtext {

int parse(const QString& text) {
    QString digits = text;
    digits.remove(QLatin1Char('x'), Qt::CaseInsensitive);
    if (digits.isEmpty())
        return 1;
    return parseInteger(digits);
}

} // namespace speedtext
