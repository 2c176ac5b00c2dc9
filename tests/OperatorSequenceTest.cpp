// What an operator does across the window's areas, one sequence a test: a list, then the icons,
// the ribbon, the kinds' menu or a sheet, then a row of the list; a sheet while a trip plays;
// keys typed where text is typed; the first key after the start.
#include "DateTimeValue.h"
#include "ExportController.h"
#include "FormFixture.h"
#include "GlyphButton.h"
#include "InfoPointsController.h"
#include "PlaybackController.h"
#include "PlaybackTimer.h"
#include "SettingsDocument.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QSlider>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

ScriptedAutomation::Entry entryAt(double seconds) {
    ScriptedAutomation::Entry e;
    const double begin = march1(10, 0, 0) + seconds / 86400;
    e.begin = datetime::formatText(begin);
    e.end = datetime::formatText(begin + 60 / 86400.0);
    e.duration = QStringLiteral("00:01:00");
    e.coordA = 30.1;
    e.coordB = 50;
    return e;
}

// A trip of an hour whose stops, sensor switchings and over-speeding begin at different
// moments, so that a row read as another kind lands visibly elsewhere.
struct OperatorSequence : ::testing::Test {
    void SetUp() override {
        fixture.addGroups();
        fixture.server.computeStatus = 0;
        ScriptedAutomation::Trip trip = FormFixture::trip({{march1(10, 0, 0), 30, 50, 0, 0},
                                                           {march1(10, 30, 0), 30.5, 50, 500, 50},
                                                           {march1(11, 0, 0), 31, 50, 1000, 20}});
        trip.entries["parks"] = {entryAt(100), entryAt(600)};
        trip.entries["sensor_on-num3"] = {entryAt(1500), entryAt(2500)};
        trip.entries["over_speed"] = {entryAt(2000)};
        fixture.server.trips = {trip, trip};
    }
    // The stops' list on screen, every row shown.
    TForm1& startOnStops() {
        TForm1& f = fixture.start();
        f.ui().txtCont->setText(QStringLiteral("0"));
        const int item = f.ui().cmbInfoPoints->findData(2);
        f.ui().cmbInfoPoints->setCurrentIndex(item);
        emit f.ui().cmbInfoPoints->activated(item);
        return f;
    }
    // Clicks a row of the list and tells where the track bar landed, in seconds of the trip.
    int clickRow(TForm1& f, int row) {
        QTreeWidgetItem* item = f.ui().ListView1->topLevelItem(row);
        EXPECT_NE(item, nullptr);
        if (!item)
            return -1;
        f.ui().ListView1->setCurrentItem(item);
        emit f.ui().ListView1->itemClicked(item, 0);
        return f.ui().TrackBar->value();
    }
    void expectNoMessages() {
        EXPECT_TRUE(fixture.sink.messages.empty()) << fixture.sink.texts().join("; ").toStdString();
    }
    // Sends a key where the focus really is, as the keyboard does.
    static void press(int key, const QString& text = QString()) {
        QWidget* target = QApplication::focusWidget();
        ASSERT_NE(target, nullptr);
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(target, &event);
    }
    static void showActive(TForm1& f) {
        f.show();
        QApplication::setActiveWindow(&f);
        QApplication::processEvents();
    }

    FormFixture fixture;
};

} // namespace

TEST_F(OperatorSequence, ListThenInfoPointsButtonThenRowLandsOnTheListsOwnEntry) {
    TForm1& f = startOnStops();
    f.ui().ToolButton2->click(); // the icons of every visible kind are read, sensors last
    EXPECT_EQ(clickRow(f, 0), 100);
    EXPECT_EQ(clickRow(f, 1), 600);
    expectNoMessages();
}

