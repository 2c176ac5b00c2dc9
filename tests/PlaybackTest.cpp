#include "FormFixture.h"
#include "GlyphButton.h"
#include "PlaybackController.h"
#include "PlaybackTimer.h"
#include "SpeedChart.h"
#include "SpeedText.h"
#include "UpDown.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QSlider>
#include <QToolButton>
#include <QTimer>
#include <QTreeWidget>
#include "VantrelError.h"
#include <gtest/gtest.h>

namespace {

constexpr double kSecond = 1 / 86400.0;

// A speed label as the user's locale writes it: "10.0 км/ч" in English, "10,0 км/ч" in Russian.
QString speedLabelText(const char* number) {
    return QString::fromLatin1(number).replace(QLatin1Char('.'), QLocale().decimalPoint()) +
           QStringLiteral(" км/ч");
}

struct Playback : ::testing::Test {
    void SetUp() override {
        fixture.addGroups();
        fixture.server.computeStatus = 0;
        fixture.server.trips = {FormFixture::trip({{march1(10, 0, 0), 30, 50, 0, 10},
                                                   {march1(10, 10, 0), 31, 50, 1000, 20},
                                                   {march1(10, 20, 0), 32, 50, 2000, 30}})};
    }
    TForm1& start() {
        TForm1& f = fixture.start();
        f.session().clock.PlaySpeed = 60;
        f.ui().cmbSpeed->setEditText("60x");
        return f;
    }
    double t1() const { return march1(10, 0, 0); }
    // The wall clock moves on, then one tick runs.
    void tickAfter(TForm1& f, double seconds) {
        fixture.advance(seconds);
        f.playback().Timer1Timer();
    }
    void typeSpeed(TForm1& f, const QString& text) {
        f.ui().cmbSpeed->lineEdit()->setText(text);
        emit f.ui().cmbSpeed->lineEdit()->textEdited(text);
    }
    FormFixture fixture;
};

} // namespace

TEST(PlaybackClock, TheIntervalGivesAboutOneTrackSecondPerTick) {
    const std::pair<int, int> table[] = {{600, 1}, {300, 3}, {100, 10}, {60, 16}, {30, 33},
                                         {10, 100}, {6, 166}, {3, 333}, {1, 1000}, {9999, 1}, {1001, 1}};
    for (const auto& [speed, interval] : table)
        EXPECT_EQ(PlaybackClock::intervalFor(speed), interval) << speed;
}

TEST(PlaybackClock, TheFirstStopContainingTheTimeWinsBeginIncludedEndExcluded) {
    const std::vector<TStops> stops = {{10, 20, ""}, {15, 30, ""}, {40, 50, ""}};
    EXPECT_EQ(PlaybackClock::findStopAt(stops, 10), 0);
    EXPECT_EQ(PlaybackClock::findStopAt(stops, 16), 0); // overlapping: the earlier record
    EXPECT_EQ(PlaybackClock::findStopAt(stops, 20), 1);
    EXPECT_EQ(PlaybackClock::findStopAt(stops, 30), -1);
    EXPECT_EQ(PlaybackClock::findStopAt(stops, 50), -1);
    EXPECT_EQ(PlaybackClock::findStopAt({}, 10), -1);
}

TEST(SpeedText, ReadsDigitsAroundAnyXAndFormatsBack) {
    EXPECT_EQ(speedtext::parse("x"), 1);
    EXPECT_EQ(speedtext::parse(""), 1);
    EXPECT_EQ(speedtext::parse("05x"), 5);
    EXPECT_EQ(speedtext::parse("1x2"), 12);
    EXPECT_EQ(speedtext::parse("300X"), 300);
    EXPECT_EQ(speedtext::parse("x45"), 45);
    EXPECT_THROW(speedtext::parse("6 0x"), VantrelError);
    EXPECT_EQ(speedtext::format(5), "5x");
    for (QChar c : QString("0123456789x"))
        EXPECT_TRUE(speedtext::acceptsKey(c));
    EXPECT_TRUE(speedtext::acceptsKey(QChar(8)));
    for (QChar c : QString("Xa- .,"))
        EXPECT_FALSE(speedtext::acceptsKey(c)) << c.toLatin1();
}

