#pragma once

#include "AtomicFileDevice.h"

struct PdfDocumentInfo;

// Where a PDF writer puts its bytes: a temporary file beside the target, filled as the pages
// are laid out (a long document is never held in memory), then given the document's
// properties and renamed over the target. Without finish() nothing is left.
class PdfFile : public AtomicFileDevice {
public:
    explicit PdfFile(const QString& target);

    // Appends the properties as an update of the finished document (its information dictionary
    // and trailer), checks that the document ended, and renames it over the target.
    void finish(const PdfDocumentInfo& info);

protected:
    void writing(const QByteArray& chunk) override;

private:
    QString target_;
    QByteArray tail_; // the last bytes written, for the trailer
};
