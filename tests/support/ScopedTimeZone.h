#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <ctime>

// Puts the process in another time zone for a scope, and back.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) : had_(qEnvironmentVariableIsSet("TZ")), saved_(qgetenv("TZ")) {
        qputenv("TZ", zone);
        tzset();
    }
    ~ScopedTimeZone() {
        if (had_)
            qputenv("TZ", saved_);
        else
            qunsetenv("TZ");
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    bool had_;
    QByteArray saved_;
};
