#pragma once

#include "AtomicFile.h"

#include <QIODevice>
#include <exception>

namespace vserver {

// A write-only device over an AtomicFile: the writers stream into it in chunks, so a file of
// hundreds of megabytes never sits in memory whole. A failed write (a full disk) is kept and
// thrown again by check() and commit(), outside the Qt code that wrote through the device.
class ExportSink : public QIODevice {
public:
    explicit ExportSink(const QString& target);

    // Throws the failure of an earlier write, if any.
    void check() const;
    // Writes what is left and puts the file in place; throws when any write failed.
    void commit();

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 length) override;

private:
    void flushChunk();

    AtomicFile file_;
    QByteArray chunk_;
    std::exception_ptr failure_;
};

} // namespace vserver
