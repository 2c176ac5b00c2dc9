// The trip sheet as a scheduled job makes it: read from the server, written as a PDF whose
// text says what a dispute needs.
#include "DateTimeValue.h"
#include "FormFixture.h"
#include "SmallDisk.h"
#include "ExportController.h"
#include "TForm1.h"
#include "TripSheet.h"
#include "VantrelError.h"

#include <QComboBox>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

struct Report : ::testing::Test {
    void SetUp() override {
        fixture.addGroups(2);
        fixture.server.computeStatus = 0;
        ScriptedAutomation::Trip trip = FormFixture::trip(
            {{march1(10, 0, 0), 37.60, 55.75, 0, 0}, {march1(10, 30, 0), 37.62, 55.76, 2500, 64}, {march1(11, 0, 0), 37.64, 55.75, 5200, 20}});
        ScriptedAutomation::Entry stop;
        stop.begin = datetime::formatText(march1(10, 10, 0));
        stop.end = datetime::formatText(march1(10, 17, 30));
        stop.duration = QStringLiteral("00:07:30");
        stop.coordA = 37.61;
        stop.coordB = 55.755;
        trip.entries["parks"] = {stop};
        // Earlier than the stop though listed after it, and without a position.
        ScriptedAutomation::Entry fast = stop;
        fast.begin = datetime::formatText(march1(10, 5, 0));
        fast.end = datetime::formatText(march1(10, 6, 0));
        fast.duration = QStringLiteral("00:01:00");
        fast.speed = 97;
        fast.coordA = fast.coordB = 0;
        trip.entries["over_speed"] = {fast};
        fixture.server.trips = {trip, trip};
    }
    tripsheet::TripReader reader() {
        return [this](int trip) { return tripsheet::readTrip(fixture.server, defaultInfoPointDefinitions(), trip); };
    }
    tripsheet::Request request(int trip = 1) {
        return {QStringLiteral("Группа 2"), 201, QStringLiteral("01.03.2009 00:00:00"), QStringLiteral("02.03.2009 00:00:00"), trip};
    }
    FormFixture fixture;
};

// What a poppler tool prints about `pdf`; empty when the tool is missing.
QString poppler(const QString& tool, const QString& pdf, QStringList arguments = {}) {
    QProcess process;
    process.start(tool, arguments << pdf << (tool == "pdftotext" ? QStringList{"-"} : QStringList{}));
    if (!process.waitForFinished(20000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

TEST_F(Report, TheSheetNamesTheVehicleListsItsTripsAndTheStopsWithTheirDuration) {
    QTemporaryDir dir;
    const TripSheet sheet = tripsheet::gather(fixture.server, defaultInfoPointDefinitions(), request(), [] {});
    ASSERT_EQ(sheet.trips.rows.size(), 2u);
    ASSERT_EQ(sheet.chosen.size(), 1u);
    // Both trips drove 5.2 km from 0 to 5200 m; the period's totals add them up, stops left out.
    EXPECT_EQ(sheet.totals.trips, 2);
    EXPECT_DOUBLE_EQ(sheet.totals.metres, 10400);
    EXPECT_NEAR(sheet.totals.stoppedDays * 86400, 2 * 450, 1e-3);
    EXPECT_NEAR(sheet.totals.drivingDays * 86400, 2 * (3600 - 450), 1e-3);
    EXPECT_DOUBLE_EQ(sheet.totals.topSpeed, 64);
    const QString pdf = dir.filePath("sheet.pdf");
    tripsheet::writePdf(sheet, pdf, QString(), reader(), {false, "Иван Петров"});
    const QString content = poppler("pdftotext", pdf, {"-layout"});
    if (content.isEmpty())
        GTEST_SKIP() << "poppler-utils are needed";
    EXPECT_TRUE(content.contains("Машина 2-2")) << content.toStdString();
    EXPECT_TRUE(content.contains("Рейсы"));
    EXPECT_TRUE(content.contains("5,2") || content.contains("5.2")); // the mileage in kilometres
    // One events table in time order, numbered as the markers: the over-speeding, then the stop.
    const QString table = content.mid(content.indexOf("События рейса"));
    static const QRegularExpression first("\\n\\s*1\\s+Периоды превышения скорости.*10:05:00.*97[.,]0 км/ч.*\\n"
                                          "\\s*2\\s+Список остановок.*10:10:00.*00:07:30");
    EXPECT_TRUE(first.match(table).hasMatch()) << table.toStdString();
    EXPECT_EQ(content.count("Периоды превышения скорости"), 2); // the row and the count on page 1
    // The file's properties, fonts embedded and subset, A4 portrait.
    const QString info = poppler("pdfinfo", pdf);
    EXPECT_TRUE(info.contains(QRegularExpression("Title:\\s+Рейсы машины Машина 2-2"))) << info.toStdString();
    EXPECT_TRUE(info.contains(QRegularExpression("Author:\\s+Иван Петров")));
    EXPECT_TRUE(info.contains(QRegularExpression("Subject:\\s+Машина 2-2, номер А21ВС: с 01.03.2009 00:00:00")));
    EXPECT_TRUE(info.contains(QRegularExpression("Creator:\\s+Плеер Vantrel")));
    EXPECT_TRUE(info.contains(QRegularExpression("Page size:\\s+595(.276)? x 84[12](.89)? pts \\(A4\\)")));
    EXPECT_TRUE(poppler("pdfinfo", pdf, {"-meta"}).contains("<pdfaid:part>1</pdfaid:part>"));
    // Embedded with their Unicode maps (so the text searches); Qt subsets them without the tag.
    const QStringList fonts = poppler("pdffonts", pdf).split('\n', Qt::SkipEmptyParts).mid(2);
    ASSERT_FALSE(fonts.isEmpty());
    for (const QString& font : fonts)
        EXPECT_TRUE(font.contains(QRegularExpression("yes\\s+(yes|no)\\s+yes\\s+\\d+\\s+\\d+$"))) << font.toStdString();
    EXPECT_LT(QFileInfo(pdf).size(), 200 * 1024); // a whole DejaVu Sans alone is 740 KB
    EXPECT_TRUE(content.contains("Страница 2"));
    EXPECT_TRUE(content.contains("Итоги за период") && content.contains("Составил") && content.contains("Проверил"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"sheet.pdf"});
}

TEST_F(Report, WhatIsWrongIsNamedAndNothingIsWritten) {
    QTemporaryDir dir;
    tripsheet::Request wrong = request();
    wrong.group = "Нет такой";
    EXPECT_THROW(tripsheet::gather(fixture.server, defaultInfoPointDefinitions(), wrong, [] {}), VantrelError);
    wrong = request();
    wrong.device = 999;
    EXPECT_THROW(tripsheet::gather(fixture.server, defaultInfoPointDefinitions(), wrong, [] {}), VantrelError);
    EXPECT_THROW(tripsheet::gather(fixture.server, defaultInfoPointDefinitions(), request(3), [] {}), VantrelError);
    const TripSheet sheet = tripsheet::gather(fixture.server, defaultInfoPointDefinitions(), request(), [] {});
    EXPECT_THROW(tripsheet::writePdf(sheet, dir.filePath("no/folder/sheet.pdf"), QString(), reader()), VantrelError);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());

    // A full disk and a FIFO leave what was there.
    const QString old = dir.filePath("лист «1» 100%.pdf"), fifo = dir.filePath("канал.pdf");
    QFile file(old);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("old sheet") == 9);
    file.close();
    const QString said = onSmallDisk(16 * 1024, [&] { tripsheet::writePdf(sheet, old, QString(), reader()); });
    EXPECT_TRUE(said.contains(old) && said.contains("нет места на диске")) << said.toStdString();
    EXPECT_TRUE(file.open(QIODevice::ReadOnly) && file.readAll() == "old sheet");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_THROW(tripsheet::writePdf(sheet, fifo, QString(), reader()), VantrelError);
    EXPECT_FALSE(QFileInfo(fifo).isFile());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System).size(), 2);
}

