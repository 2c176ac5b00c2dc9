#include "MessageSink.h"

#include <QMessageBox>

void BoxMessageSink::showMessage(const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok);
    box.exec();
}
