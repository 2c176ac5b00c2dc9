#include "FloatToMapStr.h"

#include <algorithm>
#include <charconv>
#include <cstring>
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
    // The digits without trailing zeros, and the decimal exponent.
    char digits[15];
    digits[0] = buffer[0];
    std::memcpy(digits + 1, buffer + 2, 14);
    int count = 15;
    while (count > 1 && digits[count - 1] == '0')
        --count;
    int exponent = 0;
    std::from_chars(buffer + 18, end, exponent);
    if (buffer[17] == '-')
        exponent = -exponent;

    char text[48]; // sign, "0.", four zeros, 15 digits and an exponent at most
    char* out = text;
    if (value < 0)
        *out++ = '-';
    const auto put = [&out](const char* from, int n) { out = std::copy(from, from + n, out); };
    if (exponent < -5 || exponent >= 15) {
        *out++ = digits[0];
        if (count > 1) {
            *out++ = '.';
            put(digits + 1, count - 1);
        }
        *out++ = 'E';
        out = std::to_chars(out, text + sizeof text, exponent).ptr;
    } else if (exponent < 0) {
        *out++ = '0';
        *out++ = '.';
        out = std::fill_n(out, -exponent - 1, '0');
        put(digits, count);
    } else {
        const int whole = exponent + 1;
        if (count <= whole) {
            put(digits, count);
            out = std::fill_n(out, whole - count, '0');
        } else {
            put(digits, whole);
            *out++ = '.';
            put(digits + whole, count - whole);
        }
    }
    return QString::fromLatin1(text, out - text);
}
