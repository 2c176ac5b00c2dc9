#include "FloatToMapStr.h"

#include <charconv>
#include <cmath>

QString FloatToMapStr(double value) {
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    if (value == 0)
        return QStringLiteral("0");

    // Never printf: under a locale with a decimal comma it would write one.
    char buffer[40];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                   std::chars_format::scientific, 14).ptr; // d.dddddddddddddde±XX
    QByteArray digits;
    digits.append(buffer[0]);
    digits.append(buffer + 2, 14);
    int exponent = 0;
    std::from_chars(buffer + 18, end, exponent);
    if (buffer[17] == '-')
        exponent = -exponent;
    while (digits.size() > 1 && digits.endsWith('0'))
        digits.chop(1);

    QByteArray text = value < 0 ? QByteArray("-") : QByteArray();
    if (exponent < -5 || exponent >= 15) {
        text += digits.left(1);
        if (digits.size() > 1)
            text += '.' + digits.mid(1);
        text += 'E' + QByteArray::number(exponent);
    } else if (exponent < 0) {
        text += "0." + QByteArray(-exponent - 1, '0') + digits;
    } else {
        const int whole = exponent + 1;
        if (digits.size() <= whole) {
            text += digits + QByteArray(whole - digits.size(), '0');
        } else {
            text += digits.left(whole) + '.' + digits.mid(whole);
        }
    }
    return QString::fromLatin1(text);
}
