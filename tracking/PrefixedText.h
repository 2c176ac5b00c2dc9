#pragma once

#include <QString>

// `prefix` and `text` in one new text. A trail's line is tens of megabytes: its room is
// reserved once, in huge pages, before anything is written.
QString prefixedText(const QString& prefix, const QString& text);
