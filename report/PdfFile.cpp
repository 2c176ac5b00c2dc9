#include "PdfFile.h"

#include "PdfDocumentInfo.h"
#include "VantrelError.h"

#include <QRegularExpression>

namespace {
constexpr qsizetype kTail = 4096;
} // namespace

PdfFile::PdfFile(const QString& target) : AtomicFileDevice(target), target_(target) {}

void PdfFile::writing(const QByteArray& chunk) {
    tail_ = (tail_ + chunk.right(kTail)).right(kTail);
}

void PdfFile::finish(const PdfDocumentInfo& info) {
    flushChunk();
    check(); // a write that failed inside the writer
    // The writer's trailer names the catalogue, the document's identifier and the last table.
    const QString tail = QString::fromLatin1(tail_);
    const auto size = QRegularExpression(QStringLiteral("/Size (\\d+)")).match(tail);
    const auto root = QRegularExpression(QStringLiteral("/Root (\\d+ \\d+ R)")).match(tail);
    const auto id = QRegularExpression(QStringLiteral("/ID \\[[^\\]]*\\]")).match(tail);
    const auto start =
        QRegularExpression(QStringLiteral("startxref\\s+(\\d+)\\s+%%EOF\\s*$")).match(tail);
    if (!size.hasMatch() || !root.hasMatch() || !start.hasMatch())
        throw VantrelError(
            QStringLiteral("Не удалось записать файл %1: лист рейсов не сложился в PDF")
                .arg(target_));
    const int object = size.captured(1).toInt();
    const qint64 written = pos();
    const qint64 at = written + 1;
    QByteArray update =
        "\n" + QByteArray::number(object) + " 0 obj\n" + info.dictionary() + "\nendobj\n";
    const qint64 table = written + update.size();
    update += "xref\n0 1\n0000000000 65535 f \n" + QByteArray::number(object) + " 1\n" +
              QByteArray::number(at).rightJustified(10, '0') + " 00000 n \ntrailer\n<<\n/Size " +
              QByteArray::number(object + 1) + "\n/Root " + root.captured(1).toLatin1() +
              "\n/Info " + QByteArray::number(object) + " 0 R\n" + id.captured(0).toLatin1() +
              "\n/Prev " + start.captured(1).toLatin1() + "\n>>\nstartxref\n" +
              QByteArray::number(table) + "\n%%EOF\n";
    write(update);
    commit();
}
