#pragma once

#include "AtomicFile.h"
#include "VantrelError.h"

#include <QIODevice>
#include <optional>

struct PdfDocumentInfo;

// Where a PDF writer puts its bytes: a temporary file beside the target, filled as the pages
// are laid out (a long document is never held in memory), then given the document's
// properties and renamed over the target. Without finish() nothing is left.
class PdfFile : public QIODevice {
public:
    explicit PdfFile(const QString& target);

    // Appends the properties as an update of the finished document (its information dictionary
    // and trailer), checks that the document ended, and renames it over the target.
    void finish(const PdfDocumentInfo& info);

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override;

private:
    void flush();

    QString target_;
    AtomicFile file_;
    QByteArray buffer_, tail_; // what waits to be written; the last bytes written, for the trailer
    qint64 written_ = 0;
    std::optional<VantrelError> failure_; // a write that failed inside the writer, told at finish()
};
