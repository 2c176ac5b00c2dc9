#pragma once

#include "AtomicFile.h"

#include <QIODevice>
#include <exception>

// A write-only device over an AtomicFile: writers stream into it in chunks, so a file of
// hundreds of megabytes never sits in memory whole. A failed write (a full disk) is kept and
// thrown again by check() and commit(), outside the Qt code that wrote through the device.
class AtomicFileDevice : public QIODevice {
public:
    explicit AtomicFileDevice(const QString& target);

    // Throws the failure of an earlier write, if any.
    void check() const;
    // Writes what is left and puts the file in place; throws when any write failed.
    void commit();

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 length) override;
    // Writes the chunk gathered so far.
    void flushChunk();
    // Sees every chunk just before it is written.
    virtual void writing(const QByteArray& /*chunk*/) {}

private:
    AtomicFile file_;
    QByteArray chunk_;
    std::exception_ptr failure_;
};
