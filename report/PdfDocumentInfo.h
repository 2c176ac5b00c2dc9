#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// A PDF's document properties, written both as its information dictionary and as the XMP
// packet PDF/A asks for, the two saying the same.
struct PdfDocumentInfo {
    QString title, author, subject, creator;
    QString producer = QStringLiteral("Qt " QT_VERSION_STR);
    QDateTime created = QDateTime::currentDateTimeUtc();

    // The XMP packet with the PDF/A-1b identification.
    QByteArray xmp() const;
    // The information dictionary, `<< … >>`.
    QByteArray dictionary() const;
};
