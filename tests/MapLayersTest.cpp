#include "CheckpointShapes.h"
#include "FormFixture.h"
#include "MapController.h"
#include "MapLayers.h"
#include "SelectionController.h"
#include "TMapvexControl.h"

#include <QLabel>
#include <QRegularExpression>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

// Compares two "x y" texts to ten significant digits.
void expectPoint(const QString& actual, double x, double y) {
    const QStringList parts = actual.split(' ');
    ASSERT_EQ(parts.size(), 2) << actual.toStdString();
    EXPECT_NEAR(parts[0].toDouble(), x, std::abs(x) * 1e-10) << actual.toStdString();
    EXPECT_NEAR(parts[1].toDouble(), y, std::abs(y) * 1e-10) << actual.toStdString();
}

struct MapLayersTest : ::testing::Test {
    void SetUp() override {
        fixture.addGroups();
        fixture.server.computeStatus = 0;
        fixture.server.trips = {FormFixture::trip({{march1(10, 0, 0), 37.5, 55.5, 0, 0}, {march1(10, 0, 10), 37.6, 55.6, 0, 0}})};
        fixture.server.checkpoints = {{"Склад", "ворота", 55, 37, 1000}, {"O'Brien", "дом", 55.1, 37.1, 0}};
        fixture.server.currentGroupId = "g8";
        fixture.server.currentCarId = 80;
    }
    FormFixture fixture;
};

} // namespace

TEST(CheckpointCircle, ThirtyOnePointsClosingTheRing) {
    const QStringList points = checkpointCircle(37, 55, 1000).split(',');
    ASSERT_EQ(points.size(), 31);
    EXPECT_TRUE(points[0].startsWith("37.0156791371")) << points[0].toStdString();
    EXPECT_TRUE(points[0].endsWith(" 55"));
    expectPoint(points[1], 37.0153365104, 55.001869788);
    expectPoint(points[15], 36.9843208629, 55);
    EXPECT_EQ(points[30], points[0]);
    EXPECT_FALSE(checkpointCircle(37, 55, 1000).contains(", "));
    const QStringList still = checkpointCircle(37.25, 55.5, 0).split(',');
    ASSERT_EQ(still.size(), 31);
    for (const QString& p : still)
        EXPECT_EQ(p, "37.25 55.5");
}

TEST_F(MapLayersTest, TheFiveTablesGetTheirFieldsAndOneRecordEach) {
    fixture.start();
    const QStringList calls = fixture.map.calls.mid(0, 22);
    EXPECT_EQ(calls.join('\n'), QStringList({
        "CreateTable → 1", "CreateTable → 2", "CreateTable → 3", "CreateTable → 4", "CreateTable → 5",
        "T1.AddField(TEXT,metr,metr)", "T1.AddRecord",
        "T2.AddField(TEXT,metr,metr)", "T2.AddRecord",
        "T3.AddField(TEXT,metr,metr)", "T3.AddField(TEXT,Name,Name)", "T3.AddRecord",
        "T4.AddField(DOUBLE,XCOORD,Longitude)", "T4.AddField(DOUBLE,YCOORD,Latitude)", "T4.AddField(TEXT,style,style)", "T4.AddRecord",
        "T5.AddField(DOUBLE,XCOORD,Longitude)", "T5.AddField(DOUBLE,YCOORD,Latitude)", "T5.AddField(TEXT,style,style)",
        "T5.AddField(TEXT,style2,style2)", "T5.AddField(TEXT,style3,style3)", "T5.AddRecord"}).join('\n'));
}

TEST_F(MapLayersTest, TheTrailIsAnOutlineUnderARedLine) {
    TForm1& f = fixture.start();
    fixture.map.calls.clear();
    fixture.server.calls.clear();
    f.map().RefreshLayers(1);
    EXPECT_EQ(fixture.server.calls, QStringList({"SetTripIndex(1)", "TrackLine", "TrackLine"}));
    EXPECT_EQ(fixture.map.calls, QStringList({
        "T1.SetValue(L E 37.5 55.5,37.6 55.6,0)", "AddLayer(name=nametab1;metrics=[metr]|l rgb(0,0,0) 4|T1)",
        "T2.SetValue(L E 37.5 55.5,37.6 55.6,0)", "AddLayer(name=nametab2;metrics=[metr]|l rgb(255,0,0) 2|T2)"}));
    fixture.map.calls.clear();
    f.map().RefreshLayers(3);
    f.map().RefreshLayers(0);
    EXPECT_TRUE(fixture.map.calls.isEmpty());
}

