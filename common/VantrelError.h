#pragma once

#include <QString>
#include <stdexcept>

// The one error type of the system: an exception carrying a text a person can read.
class VantrelError : public std::runtime_error {
public:
    explicit VantrelError(const QString& text) : std::runtime_error(text.toStdString()) {}
    QString text() const { return QString::fromUtf8(what()); }
};
