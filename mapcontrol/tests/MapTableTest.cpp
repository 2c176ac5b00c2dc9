#include "MapScene.h"
#include "MapTable.h"
#include "QtPrinters.h"
#include "VantrelError.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

TEST(MapTable, AOneRecordTableIsEditedInPlace) {
    MapTable table;
    table.AddField("DOUBLE", "XCOORD", "Longitude");
    table.AddField("TEXT", "style", "style");
    table.AddRecord();
    EXPECT_EQ(table.GetRecordCount(), 1);
    table.SetValue("37.5", 0);
    table.SetValue("m 's' 1 rgb(0,0,0) 10 90", 1);
    ASSERT_EQ(table.records().size(), 1u);
    EXPECT_EQ(table.records()[0], QStringList({"37.5", "m 's' 1 rgb(0,0,0) 10 90"}));
    table.SetValue("38", 0);
    EXPECT_EQ(table.records()[0][0], "38");
    EXPECT_EQ(table.GetRecordCount(), 1);
}

TEST(MapTable, ValuesSetBeforeAddRecordFormTheAppendedRecord) {
    MapTable table;
    table.AddField("TEXT", "metr", "metr");
    table.AddField("TEXT", "Name", "Name");
    table.AddRecord();
    while (table.GetRecordCount() > 0) {
        table.MoveFirst();
        table.DeleteRecord();
    }
    for (const char* name : {"A", "B", "C"}) {
        table.SetValue("L E 1 1", 0);
        table.SetValue(name, 1);
        table.AddRecord();
    }
    const auto records = table.records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0][1], "A");
    EXPECT_EQ(records[1][1], "B");
    EXPECT_EQ(records[2][1], "C");
    table.MoveFirst();
    table.DeleteRecord();
    EXPECT_EQ(table.records()[0][1], "B");
}

TEST(MapTable, BadFieldsAndIndexesFail) {
    MapTable table;
    EXPECT_THROW(table.AddField("BLOB", "x", "x"), VantrelError);
    table.AddField("TEXT", "x", "x");
    EXPECT_THROW(table.SetValue("v", 1), VantrelError);
    EXPECT_THROW(table.SetValue("v", -1), VantrelError);
    table.MoveFirst();
    table.DeleteRecord(); // nothing to delete: nothing happens
    EXPECT_EQ(table.GetRecordCount(), 0);
}

TEST(MapScene, LayersKeepTheOrderOfTheirFirstPublicationAndRepublishingReplaces) {
    MapScene scene;
    MapTable* line = scene.createTable();
    line->AddField("TEXT", "metr", "metr");
    line->AddRecord();
    line->SetValue("L E 37 55,38 56", 0);
    MapTable* point = scene.createTable();
    for (const char* f : {"XCOORD", "YCOORD", "style"})
        point->AddField("TEXT", f, f);
    point->AddRecord();
    point->SetValue("37", 0);
    point->SetValue("55", 1);
    point->SetValue("m 's' 22 rgb(0,0,255) 22 0", 2);
    EXPECT_EQ(scene.addLayer("name=b;metrics=[metr]", "l rgb(255,0,0) 2", line), 0);
    EXPECT_EQ(scene.addLayer("name=a;coords=[YCOORD],[XCOORD];style=[style]", "", point), 0);
    const quint64 revision = scene.staticRevision();
    line->SetValue("L E 37 55,38 56,39 57", 0);
    EXPECT_EQ(scene.addLayer("name=b;metrics=[metr]", "l rgb(0,0,0) 4", line), 0);
    ASSERT_EQ(scene.layers().size(), 2u);
    EXPECT_EQ(scene.layers()[0].name, "b");
    EXPECT_EQ(scene.layers()[0].features[0].points.size(), 3u);
    EXPECT_EQ(scene.layers()[0].features[0].style.color, QColor(0, 0, 0));
    EXPECT_GT(scene.staticRevision(), revision); // the cached part must be drawn again
    const quint64 again = scene.staticRevision();
    point->SetValue("38", 0);
    scene.addLayer("name=a;coords=[YCOORD],[XCOORD];style=[style]", "", point);
    EXPECT_EQ(scene.staticRevision(), again); // the moving marker leaves the cache alone
}

TEST(MapScene, RecordsThatDoNotParseDrawNothing) {
    MapScene scene;
    MapTable* table = scene.createTable();
    table->AddField("TEXT", "metr", "metr");
    for (const char* geometry : {"L E 37 55,38 56", "L E 37 55,38", "37 55", "L E 37 95", "L E x y"}) {
        table->SetValue(geometry, 0);
        table->AddRecord();
    }
    EXPECT_EQ(scene.addLayer("name=t;metrics=[metr]", "l rgb(255,0,0) 2", table), 0);
    EXPECT_EQ(scene.layer("t")->features.size(), 1u);
    EXPECT_EQ(scene.addLayer("name=t;metrics=[metr]", "l rgb(300,0,0) 2", table), 0);
    EXPECT_TRUE(scene.layer("t")->features.empty());
    EXPECT_NE(scene.addLayer("metrics=[metr]", "l rgb(0,0,0) 1", table), 0);
    EXPECT_NE(scene.addLayer("name=u;metrics=[metr];coords=[a],[b]", "l rgb(0,0,0) 1", table), 0);
}
