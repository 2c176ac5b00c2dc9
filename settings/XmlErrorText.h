#pragma once

#include <QString>

// Qt's XML parser's message (English, from QXmlStreamReader) as a Russian text saying what
// was found and what was expected; a message already in Russian (Qt's translation) is kept,
// one it does not know is kept marked as Qt's.
QString russianXmlError(const QString& message);