TEST_F(Playback, PlayRunsTheClockFromT1AndPausingKeepsTheTime) {
    TForm1& f = start();
    f.playback().btnPlayClick();
    EXPECT_TRUE(f.ui().Timer1->enabled());
    EXPECT_EQ(f.ui().Timer1->interval(), 16);
    EXPECT_EQ(f.ui().btnPlay->glyph(), ";");
    tickAfter(f, 5); // 5 s at 60x: 5 minutes of track
    EXPECT_NEAR(f.session().clock.PlayTime, t1() + 300 * kSecond, 1e-9);
    EXPECT_EQ(f.ui().TrackBar->value(), 300);
    EXPECT_EQ(f.ui().lblSpeed->text(), speedLabelText("10.0"));
    EXPECT_FALSE(f.ui().lblDate->text().isEmpty());

    f.playback().btnPlayClick(); // pause
    EXPECT_FALSE(f.ui().Timer1->enabled());
    EXPECT_EQ(f.ui().btnPlay->glyph(), "4");
    fixture.advance(100);
    f.playback().btnPlayClick(); // resume
    tickAfter(f, 1);
    EXPECT_NEAR(f.session().clock.PlayTime, t1() + 360 * kSecond, 1e-9);
}

TEST_F(Playback, StopRewindsToT1AndPlayStartsThere) {
    TForm1& f = start();
    f.playback().btnPlayClick();
    tickAfter(f, 5);
    f.playback().btnStopClick();
    EXPECT_FALSE(f.ui().Timer1->enabled());
    EXPECT_EQ(f.ui().TrackBar->value(), 1);
    EXPECT_EQ(f.ui().lblDate->text(), "");
    EXPECT_EQ(f.ui().lblSpeed->text(), "0 км/ч");
    EXPECT_EQ(f.ui().lblDistance->text(), "0 м");
    EXPECT_EQ(f.session().CurPoint, 1);
    // A speed change after Stop does not bring back the stopped moment.
    typeSpeed(f, "30x");
    f.playback().btnPlayClick();
    tickAfter(f, 2);
    EXPECT_NEAR(f.session().clock.PlayTime, t1() + 60 * kSecond, 1e-9);
}

TEST_F(Playback, APlayWithoutABaseStartsAtT1) {
    TForm1& f = start();
    f.session().clock.PlayBase = 0;
    f.playback().btnPlayClick();
    EXPECT_DOUBLE_EQ(f.session().clock.PlayBase, t1());
}

TEST_F(Playback, ASpeedChangeWhilePlayingKeepsThePosition) {
    TForm1& f = start();
    f.playback().btnPlayClick();
    tickAfter(f, 2); // 120 s
    typeSpeed(f, "6x");
    EXPECT_EQ(f.session().clock.PlaySpeed, 6);
    EXPECT_EQ(f.ui().Timer1->interval(), 166);
    tickAfter(f, 10); // 60 s more at 6x
    EXPECT_NEAR(f.session().clock.PlayTime, t1() + 180 * kSecond, 1e-9);
}

TEST_F(Playback, TheSpeedTextIsRewrittenAndAZeroFactorRefused) {
    TForm1& f = start();
    typeSpeed(f, "x");
    EXPECT_EQ(f.ui().cmbSpeed->currentText(), "1x");
    EXPECT_EQ(f.session().clock.PlaySpeed, 1);
    typeSpeed(f, "05x");
    EXPECT_EQ(f.ui().cmbSpeed->currentText(), "5x");
    typeSpeed(f, "1x2");
    EXPECT_EQ(f.ui().cmbSpeed->currentText(), "12x");
    typeSpeed(f, "");
    EXPECT_EQ(f.ui().cmbSpeed->currentText(), "1x");
    typeSpeed(f, "0x");
    EXPECT_EQ(f.session().clock.PlaySpeed, 1);
    EXPECT_EQ(f.ui().cmbSpeed->currentText(), "1x");
    typeSpeed(f, "9999");
    EXPECT_EQ(f.session().clock.PlaySpeed, 9999);
    EXPECT_EQ(f.ui().Timer1->interval(), 1); // fast, and still ticking
    EXPECT_TRUE(fixture.sink.messages.empty());

    typeSpeed(f, "6 0"); // pasted: not a number once the x are gone
    ASSERT_EQ(fixture.sink.messages.size(), 1u);
    EXPECT_EQ(fixture.sink.messages[0].text, "'6 0' не является целым числом");
    EXPECT_EQ(f.session().clock.PlaySpeed, 9999);
}