TEST_F(OperatorSequence, RibbonOrIconThenRowLandsOnTheListsOwnEntry) {
    TForm1& f = startOnStops();
    f.ui().ToolButton2->click();
    TripEvent sensor;
    sensor.kind = 10; // «Датчик 3»
    sensor.entry = 2;
    f.infoPoints().jumpToEvent(sensor);
    EXPECT_EQ(f.ui().TrackBar->value(), 2500);
    f.infoPoints().clickIcon(0);
    EXPECT_EQ(clickRow(f, 1), 600);
    expectNoMessages();
}

TEST_F(OperatorSequence, KindsMenuThenRowLandsOnTheListsOwnEntry) {
    TForm1& f = startOnStops();
    f.ui().ToolButton2->setChecked(true);
    QAction* sensor3 = f.ui().PopupMenu1->findChild<QAction*>(QStringLiteral("mnu10"));
    ASSERT_NE(sensor3, nullptr);
    sensor3->trigger(); // off, and the kinds read again
    sensor3->trigger(); // on
    EXPECT_EQ(clickRow(f, 0), 100);
    expectNoMessages();
}

TEST_F(OperatorSequence, SheetThenRowLandsOnTheListsOwnEntryAndTheWindowServerIsUntouched) {
    TForm1& f = startOnStops();
    const qsizetype before = fixture.server.calls.size();
    QTemporaryDir folder;
    f.exporter().saveSheet(folder.filePath(QStringLiteral("sheet.pdf")));
    EXPECT_TRUE(fixture.server.calls.mid(before).filter(QStringLiteral("SetTrip")).isEmpty());
    EXPECT_EQ(clickRow(f, 1), 600);
    expectNoMessages();
}

TEST_F(OperatorSequence, SheetsDuringPlaybackLeaveTheWindowPlayingWhereItWas) {
    TForm1& f = fixture.start();
    f.ui().ListView1->setCurrentItem(f.ui().ListView1->topLevelItem(1));
    emit f.ui().ListView1->itemClicked(f.ui().ListView1->topLevelItem(1), 0); // trip 2
    const int group = f.ui().cmbGroupName->currentIndex(),
              car = f.ui().cmbCarDevice->currentIndex();
    f.ui().ToolButton3->setChecked(false); // no rest at a stop
    f.ui().btnPlay->click();
    fixture.advance(2);
    f.playback().Timer1Timer();
    ASSERT_TRUE(f.ui().Timer1->enabled());
    const int position = f.ui().TrackBar->value();
    const qsizetype before = fixture.server.calls.size();
    QTemporaryDir folder;
    for (const char* name : {"first.pdf", "second.pdf"})
        f.exporter().saveSheet(folder.filePath(QString::fromLatin1(name)));
    // Each sheet computed its own trip 2 on its own server; the window's server saw none of it.
    EXPECT_EQ(fixture.sheetCalls.filter(QStringLiteral("ComputeTrack")).size(), 2);
    EXPECT_EQ(fixture.sheetCalls.filter(QStringLiteral("TrackLine")).size(), 2); // one chosen trip each
    for (const QString& call : fixture.server.calls.mid(before))
        EXPECT_TRUE(call.startsWith(QStringLiteral("SetPropertyName")) ||
                    call == QStringLiteral("PropertyValue"))
            << call.toStdString();
    EXPECT_TRUE(f.ui().Timer1->enabled() && f.session().playing());
    EXPECT_EQ(f.ui().TrackBar->value(), position);
    EXPECT_EQ(f.session().selection.CurrentTrip, 2);
    EXPECT_EQ(f.ui().cmbGroupName->currentIndex(), group);
    EXPECT_EQ(f.ui().cmbCarDevice->currentIndex(), car);
    expectNoMessages();
}

