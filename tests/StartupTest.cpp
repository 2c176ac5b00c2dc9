#include "FormFixture.h"
#include "GlyphButton.h"
#include "PlaybackController.h"
#include "PlaybackTimer.h"

#include <QAction>
#include <QCoreApplication>
#include <QSplitter>
#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSlider>
#include <QTimeEdit>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

int indexOf(const QStringList& calls, const QString& prefix) {
    for (int i = 0; i < calls.size(); ++i)
        if (calls[i].startsWith(prefix))
            return i;
    return -1;
}

void expectDesignValues(TForm1& f) {
    EXPECT_EQ(f.ui().cmbSpeed->currentText(), "600x");
    EXPECT_EQ(f.ui().txtCont->text(), "6");
    EXPECT_EQ(f.ui().DateBegin->date(), QDate(2009, 2, 6));
    EXPECT_EQ(f.ui().DateEnd->date(), QDate(2009, 2, 6));
    EXPECT_EQ(f.ui().TimeBegin->time(), QTime(0, 0));
    EXPECT_EQ(f.ui().TimeEnd->time(), QTime(0, 0));
    for (QToolButton* toggle : {f.ui().ToolButton4, f.ui().ToolButton1, f.ui().ToolButton2, f.ui().ToolButton3})
        EXPECT_TRUE(toggle->isChecked()) << toggle->objectName().toStdString();
    ASSERT_EQ(f.ui().cmbInfoPoints->count(), 1);
    EXPECT_EQ(f.ui().cmbInfoPoints->itemText(0), "Список рейсов");
    EXPECT_EQ(f.ui().cmbGroupName->count(), 0);
    EXPECT_EQ(f.ui().cmbCarName->count(), 0);
    EXPECT_EQ(f.ui().cmbCarNum->count(), 0);
    EXPECT_EQ(f.ui().cmbCarDevice->count(), 0);
}

} // namespace