TEST_F(Playback, TheKeyFilterLetsDigitsLowercaseXAndBackspaceThrough) {
    TForm1& f = start();
    QLineEdit* edit = f.ui().cmbSpeed->lineEdit();
    edit->setText("");
    const auto type = [](QLineEdit* target, int key, const QString& text) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(target, &press);
    };
    type(edit, Qt::Key_1, "1"); // becomes "1x"
    type(edit, Qt::Key_A, "a");
    type(edit, Qt::Key_X, "X");
    type(edit, Qt::Key_Minus, "-");
    type(edit, Qt::Key_2, "2"); // "1x2" becomes "12x"
    type(edit, Qt::Key_X, "x");
    EXPECT_EQ(f.ui().cmbSpeed->currentText(), "12x");
    EXPECT_EQ(f.session().clock.PlaySpeed, 12);

    // At most four characters are typed; the program's own text keeps its length.
    f.ui().txtCont->setText("123");
    f.ui().txtCont->end(false);
    type(f.ui().txtCont, Qt::Key_4, "4");
    type(f.ui().txtCont, Qt::Key_5, "5");
    EXPECT_EQ(f.ui().txtCont->text(), "1234");
    type(f.ui().txtCont, Qt::Key_Backspace, QString(QChar(8)));
    EXPECT_EQ(f.ui().txtCont->text(), "123");
    f.ui().txtCont->setText("123456");
    EXPECT_EQ(f.ui().txtCont->text(), "123456");
}

TEST_F(Playback, TheSpinnerStepsThroughTheListEvenAtItsOwnLimits) {
    TForm1& f = start();
    f.ui().cmbSpeed->setCurrentIndex(3); // 60x
    f.ui().UpDown1->click(true);
    EXPECT_EQ(f.ui().cmbSpeed->currentText(), "100x");
    EXPECT_EQ(f.session().clock.PlaySpeed, 100);
    f.ui().UpDown1->click(false);
    f.ui().UpDown1->click(false);
    EXPECT_EQ(f.ui().cmbSpeed->currentText(), "30x");
    EXPECT_EQ(f.session().clock.PlaySpeed, 30);

    f.ui().UpDown1->setPosition(100);
    EXPECT_EQ(f.ui().UpDown1->click(true), UpDown::Direction::None);
    EXPECT_EQ(f.ui().cmbSpeed->currentText(), "60x");
    f.ui().UpDown1->setPosition(0);
    EXPECT_EQ(f.ui().UpDown1->click(false), UpDown::Direction::None);
    EXPECT_EQ(f.ui().cmbSpeed->currentText(), "30x");
    for (int i = 0; i < 12; ++i)
        f.ui().UpDown1->click(false);
    EXPECT_EQ(f.ui().cmbSpeed->currentText(), "1x"); // the last entry stays
}