TEST_F(MapLayersTest, TheMarkerIsThreeStackedSymbolsEndingInTheHeading) {
    TForm1& f = fixture.start();
    fixture.map.calls.clear();
    f.session().CarMarkerTexts = {"37.55", "55.55", "315"};
    f.map().RefreshLayers(2);
    EXPECT_EQ(fixture.map.calls, QStringList({
        "T5.SetValue(37.55,0)", "T5.SetValue(55.55,1)",
        "T5.SetValue(m '51.otl' 22 rgb(0,0,0) 32 315,2)",
        "T5.SetValue(m '51.otl' 22 rgb(255,255,255) 28 315,3)",
        "T5.SetValue(m '51.otl' 22 rgb(0,0,255) 22 315,4)",
        "AddLayer(name=cartab1;coords=[YCOORD],[XCOORD];style=[style]||T5)",
        "AddLayer(name=cartab2;coords=[YCOORD],[XCOORD];style=[style2]||T5)",
        "AddLayer(name=cartab3;coords=[YCOORD],[XCOORD];style=[style3]||T5)"}));
    EXPECT_EQ(f.ui().Label10->text(), "315");
}

TEST_F(MapLayersTest, CheckpointsAreCirclesWithTheirNamesQuotesAndAll) {
    TForm1& f = fixture.start();
    fixture.map.calls.clear();
    f.ui().ToolButton1->setChecked(true);
    f.map().ToolButton1Click();
    EXPECT_TRUE(f.session().checkpointsShown);
    const QStringList areas = fixture.map.matching("T3.SetValue");
    ASSERT_EQ(areas.size(), 4);
    EXPECT_TRUE(areas[0].startsWith("T3.SetValue(L E 37.0156791371173 55,37.015336510")) << areas[0].toStdString();
    EXPECT_EQ(areas[1], "T3.SetValue(Склад(ворота),1)");
    EXPECT_EQ(fixture.map.matching("T4.SetValue"), QStringList({
        "T4.SetValue(37,0)", "T4.SetValue(55,1)", "T4.SetValue(t 'Склад(ворота)' 'Arial 204' 8 rgb(0,0,0),2)",
        "T4.SetValue(37.1,0)", "T4.SetValue(55.1,1)", "T4.SetValue(t 'O'Brien(дом)' 'Arial 204' 8 rgb(0,0,0),2)"}));
    EXPECT_EQ(fixture.map.matching("AddLayer"), QStringList({
        "AddLayer(name='Контрольная точка';metrics=[metr]|a rgb(255,0,0) 10|T3)",
        "AddLayer(name='КТ';metrics=[metr]|l rgb(255,0,0) 1|T3)",
        "AddLayer(name=centersKT;coords=[YCOORD],[XCOORD];style=[style]||T4)"}));
    EXPECT_EQ(fixture.map.table(3).records.size(), 2u);
    EXPECT_TRUE(fixture.server.calls.contains("LoadCheckpoints(list-1)"));
}

TEST_F(MapLayersTest, NoCheckpointsPublishTheThreeLayersEmpty) {
    fixture.server.checkpoints.clear();
    TForm1& f = fixture.start();
    fixture.map.calls.clear();
    f.ui().ToolButton1->setChecked(true);
    f.map().ToolButton1Click();
    EXPECT_EQ(fixture.map.matching("AddLayer").size(), 3);
    EXPECT_EQ(fixture.map.table(3).records.size(), 0u);
    EXPECT_EQ(fixture.map.table(4).records.size(), 0u);
}

TEST_F(MapLayersTest, ReleasingTheButtonEmptiesBothTablesEvenWithoutAServer) {
    TForm1& f = fixture.start();
    f.ui().ToolButton1->setChecked(true);
    f.map().ToolButton1Click();
    ASSERT_EQ(fixture.map.table(3).records.size(), 2u);
    f.ServerClosed();
    fixture.map.calls.clear();
    f.ui().ToolButton1->setChecked(false);
    f.map().ToolButton1Click();
    EXPECT_FALSE(f.session().checkpointsShown);
    EXPECT_EQ(fixture.map.table(3).records.size(), 0u);
    EXPECT_EQ(fixture.map.table(4).records.size(), 0u);
    EXPECT_EQ(fixture.map.matching("AddLayer").size(), 3);
    EXPECT_EQ(f.mapLayers().shapes.count, 2); // the shapes are kept
}

