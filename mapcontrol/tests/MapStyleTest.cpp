#include "MapStyle.h"
#include "QtPrinters.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

TEST(MapStyle, ReadsTheFourKinds) {
    const auto line = parseStyle("l rgb(255,0,0) 2");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->kind, MapStyle::Kind::Line);
    EXPECT_EQ(line->color, QColor(255, 0, 0));
    EXPECT_DOUBLE_EQ(line->size, 2);
    EXPECT_EQ(parseStyle("a rgb(255,0,0) 10")->kind, MapStyle::Kind::Area);
    const auto symbol = parseStyle("m '51.otl' 22 rgb(0,0,255) 22 315");
    ASSERT_TRUE(symbol);
    EXPECT_EQ(symbol->symbolSet, "51.otl");
    EXPECT_EQ(symbol->symbol, 22);
    EXPECT_DOUBLE_EQ(symbol->heading, 315);
    EXPECT_DOUBLE_EQ(parseStyle("m '51.otl' 22 rgb(0,0,0) 32 1.5E-6")->heading, 1.5e-6);
    const auto label = parseStyle("t 'O'Brien(дом)' 'Arial 204' 8 rgb(0,0,0)");
    ASSERT_TRUE(label);
    EXPECT_EQ(label->label, "O'Brien(дом)");
    EXPECT_EQ(label->font, "Arial 204");
    EXPECT_DOUBLE_EQ(label->size, 8);
}

TEST(MapStyle, RefusesWhatDoesNotParse) {
    for (const char* text : {"", "l", "l rgb(255,0,0)", "l rgb(256,0,0) 2", "l rgb(1,2) 2", "x rgb(0,0,0) 1",
                             "l rgb(0,0,0) -1", "l rgb(0,0,0) 1e9", "m '51.otl' 22 rgb(0,0,0) 32",
                             "m 51.otl 22 rgb(0,0,0) 32 90", "m '51.otl' 22 rgb(0,0,0) 32 north",
                             "m '51.otl' 22 rgb(0,0,0) 32 NAN", "t 'x' 8 rgb(0,0,0)", "t 'unclosed 'Arial' 8 rgb(0,0,0)"})
        EXPECT_FALSE(parseStyle(text).has_value()) << text;
}

TEST(MapGeometry, ReadsLongitudeLatitudePairs) {
    const auto points = parseGeometry("L E 37.5 55.25,38 -56,1E-6 0");
    ASSERT_TRUE(points);
    ASSERT_EQ(points->size(), 3u);
    EXPECT_EQ((*points)[1], QPointF(38, -56));
    EXPECT_DOUBLE_EQ((*points)[2].x(), 1e-6);
    for (const char* text : {"L E ", "L E 37", "L E 37 55,", "37 55", "L E 37,55", "L E 37 91"})
        EXPECT_FALSE(parseGeometry(text).has_value()) << text;
}

TEST(MapLayerDefinition, NamesFieldsInBrackets) {
    const auto trail = parseLayerDefinition("name=nametab1;metrics=[metr]");
    ASSERT_TRUE(trail);
    EXPECT_EQ(trail->name, "nametab1");
    EXPECT_EQ(trail->metricsField, "metr");
    EXPECT_FALSE(trail->isPointLayer());
    const auto area = parseLayerDefinition("name='Контрольная точка';metrics=[metr]");
    EXPECT_EQ(area->name, "Контрольная точка");
    const auto marker = parseLayerDefinition("name=cartab2;coords=[YCOORD],[XCOORD];style=[style2]");
    ASSERT_TRUE(marker);
    EXPECT_EQ(marker->latitudeField, "YCOORD");
    EXPECT_EQ(marker->longitudeField, "XCOORD");
    EXPECT_EQ(marker->styleField, "style2");
    EXPECT_FALSE(parseLayerDefinition("name=x;coords=[Y]").has_value());
    EXPECT_FALSE(parseLayerDefinition("name=;metrics=[m]").has_value());
}

// Random and mutated texts: the parsers answer every one of them, quickly, without a crash.
TEST(MapStyle, RandomAndMutatedTextsNeverCrashOrHang) {
    QRandomGenerator random(4);
    const QStringList seeds = {"l rgb(0,0,0) 4", "a rgb(255,0,0) 10", "m '51.otl' 22 rgb(0,0,255) 22 315",
                               "t 'Склад(ворота)' 'Arial 204' 8 rgb(0,0,0)", "L E 37.5 55.5,37.6 55.6",
                               "name=cartab1;coords=[YCOORD],[XCOORD];style=[style]"};
    const QString alphabet = "lamtLE rgb(),'0123456789.-E[]=;xyz\"\\ \t\n";
    int parsed = 0;
    for (int round = 0; round < 20000; ++round) {
        QString text = seeds[random.bounded(seeds.size())];
        const int edits = random.bounded(1, 6);
        for (int e = 0; e < edits; ++e) {
            const int at = text.isEmpty() ? 0 : random.bounded(text.size());
            switch (random.bounded(4)) {
            case 0: text.insert(at, alphabet[random.bounded(alphabet.size())]); break;
            case 1: text.remove(at, 1); break;
            case 2: if (!text.isEmpty()) text[at] = QChar(ushort(random.bounded(0x500))); break;
            default: text = text.repeated(random.bounded(1, 3)); break;
            }
        }
        if (round % 10 == 0) { // entirely random text
            text.clear();
            for (int i = 0, n = random.bounded(60); i < n; ++i)
                text += alphabet[random.bounded(alphabet.size())];
        }
        parsed += parseStyle(text).has_value() + parseGeometry(text).has_value() +
                  parseLayerDefinition(text).has_value();
    }
    EXPECT_GT(parsed, 100); // some mutations stay valid
}
