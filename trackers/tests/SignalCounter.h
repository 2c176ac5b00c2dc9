#pragma once

#include <QObject>

// Counts a D-Bus signal it is connected to.
class SignalCounter : public QObject {
    Q_OBJECT
public:
    int count = 0;
public slots:
    void note() { ++count; }
};