TEST_F(OperatorSequence, KeysInTheSpeedBoxAreTheBoxsOwn) {
    TForm1& f = fixture.start();
    showActive(f);
    f.ui().btnPlay->click();
    fixture.advance(2);
    f.playback().Timer1Timer();
    const int position = f.ui().TrackBar->value();
    f.ui().cmbSpeed->setFocus();
    QApplication::processEvents();
    ASSERT_EQ(QApplication::focusWidget(), f.ui().cmbSpeed);
    for (int key : {Qt::Key_Home, Qt::Key_Left, Qt::Key_Right, Qt::Key_Space})
        press(key, key == Qt::Key_Space ? QStringLiteral(" ") : QString());
    EXPECT_TRUE(f.ui().Timer1->enabled()); // Home and Space did not stop or pause
    EXPECT_EQ(f.ui().TrackBar->value(), position);

    f.ui().cmbSpeed->lineEdit()->selectAll();
    for (char digit : std::string("12345678"))
        press(Qt::Key_0 + (digit - '0'), QString(QChar::fromLatin1(digit)));
    EXPECT_EQ(f.ui().cmbSpeed->currentText(), QStringLiteral("123x"));
    press(Qt::Key_A, QStringLiteral("a"));
    EXPECT_EQ(f.ui().cmbSpeed->currentText(), QStringLiteral("123x"));
    expectNoMessages();
}

TEST_F(OperatorSequence, SpaceRightAfterTheStartPlays) {
    TForm1& f = fixture.start();
    showActive(f);
    ASSERT_EQ(QApplication::focusWidget(), f.ui().ListView1);
    press(Qt::Key_Space, QStringLiteral(" "));
    EXPECT_TRUE(f.ui().Timer1->enabled());
    press(Qt::Key_Space, QStringLiteral(" "));
    EXPECT_FALSE(f.ui().Timer1->enabled());
}

TEST_F(OperatorSequence, CheckpointsSavedAsShownAreDrawnAtTheNextStart) {
    fixture.server.checkpoints = {{QStringLiteral("База"), QString(), 50, 30, 300}};
    fixture.server.currentGroupId = QStringLiteral("g8");
    fixture.server.currentCarId = 80;
    fixture.writeSettings(SettingsDocument::defaultDocument().replace("<LoadKT>false</LoadKT>", "<LoadKT>true</LoadKT>"));
    TForm1& f = fixture.start();
    ASSERT_TRUE(f.ui().ToolButton1->isChecked());
    f.session().selection.RequestPending = true; // the answer to the start's own request
    fixture.server.raise(AutomationEvent::OnEndComputing);
    EXPECT_GE(fixture.server.count(QStringLiteral("LoadCheckpoints")), 1);
    expectNoMessages();
}

TEST_F(OperatorSequence, LiveFollowsNewPositionsOnlyWhenAskedAndShowsTheLastOne) {
    TForm1& f = fixture.start();
    fixture.server.raise(AutomationEvent::OnEndComputing); // the start's own request answered
    f.ui().cmbCarDevice->setCurrentIndex(0);
    f.ui().DateEnd->setDate(QDate(2100, 1, 1)); // the period reaches the present
    const auto asked = [&] { return fixture.server.count(QStringLiteral("ComputeTrack")); };
    const int before = asked();
    fixture.server.raise(AutomationEvent::OnReceiveOnlineData);
    EXPECT_EQ(asked(), before); // off by default: nothing computed

    auto* live = f.findChild<QToolButton*>(QStringLiteral("btnLive"));
    ASSERT_NE(live, nullptr);
    live->click();
    fixture.server.trips.push_back(fixture.server.trips.back()); // a third trip came in
    fixture.server.raise(AutomationEvent::OnReceiveOnlineData);
    ASSERT_EQ(asked(), before + 1);
    fixture.server.raise(AutomationEvent::OnReceiveOnlineData); // within the second: not again
    EXPECT_EQ(asked(), before + 1);
    fixture.server.raise(AutomationEvent::OnEndComputing);
    EXPECT_EQ(f.session().selection.CurrentTrip, 3);
    EXPECT_EQ(f.ui().TrackBar->value(), f.ui().TrackBar->maximum() - 1); // the vehicle where it is now
    expectNoMessages();
}