TEST_F(MapLayersTest, PressingWithoutAServerOrWhileComputingSetsTheFlagAndDrawsNothing) {
    TForm1& f = fixture.start();
    f.ui().ToolButton1->setChecked(false);
    f.map().ToolButton1Click();
    fixture.server.computeStatus = 1;
    fixture.map.calls.clear();
    f.ui().ToolButton1->setChecked(true);
    f.map().ToolButton1Click();
    EXPECT_TRUE(f.session().checkpointsShown);
    EXPECT_TRUE(fixture.map.calls.isEmpty());

    f.ui().ToolButton1->setChecked(false);
    f.map().ToolButton1Click();
    f.ServerClosed();
    fixture.map.calls.clear();
    f.ui().ToolButton1->setChecked(true);
    f.map().ToolButton1Click();
    EXPECT_TRUE(f.session().checkpointsShown);
    EXPECT_TRUE(fixture.map.calls.isEmpty());
}

TEST_F(MapLayersTest, AFailedReadDrawsWhatWasReadAndALoadForgetsTheCheckpoints) {
    TForm1& f = fixture.start();
    fixture.server.failOnce["CheckpointName"] = "обрыв связи";
    f.ui().ToolButton1->setChecked(true);
    f.map().ToolButton1Click();
    EXPECT_TRUE(fixture.sink.messages.empty()); // reading errors are not shown
    f.session().loadTrack(1);
    EXPECT_EQ(f.mapLayers().shapes.count, 0);
    f.map().RefreshLayers(4);
    EXPECT_EQ(fixture.map.table(3).records.size(), 0u);
}

TEST(MapLayersOnTheRealControl, TheTrailIsRedOverBlackAndTheCheckpointARedCircleWithItsName) {
    TMapvexControl control;
    control.resize(400, 400);
    MapLayers layers(control);
    layers.createTables();
    ScriptedAutomation server;
    server.computeStatus = 0;
    server.trips = {FormFixture::trip({{march1(10, 0, 0), 37.60, 55.75, 0, 0}, {march1(10, 1, 0), 37.62, 55.75, 0, 0}})};
    layers.refreshTrail(server, 1);
    layers.shapes.count = 1;
    layers.shapes.shapes = {{checkpointCircle(37.61, 55.745, 150), "37.61", "55.745", "Пост(въезд)"}};
    layers.refreshCheckpoints();
    control.SetCurScale(20000);
    control.CenterOn(55.75, 37.61);
    const QImage image = control.renderImage(QSize(400, 400));
    const Viewport view{control.viewport().centre, 20000, QSize(400, 400), control.viewport().dpi};
    const QPoint onTrail = view.toScreen(mercator::project(37.605, 55.75)).toPoint();
    // Down a column across the trail: black, then red, then black again.
    QString column;
    for (int dy = -5; dy <= 5; ++dy) {
        const QColor c = image.pixelColor(onTrail + QPoint(0, dy));
        column += c.red() > 200 && c.green() < 60 ? 'R' : c.lightness() < 60 ? 'K' : '.';
    }
    EXPECT_TRUE(QRegularExpression("K+R+K+").match(column).hasMatch()) << column.toStdString();
    const QPoint centre = view.toScreen(mercator::project(37.61, 55.745)).toPoint();
    const QPoint insideCircle = centre + QPoint(0, -8);
    const QColor fill = image.pixelColor(insideCircle);
    EXPECT_GT(fill.red(), 200);
    EXPECT_LT(fill.green(), 200);
    int dark = 0; // the label's letters around the centre
    for (int dx = -25; dx <= 25; ++dx)
        for (int dy = -6; dy <= 6; ++dy)
            dark += image.pixelColor(centre + QPoint(dx, dy)).lightness() < 80 ? 1 : 0;
    EXPECT_GT(dark, 10);
}
