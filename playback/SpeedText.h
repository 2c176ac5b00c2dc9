#pragma once

#include <QChar>
#include <QString>

namespace speedtext {

// The factor of a speed text: every "x" or "X" removed, the rest read as a decimal integer;
// nothing left gives 1. Throws VantrelError when the rest is not an integer.
int parse(const QString& text);

// How the speed box shows a factor: "60x".
inline QString format(int speed) { return QString::number(speed) + QLatin1Char('x'); }

// The speed box lets through digits, the lowercase "x" and backspace only.
inline bool acceptsKey(QChar key) {
    return (key >= QLatin1Char('0') && key <= QLatin1Char('9')) || key == QLatin1Char('x') ||
           key == QChar(8);
}

} // namespace speedtext