TEST_F(Report, LandscapeOddNamesOnePointTripsAndACancelAllGiveAWholeFileOrNone) {
    QTemporaryDir dir;
    const QString odd = "«Ёж» \"5\" & <b>" + QString(900, QChar(0x0416));
    fixture.server.groups[1].cars[1].name = odd;
    fixture.server.trips[1].track.resize(5);
    fixture.server.trips[1].line = "37.6 55.75";
    TripSheet sheet = tripsheet::gather(fixture.server, defaultInfoPointDefinitions(), request(0), [] {});
    const QString pdf = dir.filePath("лист.pdf");
    tripsheet::writePdf(sheet, pdf, QString(), reader(), {true, {}});
    const QString info = poppler("pdfinfo", pdf);
    if (info.isEmpty())
        GTEST_SKIP() << "poppler-utils are needed";
    static const QRegularExpression landscape("Page size:\\s+84[12](.89)? x 595(.276)? pts \\(A4\\)");
    EXPECT_TRUE(info.contains(landscape)) << info.toStdString();
    EXPECT_TRUE(info.contains(QRegularExpression("Author:\\s+Vantrel")));
    EXPECT_TRUE(poppler("pdftotext", pdf).contains("«Ёж» \"5\" & <b>ЖЖЖ"));
    // Stopped on the second trip's page: the old file stays, nothing beside it.
    const auto stop = [](int done, int total) { return total < 2 || done < 1; };
    EXPECT_THROW(tripsheet::writePdf(sheet, pdf, QString(), reader(), {}, {}, stop), tripsheet::Cancelled);
    EXPECT_TRUE(poppler("pdfinfo", pdf).contains(landscape));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"лист.pdf"});
}

TEST_F(Report, TheWindowWritesTheSheetOfWhatItShowsAndKeepsItsTrip) {
    fixture.addGroups(8);
    TForm1& f = fixture.start();
    ASSERT_GE(f.session().track.PointCount, 1);
    QTemporaryDir dir;
    const QString pdf = dir.filePath("window.pdf");
    const qsizetype before = fixture.server.calls.size();
    f.exporter().saveSheet(pdf);
    QProcess text;
    text.start("pdftotext", {pdf, "-"});
    ASSERT_TRUE(text.waitForFinished(20000));
    const QString content = QString::fromUtf8(text.readAllStandardOutput());
    EXPECT_TRUE(content.contains(f.ui().cmbCarName->currentText())) << content.toStdString();
    EXPECT_TRUE(content.contains("00:07:30"));
    // Computed on a server of its own: the window's server keeps its computation and cursors.
    for (const QString& call : fixture.server.calls.mid(before))
        EXPECT_TRUE(call.startsWith("SetPropertyName") || call == "PropertyValue") << call.toStdString();
    const QStringList asked = fixture.server.calls.filter("ComputeTrack");
    ASSERT_FALSE(asked.isEmpty());
    EXPECT_EQ(fixture.sheetCalls.filter("ComputeTrack"), QStringList{asked.last()}); // the period on screen
}