TEST_F(Playback, StopsAreSkippedFromTheirBeginButNotAtTheirEnd) {
    TForm1& f = start();
    f.session().StopList = {{t1() + 120 * kSecond, t1() + 300 * kSecond, "00:03:00"}};
    f.playback().btnPlayClick();
    tickAfter(f, 2); // exactly at the stop's begin
    EXPECT_NEAR(f.session().clock.PlayTime, t1() + 300 * kSecond, 1e-9);
    EXPECT_EQ(f.ui().TrackBar->value(), 300);
    EXPECT_FALSE(f.ui().Timer1->enabled()); // resting for a second at the stop's end
    EXPECT_TRUE(f.playback().resting());

    f.playback().btnStopClick();
    f.ui().ToolButton3->setChecked(false);
    f.playback().btnPlayClick();
    tickAfter(f, 2);
    EXPECT_NEAR(f.session().clock.PlayTime, t1() + 120 * kSecond, 1e-9); // skipping off
    f.ui().ToolButton3->setChecked(true);
    f.playback().btnStopClick();
    f.session().StopList = {{t1() + 60 * kSecond, t1() + 120 * kSecond, ""}};
    f.playback().btnPlayClick();
    tickAfter(f, 2); // exactly at the stop's end
    EXPECT_NEAR(f.session().clock.PlayTime, t1() + 120 * kSecond, 1e-9);
    EXPECT_TRUE(f.ui().Timer1->enabled());
}

