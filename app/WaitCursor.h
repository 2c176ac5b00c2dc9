#pragma once

#include <QGuiApplication>

// The wait cursor while the window cannot answer: a trip's load waits for the server's
// answers on the window's thread, over a second for a million points. Restored when the scope
// ends, a failed load included.
class WaitCursor {
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};
