#include "LoadProgress.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>

LoadProgress::LoadProgress(QWidget* map) : QFrame(map) {
    setObjectName(QStringLiteral("loadProgress"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 3, 6, 3);
    text_ = new QLabel(this);
    auto* bar = new QProgressBar(this);
    bar->setRange(0, 0); // how far the transfer is, the bus does not tell
    bar->setFixedWidth(120);
    layout->addWidget(text_);
    layout->addWidget(bar);
    map->installEventFilter(this); // kept in the corner while the chart below resizes the map
    hide();
}

void LoadProgress::showWork(int points, bool computing) {
    if (points <= 0 && !computing) {
        hide();
        return;
    }
    text_->setText(points > 0 ? QStringLiteral("Загрузка рейса: %1 точек…")
                                    .arg(QLocale(QLocale::Russian).toString(points))
                              : QStringLiteral("Расчёт рейсов за период…"));
    adjustSize();
    place();
    raise();
    show();
}

void LoadProgress::showText(const QString& text, int row) {
    if (text.isEmpty()) {
        hide();
        return;
    }
    row_ = row;
    text_->setText(text);
    adjustSize();
    place();
    raise();
    show();
}

void LoadProgress::place() {
    if (QWidget* map = parentWidget())
        move(6, map->height() - (height() + 6) * (row_ + 1));
}

bool LoadProgress::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        place();
    return QFrame::eventFilter(watched, event);
}