TEST_F(Playback, TheRestAfterASkipKeepsTheWindowWorkingAndThenResumes) {
    TForm1& f = start();
    f.session().StopList = {{t1() + 60 * kSecond, t1() + 600 * kSecond, ""}};
    f.playback().btnPlayClick();
    tickAfter(f, 1);
    ASSERT_TRUE(f.playback().resting());
    // During the rest a click on Stop stops playback for good.
    f.playback().btnStopClick();
    EXPECT_FALSE(f.playback().resting());
    EXPECT_FALSE(f.ui().Timer1->enabled());
    f.playback().btnPlayClick();
    tickAfter(f, 1);
    ASSERT_TRUE(f.playback().resting());
    fixture.advance(1); // the second of rest is not playback time
    QEventLoop loop;
    QTimer::singleShot(1100, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_FALSE(f.playback().resting());
    EXPECT_TRUE(f.ui().Timer1->enabled());
    tickAfter(f, 1);
    EXPECT_NEAR(f.session().clock.PlayTime, t1() + 660 * kSecond, 1e-9);
}

TEST_F(Playback, TheEndOfTheTrackStopsWithTheVehicleOnTheLastPoint) {
    TForm1& f = start();
    f.playback().btnPlayClick();
    tickAfter(f, 19);
    ASSERT_TRUE(f.ui().Timer1->enabled());
    tickAfter(f, 1.5); // past the end
    EXPECT_FALSE(f.ui().Timer1->enabled());
    EXPECT_EQ(f.ui().btnPlay->glyph(), "4");
    EXPECT_EQ(f.ui().TrackBar->value(), 1);
    EXPECT_EQ(f.ui().lblDate->text(), "");
    EXPECT_EQ(f.session().CarMarkerTexts[0], "32");
    EXPECT_EQ(f.session().CarMarkerTexts[1], "50");
    EXPECT_EQ(f.ui().lblSpeed->text(), speedLabelText("30.0"));
    EXPECT_EQ(f.ui().lblDistance->text(), "2000 м");
}

TEST_F(Playback, ASinglePointTrackStopsOnTheFirstTick) {
    fixture.server.trips = {FormFixture::trip({{march1(10, 0, 0), 30, 50, 0, 10}})};
    TForm1& f = start();
    f.playback().btnPlayClick();
    tickAfter(f, 1);
    EXPECT_FALSE(f.ui().Timer1->enabled());
    EXPECT_EQ(f.ui().btnPlay->glyph(), "4");
}

TEST_F(Playback, TheTrackBarJumpsPlaybackWhetherPlayingOrNot) {
    TForm1& f = start();
    f.ui().TrackBar->setValue(600); // exactly at point 2: the segment that ends there
    EXPECT_EQ(f.session().CarMarkerTexts[0], "31");
    EXPECT_EQ(f.ui().lblDistance->text(), "0 м");
    f.ui().TrackBar->setValue(601);
    EXPECT_NEAR(f.session().clock.PlayTime, t1() + 601 * kSecond, 1e-9);
    EXPECT_TRUE(f.session().CarMarkerTexts[0].startsWith("31.00166")) << f.session().CarMarkerTexts[0].toStdString();
    EXPECT_EQ(f.ui().lblDistance->text(), "1000 м");
    f.playback().btnPlayClick();
    tickAfter(f, 1);
    EXPECT_NEAR(f.session().clock.PlayTime, t1() + 661 * kSecond, 1e-9);
    f.ui().TrackBar->setValue(f.ui().TrackBar->maximum()); // the end stops
    EXPECT_FALSE(f.ui().Timer1->enabled());
    EXPECT_EQ(f.ui().TrackBar->value(), 1);
}

TEST_F(Playback, WithoutASelectedRowTheControlsDoNothing) {
    TForm1& f = start();
    f.ui().ListView1->setCurrentItem(nullptr);
    f.playback().btnPlayClick();
    EXPECT_FALSE(f.ui().Timer1->enabled());
    f.ui().TrackBar->setValue(500);
    EXPECT_DOUBLE_EQ(f.session().clock.PlayTime, t1()); // no jump
    f.ui().ListView1->setCurrentItem(f.ui().ListView1->topLevelItem(0));
    f.playback().btnPlayClick();
    f.ui().ListView1->setCurrentItem(nullptr);
    f.playback().btnStopClick();
    f.playback().btnPlayClick();
    EXPECT_TRUE(f.ui().Timer1->enabled()); // a running playback cannot be paused or stopped
}

TEST_F(Playback, AChartClickReachesThePlaceTheTrackBarDoes) {
    TForm1& f = start();
    f.ui().TrackBar->setValue(601);
    const QStringList byTrackBar = f.session().CarMarkerTexts;
    const QString distance = f.ui().lblDistance->text();
    f.ui().TrackBar->setValue(0);
    ASSERT_TRUE(f.ui().speedChart->onSeek);
    f.ui().speedChart->onSeek(t1() + 601 * kSecond);
    EXPECT_EQ(f.ui().TrackBar->value(), 601);
    EXPECT_EQ(f.session().CarMarkerTexts, byTrackBar);
    EXPECT_EQ(f.ui().lblDistance->text(), distance);
    f.ui().speedChart->onSeek(t1() + 99999 * kSecond); // past the end: the end, as the bar's own
    EXPECT_EQ(f.ui().TrackBar->value(), 1);
}

TEST_F(Playback, ThePlayerKeysPlayStopSeekAndChangeSpeedButNotInAnEditBox) {
    TForm1& f = start();
    const auto press = [&](QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(target, &event);
    };
    const int from = f.ui().TrackBar->value();
    press(f.ui().ListView1, Qt::Key_Right);
    EXPECT_EQ(f.ui().TrackBar->value(), from + 10);
    press(f.ui().ListView1, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(f.ui().TrackBar->value(), from + 70);
    press(f.ui().ListView1, Qt::Key_Left);
    EXPECT_EQ(f.ui().TrackBar->value(), from + 60);
    press(f.ui().txtCont, Qt::Key_Right); // an edit box keeps its keys
    EXPECT_EQ(f.ui().TrackBar->value(), from + 60);
    f.ui().cmbSpeed->setCurrentIndex(f.ui().cmbSpeed->findText("60x"));
    press(f.ui().ListView1, Qt::Key_Plus);
    EXPECT_EQ(f.ui().cmbSpeed->currentText(), "100x");
    press(f.ui().ListView1, Qt::Key_Minus);
    EXPECT_EQ(f.ui().cmbSpeed->currentText(), "60x");
    press(f.ui().ListView1, Qt::Key_Space);
    EXPECT_TRUE(f.ui().Timer1->enabled());
    press(f.ui().ListView1, Qt::Key_Space);
    EXPECT_FALSE(f.ui().Timer1->enabled());
    press(f.ui().ListView1, Qt::Key_Home);
    EXPECT_EQ(f.ui().TrackBar->value(), 1);
}
