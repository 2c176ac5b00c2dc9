#pragma once

#include <QString>

// Reads a decimal 32-bit integer with an optional leading sign, nothing else around it;
// throws VantrelError "''text'' is not a valid integer value" otherwise.
int parseInteger(const QString& text);
