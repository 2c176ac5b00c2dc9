#include "FramePacer.h"
#include "FrameTimer.h"
#include "ValueLabel.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPaintEvent>
#include <QScreen>
#include <gtest/gtest.h>

namespace {

QImage rendered(QWidget& widget) {
    QImage image(widget.size(), QImage::Format_RGB32);
    widget.render(&image);
    return image;
}

// The panel's values drawn from cached glyphs look exactly as QLabel draws them, after a change of
// font too, and so does a text it leaves to QLabel.
TEST(ValueLabel, DrawsTheTextPixelForPixelAsALabelDoes) {
    QFont font;
    font.setFamilies({"Tahoma", "Arial", "Liberation Sans", "DejaVu Sans"});
    for (const int pixels : {11, 12}) {
        font.setPixelSize(pixels);
        for (const QString& text : {QStringLiteral("12,5 км/ч"), QStringLiteral("1234567 м"), QStringLiteral("8110 м"),
                                   QStringLiteral("11.11.2011 11:11:11"), QStringLiteral("Тут 17,1 км/ч"),
                                   QStringLiteral("02.03.2009 08:24:33"), QStringLiteral("-1.5E-7"),
                                   QStringLiteral("AVATAR ffi"), QStringLiteral("Тут")}) {
            QLabel plain(text);
            ValueLabel fast(text);
            QFont before = font;
            before.setPixelSize(20);
            fast.setFont(before);
            fast.resize(175, 15);
            rendered(fast); // its glyphs looked up in another font, to be forgotten with it
            plain.setTextFormat(Qt::PlainText);
            for (QWidget* label : std::initializer_list<QWidget*>{&plain, &fast}) {
                label->setFont(font);
                label->resize(175, 15);
            }
            EXPECT_EQ(rendered(plain), rendered(fast)) << text.toStdString() << " at " << pixels << " px";
        }
    }
}

// Inside a group box, where the style draws a shaded frame beneath it, the label keeps that shade.
TEST(ValueLabel, KeepsWhatItsParentDrawsBeneathIt) {
    QGroupBox plainBox(QStringLiteral("Информационная панель")), fastBox(QStringLiteral("Информационная панель"));
    auto* plain = new QLabel(QStringLiteral("3302 м"), &plainBox);
    auto* fast = new ValueLabel(QStringLiteral("3302 м"), &fastBox);
    for (QGroupBox* box : {&plainBox, &fastBox})
        box->resize(254, 100);
    for (QWidget* label : std::initializer_list<QWidget*>{plain, fast})
        label->setGeometry(72, 42, 175, 15);
    const auto image = [](QWidget& widget) {
        QImage result(widget.size(), QImage::Format_RGB32);
        widget.render(&result);
        return result;
    };
    EXPECT_EQ(image(plainBox), image(fastBox));
    fast->setText(QStringLiteral("3303 м"));
    plain->setText(QStringLiteral("3303 м"));
    EXPECT_EQ(image(plainBox), image(fastBox));
}

// Texts set faster than frames are painted end on screen as the last one set, frame after frame,
// and assistive technology reads the value as the label's name.
TEST(ValueLabel, ShowsTheLastTextSetAndNamesItselfByIt) {
    ValueLabel label(QStringLiteral("0 м"));
    label.resize(175, 15);
    label.show();
    const auto onScreen = [&label] {
        QElapsedTimer elapsed;
        elapsed.start();
        while (elapsed.elapsed() < 100)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        const QPixmap shown = label.screen()->grabWindow(label.winId());
        return shown.toImage().convertToFormat(QImage::Format_RGB32);
    };
    const auto drawn = [](const QString& text) {
        ValueLabel alone(text);
        alone.resize(175, 15);
        return rendered(alone);
    };
    onScreen();
    for (const QString& last : {QStringLiteral("123 м"), QStringLiteral("7 м")}) {
        label.setText(QStringLiteral("1 м"));
        label.setText(last);
        EXPECT_EQ(onScreen(), drawn(last)) << last.toStdString();
    }
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&label);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::StaticText);
    EXPECT_EQ(accessible->text(QAccessible::Name), "7 м");
}

struct CountingWidget : QWidget {
    using QWidget::QWidget;
    void paintEvent(QPaintEvent*) override { ++paints; }
    int paints = 0;
};

// Updates asked for every millisecond are gathered into frames, and the last one is painted.
TEST(FramePacer, GathersUpdatesIntoFramesAndLosesNone) {
    QWidget window;
    new FramePacer(&window);
    auto* child = new CountingWidget(&window);
    window.resize(200, 100);
    child->resize(50, 50);
    window.show();
    QElapsedTimer elapsed;
    elapsed.start();
    while (child->paints == 0 && elapsed.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    const int before = child->paints;
    elapsed.restart();
    int updates = 0;
    while (elapsed.elapsed() < 200) {
        child->update();
        ++updates;
        QApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    const qint64 asked = elapsed.elapsed();
    while (elapsed.elapsed() < asked + 1000)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    const int frames = child->paints - before;
    EXPECT_GE(frames, 1);
    EXPECT_LE(frames, asked / 16 + 2) << updates << " updates";
    const int settled = child->paints;
    child->update(); // one more, long after the last frame: painted without waiting for another
    elapsed.restart();
    while (child->paints == settled && elapsed.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(child->paints, settled + 1);
}

// A frame fires once, when the loop turns after its time or, with nothing else to wake the loop,
// by its own timer; asking again while it waits changes nothing.
TEST(FrameTimer, FiresOnceWhetherTheLoopIsBusyOrIdle) {
    for (const bool ticking : {true, false}) {
        int fired = 0;
        FrameTimer frame([&] { ++fired; });
        QTimer clock; // the playback clock's millisecond ticks
        if (ticking)
            clock.start(1);
        frame.start(20);
        frame.start(5000);
        QEventLoop loop;
        QTimer::singleShot(400, &loop, &QEventLoop::quit);
        loop.exec();
        EXPECT_EQ(fired, 1) << ticking;
        EXPECT_FALSE(frame.isActive());
    }
}

} // namespace
