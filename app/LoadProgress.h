#pragma once

#include <QFrame>

class QLabel;

// On the map's lower left while a trip's numbers travel: how many points are coming and a
// running bar, so the operator sees the window at work and free to use.
class LoadProgress : public QFrame {
public:
    explicit LoadProgress(QWidget* map);
    // Shown for a load of `points`; hidden for 0.
    void showLoading(int points);
    // Shown with `text` in row `row` from the bottom (0 the lowest); hidden for no text.
    void showText(const QString& text, int row = 0);

private:
    QLabel* text_ = nullptr;
};