TEST(Window, ControlsCarryTheirDesignNamesAndValues) {
    FormFixture fixture;
    TForm1& f = fixture.create();
    EXPECT_EQ(f.windowTitle(), "Плеер \"Vantrel\" для программы \"Tessarin\"");
    EXPECT_EQ(f.ui().Panel2->minimumWidth(), 266);
    for (const char* name : {"cmbGroupName", "cmbCarName", "cmbCarNum", "cmbCarDevice", "btnPlay",
                             "btnStop", "ListView1", "TrackBar", "cmbSpeed", "UpDown1", "UpDown2",
                             "txtCont", "lblTripNum", "lblDate", "lblSpeed", "lblDistance", "Label10",
                             "ToolButton1", "ToolButton2", "ToolButton3", "ToolButton4", "btnSettings",
                             "SpeedButton1", "GroupBox2", "GroupBox3", "GroupBox4", "GroupBox5"})
        EXPECT_NE(f.findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;
    expectDesignValues(f);
    EXPECT_EQ(f.ui().btnPlay->glyph(), "4");
    EXPECT_EQ(f.ui().btnStop->glyph(), "<");
    EXPECT_EQ(f.ui().lblTripNum->text(), "N/A");
    EXPECT_EQ(f.ui().lblDate->text(), "0");
    EXPECT_EQ(f.ui().lblSpeed->text(), "0 км/ч");
    EXPECT_EQ(f.ui().lblDistance->text(), "0 м");
    EXPECT_EQ(f.ui().ToolButton1->toolTip(), "Контрольные точки");
    EXPECT_EQ(f.ui().ToolButton3->toolTip(), "Пропуск остановок");
    EXPECT_FALSE(f.ui().btnSettings->isCheckable());
    EXPECT_FALSE(f.ui().Timer1->enabled());
    EXPECT_EQ(f.ui().Timer1->interval(), 1000);

    QStringList speeds;
    for (int i = 0; i < f.ui().cmbSpeed->count(); ++i)
        speeds << f.ui().cmbSpeed->itemText(i);
    EXPECT_EQ(speeds.join(','), "600x,300x,100x,60x,30x,10x,6x,3x,1x");
    ASSERT_EQ(f.ui().ListView1->columnCount(), 4);
    EXPECT_EQ(f.ui().ListView1->headerItem()->text(3), "Прод-ть");
    EXPECT_EQ(f.ui().ListView1->columnWidth(0), 25);
    EXPECT_EQ(f.ui().ListView1->columnWidth(3), 75);

    QStringList menu;
    for (QAction* action : f.ui().PopupMenu1->actions())
        menu << action->objectName() + (action->isChecked() ? "+" : "");
    EXPECT_EQ(menu.join(','), "mnu2+,mnu3+,mnu4+,mnu5+,N5,mnu6+,mnu7+,N6,mnu8+,mnu9+,mnu10+,"
                              "mnu11+,mnu12+,mnu13+");
}

TEST(Window, GroupBoxesWidenWithThePanelAndCentredControlsMoveByHalf) {
    FormFixture fixture;
    TForm1& f = fixture.create();
    f.setWindowState(Qt::WindowNoState);
    f.resize(873, 668);
    f.show();
    f.ui().Splitter1->setSizes({266, 602});
    QCoreApplication::processEvents();
    ASSERT_EQ(f.ui().Panel2->width(), 266);
    const QRect listBefore = f.ui().ListView1->geometry();
    const QRect playBefore = f.ui().btnPlay->geometry();
    EXPECT_EQ(listBefore, QRect(1, 42, 251, 141));
    f.ui().Splitter1->setSizes({366, 502});
    QCoreApplication::processEvents();
    EXPECT_EQ(f.ui().GroupBox3->width(), 355);
    EXPECT_EQ(f.ui().cmbGroupName->width() - 151, f.ui().GroupBox3->width() - 255);
    EXPECT_EQ(f.ui().ListView1->width(), listBefore.width() + 100);
    EXPECT_EQ(f.ui().btnPlay->x(), playBefore.x() + 50);
    EXPECT_EQ(f.ui().TimeBegin->x(), 186 + 100);
}

TEST(StartUp, RunsItsStepsInOrderAndOpensTheMapLast) {
    FormFixture fixture;
    fixture.addGroups();
    fixture.start();
    const QStringList& calls = fixture.server.calls;
    ASSERT_GE(calls.size(), 5);
    EXPECT_EQ(calls[0], "StartServer");
    EXPECT_EQ(calls[1], "RegisterHandler(205)");
    EXPECT_EQ(calls[2], "RegisterHandler(203)");
    EXPECT_EQ(calls[3], "RegisterHandler(202)");
    // FillTripList asks for the result before the groups are read.
    EXPECT_LT(indexOf(calls, "ComputeStatus"), indexOf(calls, "GroupCount"));
    // The restored selection sends the first request.
    EXPECT_EQ(fixture.server.count("ComputeTrack("), 1);

    const QStringList& map = fixture.map.calls;
    EXPECT_EQ(map.first(), "CreateTable → 1");
    EXPECT_EQ(fixture.map.matching("CreateTable").size(), 5);
    EXPECT_EQ(map.last(), "LoadMap(C:\\Mapvex5\\MAPS\\ecatsub.chart|)");
    EXPECT_TRUE(fixture.sink.messages.empty());
}

TEST(StartUp, WithoutServerShowsTheStartErrorThenTheGroupErrorAndKeepsDesignValues) {
    FormFixture fixture;
    fixture.server.failures["StartServer"] = "нет шины";
    fixture.server.failures["GroupCount"] = "Нет связи с сеансовой шиной D-Bus";
    TForm1& f = fixture.start();
    ASSERT_EQ(fixture.sink.messages.size(), 2u);
    EXPECT_EQ(fixture.sink.messages[0].text, "Ошибка запуска ПО Vantrel");
    EXPECT_EQ(fixture.sink.messages[0].title, "Ошибка");
    EXPECT_EQ(fixture.sink.messages[1].text, "Нет связи с сеансовой шиной D-Bus");
    expectDesignValues(f);
    EXPECT_TRUE(fixture.map.matching("LoadMap").isEmpty());
    EXPECT_FALSE(QFile::exists(fixture.settingsPath())); // the settings were never read

    f.FormDestroy();
    EXPECT_FALSE(QFile::exists(fixture.settingsPath())); // nor written: nothing of them is known
}

TEST(StartUp, AFailingMapCallIsReportedAndEndsTheSequence) {
    FormFixture fixture;
    fixture.addGroups();
    fixture.map.failOn = "AddField";
    fixture.start();
    ASSERT_EQ(fixture.sink.messages.size(), 1u);
    EXPECT_EQ(fixture.sink.messages[0].text, "Ошибка карты в AddField");
    EXPECT_EQ(fixture.server.count("GroupCount"), 0);
    EXPECT_TRUE(fixture.map.matching("LoadMap").isEmpty());
}

TEST(ServerClosed, ForgetsTheServerAndDisablesTheListForTheRestOfTheRun) {
    FormFixture fixture;
    fixture.addGroups();
    TForm1& f = fixture.start();
    fixture.server.raise(AutomationEvent::OnCloseServer);
    EXPECT_FALSE(f.session().hasServer());
    EXPECT_FALSE(f.ui().ListView1->isEnabled());
    EXPECT_EQ(f.ui().cmbGroupName->count(), 8); // the boxes keep their contents

    const int before = fixture.server.calls.size();
    fixture.server.raise(AutomationEvent::OnEndComputing);
    fixture.server.raise(AutomationEvent::OnReceiveOnlineData);
    emit f.ui().cmbGroupName->activated(2);
    f.ui().cmbCarNum->setCurrentIndex(1);
    emit f.ui().cmbCarNum->activated(1);
    emit f.ui().cmbInfoPoints->activated(0);
    EXPECT_EQ(fixture.server.calls.size(), before); // nothing reaches the closed server
    EXPECT_EQ(f.ui().cmbCarName->currentIndex(), 1);     // but the car boxes still move together
    EXPECT_EQ(f.ui().cmbCarDevice->currentIndex(), 1);
    EXPECT_TRUE(fixture.sink.messages.empty());
    EXPECT_FALSE(f.ui().ListView1->isEnabled());
}

TEST(Shutdown, StopsPlaybackThenSavesTheSpeedShown) {
    FormFixture fixture;
    fixture.addGroups();
    fixture.server.computeStatus = 0;
    fixture.server.trips.push_back(FormFixture::trip(
        {{march1(10, 0, 0), 30, 50, 0, 10}, {march1(10, 0, 10), 31, 51, 100, 20},
         {march1(10, 0, 20), 32, 52, 200, 30}}));
    TForm1& f = fixture.start();
    ASSERT_NE(f.ui().ListView1->currentItem(), nullptr);
    f.playback().btnPlayClick();
    ASSERT_TRUE(f.ui().Timer1->enabled());
    f.ui().cmbSpeed->setEditText("30x");
    f.FormDestroy();
    EXPECT_FALSE(f.ui().Timer1->enabled());
    EXPECT_EQ(f.ui().btnPlay->glyph(), "4");
    EXPECT_TRUE(QString::fromUtf8(fixture.readSettings()).contains("<Speed>30x</Speed>"));
}

TEST(ErrorReporter, AServerErrorInAHandlerIsShownAndTheWindowGoesOn) {
    FormFixture fixture;
    fixture.addGroups();
    TForm1& f = fixture.start();
    fixture.server.failures["CarCount"] = "Сервер недоступен";
    f.ui().cmbGroupName->setCurrentIndex(1);
    emit f.ui().cmbGroupName->activated(1);
    ASSERT_EQ(fixture.sink.messages.size(), 1u);
    EXPECT_EQ(fixture.sink.messages[0].text, "Сервер недоступен");
    fixture.server.failures.clear();
    emit f.ui().cmbGroupName->activated(1);
    EXPECT_EQ(f.ui().cmbCarName->count(), 2);
}
