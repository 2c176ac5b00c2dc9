#pragma once

#include <QFrame>

class QLabel;

// On the map's lower left while a trip's numbers travel (how many points are coming) or while
// the server computes the trips of a period, with a running bar, so the operator sees the
// window at work and free to use.
class LoadProgress : public QFrame {
public:
    explicit LoadProgress(QWidget* map);
    // Shown for a load of `points`, else while `computing`; hidden for neither.
    void showWork(int points, bool computing);
    // Shown with `text` in row `row` from the bottom (0 the lowest); hidden for no text.
    void showText(const QString& text, int row = 0);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void place();

    QLabel* text_ = nullptr;
    int row_ = 0;
};
