#pragma once

#include "IdleTimeout.h"

#include <QTcpServer>

namespace trackers {

// The TCP side of the phones' HTTP port: each accepted connection is closed when idle, and
// answered 413 and closed when more than `maxBytes` wait unparsed on it (a 1 MB URL, a body
// announced at gigabytes), before the HTTP server buffers them.
class HttpTcpServer : public QTcpServer {
public:
    HttpTcpServer(int idleMs, qint64 maxBytes, QObject* parent = nullptr)
        : QTcpServer(parent), idle_(idleMs), maxBytes_(maxBytes) {}

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    IdleTimeout idle_;
    qint64 maxBytes_;
};

} // namespace trackers
