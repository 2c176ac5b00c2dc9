#pragma once

#include <QString>

// A number for the map: rounded to 15 significant digits, trailing zeros dropped, "." as the
// separator whatever the locale; exponent form ("1.5E-7", "1E20") below 0.00001 or with more
// than 15 digits before the point.
QString FloatToMapStr(double value);
