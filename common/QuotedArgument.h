#pragma once

#include <QString>

// A caller's argument as an error message quotes it: the first 200 characters, and a note of
// how long the rest is. A message never grows with what a hostile caller sends.
QString quotedArgument(const QString& text);
