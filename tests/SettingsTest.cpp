#include "FormFixture.h"
#include "InfoPointsController.h"
#include "SettingsController.h"
#include "ScopedTimeZone.h"
#include "SettingsDocument.h"
#include "SettingsLocation.h"

#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <sys/stat.h>
#include <unistd.h>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStringEncoder>
#include "RecentMaps.h"
#include "VantrelError.h"
#include <QTimeEdit>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

// The default document with one line replaced (1-based line number).
QByteArray defaultWith(int line, const QString& replacement) {
    QList<QByteArray> lines = SettingsDocument::defaultDocument().split('\n');
    lines[line - 1] = replacement.toUtf8() + '\r';
    return lines.join('\n');
}

QByteArray settingsWith(const QString& settingsBody, const QString& infoPoints = QString()) {
    QString points = infoPoints;
    if (points.isNull()) {
        const QList<QByteArray> lines = SettingsDocument::defaultDocument().split('\n');
        for (int i = 15; i <= 27; ++i)
            points += QString::fromUtf8(lines[i]).trimmed();
    }
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><AppSettings xmlns=\"%1\"><Settings>%2"
                          "<InfoPoints>%3</InfoPoints></Settings></AppSettings>")
        .arg(SettingsDocument::kNamespace, settingsBody, points)
        .toUtf8();
}

const QString kAllValues = "<MapPath>m.chart</MapPath><LoadKT>false</LoadKT><LoadIT>0</LoadIT><GroupID>7</GroupID>"
                           "<CarID>1</CarID><DateTimeBegin>01.03.2009 08:30:00</DateTimeBegin>"
                           "<DateTimeEnd>02.03.2009 18:05:00</DateTimeEnd><Speed>30x</Speed><Stops>TRUE</Stops>"
                           "<Cont>120</Cont><InfoPointsCount>13</InfoPointsCount>";

struct Settings : ::testing::Test {
    void SetUp() override { fixture.addGroups(); }
    QStringList kinds(TForm1& f) {
        QStringList result;
        for (int i = 0; i < f.ui().cmbInfoPoints->count(); ++i)
            result << f.ui().cmbInfoPoints->itemText(i);
        return result;
    }
    FormFixture fixture;
};

} // namespace

TEST(SettingsLocation, BesideAPortableProgramElseInTheUsersConfigFolder) {
    QTemporaryDir root;
    qputenv("XDG_CONFIG_HOME", root.filePath("config").toUtf8());
    const QString portable = root.filePath("portable");
    QDir().mkpath(portable);
    EXPECT_EQ(settingslocation::settingsDirectory(portable), portable);

    QDir().mkpath(root.filePath("prefix/bin"));
    QDir().mkpath(root.filePath("prefix/share/vantrel/maps"));
    EXPECT_EQ(settingslocation::settingsDirectory(root.filePath("prefix/bin")), root.filePath("config/vantrel"));
    EXPECT_TRUE(QFileInfo(root.filePath("config/vantrel")).isDir());

    if (::geteuid() != 0) { // root may write anywhere
        QFile::setPermissions(portable, QFile::ReadOwner | QFile::ExeOwner);
        EXPECT_EQ(settingslocation::settingsDirectory(portable), root.filePath("config/vantrel"));
    }
    // The programs answer --help and --version without a display.
    for (const char* program : {"vantrel-player", "vantrel-server"})
        for (const char* option : {"--help", "--version"}) {
            QProcess process;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.remove("DISPLAY");
            environment.remove("QT_QPA_PLATFORM");
            process.setProcessEnvironment(environment);
            process.start(qEnvironmentVariable("VANTREL_BIN_DIR") + "/" + program, {option});
            ASSERT_TRUE(process.waitForFinished(20000));
            EXPECT_EQ(process.exitCode(), 0) << program << " " << option;
            EXPECT_FALSE(process.readAllStandardOutput().isEmpty());
        }
    qunsetenv("XDG_CONFIG_HOME");
}

TEST(SettingsDocument, TheDefaultDocumentIsThirtyOneCrLfLinesWithAByteOrderMark) {
    const QByteArray bytes = SettingsDocument::defaultDocument();
    ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n"));
    EXPECT_TRUE(bytes.endsWith("</AppSettings>\r\n"));
    EXPECT_EQ(bytes.count("\r\n"), 31);
    EXPECT_EQ(bytes.count('\n'), 31);
    const QList<QByteArray> lines = bytes.mid(3).split('\n');
    EXPECT_EQ(lines[1], "<AppSettings xmlns=\"" + SettingsDocument::kNamespace.toUtf8() + "\">\r");
    EXPECT_EQ(lines[3], "<MapPath>C:\\Mapvex5\\MAPS\\ecatsub.chart</MapPath>\r");
    EXPECT_EQ(lines[15], QString("<InfoPoints1 name=\"Контрольные точки\" VisibleList=\"true\" VisibleIcon=\"true\" "
                                 "query=\"checkpoints-stages\" Icon=\"IcC\" />\r").toUtf8());
    EXPECT_EQ(lines[27], QString("<InfoPoints13 name=\"Включения датчика №6\" VisibleList=\"true\" VisibleIcon=\"true\" "
                                 "query=\"sensor_on-num6\" Icon=\"Ic6\" />\r").toUtf8());
    EXPECT_EQ(SettingsDocument::seedDocument(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><AppSettings xmlns=\"" +
                  SettingsDocument::kNamespace.toUtf8() + "\"><Settings></Settings></AppSettings>\r\n");
}

TEST(SettingsDocument, BooleansInAnyCaseOrAsNumbers) {
    EXPECT_TRUE(SettingsDocument::parseBoolean("TRUE"));
    EXPECT_FALSE(SettingsDocument::parseBoolean("False"));
    EXPECT_TRUE(SettingsDocument::parseBoolean("-1"));
    EXPECT_FALSE(SettingsDocument::parseBoolean("0"));
    EXPECT_THROW(SettingsDocument::parseBoolean("yes"), VantrelError);
    EXPECT_THROW(SettingsDocument::parseBoolean(""), VantrelError);
}

TEST_F(Settings, TheFirstStartWritesTheDefaultDocumentAndRestoresIt) {
    TForm1& f = fixture.start();
    EXPECT_EQ(fixture.readSettings(), SettingsDocument::defaultDocument());
    EXPECT_EQ(f.ui().cmbSpeed->currentText(), "60x");
    EXPECT_EQ(f.session().clock.PlaySpeed, 60);
    EXPECT_EQ(f.ui().txtCont->text(), "60");
    EXPECT_EQ(f.ui().DateBegin->date(), QDate(2007, 2, 6));
    EXPECT_EQ(f.ui().TimeBegin->time(), QTime(0, 0));
    EXPECT_EQ(f.ui().DateEnd->date(), QDate(2009, 6, 6));
    EXPECT_EQ(f.ui().cmbGroupName->currentIndex(), 7);
    EXPECT_EQ(f.ui().cmbCarDevice->currentIndex(), 0);
    EXPECT_FALSE(f.ui().ToolButton1->isChecked());
    EXPECT_FALSE(f.ui().ToolButton2->isChecked());
    EXPECT_TRUE(f.ui().ToolButton3->isChecked());
    EXPECT_EQ(f.session().MapPath, "C:\\Mapvex5\\MAPS\\ecatsub.chart");
    const QStringList offered = kinds(f);
    ASSERT_EQ(offered.size(), 14);
    EXPECT_EQ(offered[0], "Список рейсов");
    EXPECT_EQ(offered[13], "Включения датчика №6");
    EXPECT_EQ(f.ui().cmbInfoPoints->itemData(13).toInt(), 13);
    EXPECT_TRUE(fixture.sink.messages.empty());
}

TEST_F(Settings, AStartWithoutServerLeavesTheUsersFileAsItWas) {
    QByteArray content = settingsWith(kAllValues);
    content.replace("\"Контрольные точки\"", "\"Мои точки\"");
    fixture.writeSettings(content);
    fixture.server.failures["StartServer"] = "нет";
    fixture.server.failures["GroupCount"] = "нет";
    fixture.start();
    fixture.form->FormDestroy();
    fixture.form.reset();
    EXPECT_EQ(fixture.readSettings(), content);

    fixture.server.failures.clear();
    fixture.sink.messages.clear();
    TForm1& f = fixture.start();
    EXPECT_TRUE(fixture.sink.messages.empty()) << fixture.sink.texts().join("; ").toStdString();
    EXPECT_EQ(f.ui().cmbSpeed->currentText(), "30x");
    EXPECT_EQ(f.ui().txtCont->text(), "120");
    EXPECT_EQ(f.session().MapPath, "m.chart");
    ASSERT_EQ(f.session().definitions.size(), 13u);
    EXPECT_EQ(f.session().definitions[0].name, "Мои точки");
    fixture.form.reset();

    // Without any file, such a run writes none; the next start makes the default document.
    QFile::remove(fixture.settingsPath());
    fixture.server.failures["StartServer"] = "нет";
    fixture.server.failures["GroupCount"] = "нет";
    fixture.start().FormDestroy();
    fixture.form.reset();
    EXPECT_FALSE(QFile::exists(fixture.settingsPath()));
}

TEST_F(Settings, AMissingOrEmptyMapPathIsSaidOnceAndTheNextStartLoadsFully) {
    for (const char* replacement : {"<MapPath></MapPath>", ""}) {
        fixture.writeSettings(settingsWith(QString(kAllValues).replace("<MapPath>m.chart</MapPath>", replacement)));
        fixture.sink.messages.clear();
        TForm1& f = fixture.start();
        ASSERT_EQ(fixture.sink.messages.size(), 1u);
        EXPECT_EQ(fixture.sink.messages[0].text, "В файле настроек нет значения MapPath");
        EXPECT_EQ(f.ui().cmbSpeed->currentText(), "30x"); // the rest of the file still loaded
        EXPECT_EQ(f.session().definitions.size(), 13u);
        EXPECT_EQ(fixture.map.calls.last(), "LoadMap(C:\\Mapvex5\\MAPS\\ecatsub.chart|)");
        f.FormDestroy();
        fixture.form.reset();
        const QString saved = QString::fromUtf8(fixture.readSettings());
        EXPECT_TRUE(saved.contains("<MapPath>C:\\Mapvex5\\MAPS\\ecatsub.chart</MapPath>"));
        EXPECT_TRUE(saved.contains("<Speed>30x</Speed>"));
        fixture.sink.messages.clear();
        EXPECT_EQ(fixture.start().ui().txtCont->text(), "120");
        EXPECT_TRUE(fixture.sink.messages.empty()) << fixture.sink.texts().join("; ").toStdString();
        fixture.form.reset();
    }
}

TEST_F(Settings, SavingAnUnchangedFileTwiceGivesTheSameBytesInTheFilesOrder) {
    fixture.start().FormDestroy();
    fixture.form.reset();
    const QByteArray first = fixture.readSettings();
    fixture.start().FormDestroy();
    fixture.form.reset();
    EXPECT_EQ(fixture.readSettings(), first);
    const QRegularExpression definition(
        "<InfoPoints(\\d+) name=\"[^\"]*\" VisibleList=\"\\w+\" VisibleIcon=\"\\w+\" query=\"[^\"]*\" Icon=\"\\w*\"/>");
    EXPECT_EQ(QString::fromUtf8(first).count(definition), 13) << first.toStdString();
}

TEST_F(Settings, AWindows1251FileIsReadAndSavedAsUtf8) {
    QByteArray content = settingsWith(kAllValues);
    content.replace("encoding=\"UTF-8\"", "encoding=\"windows-1251\"");
    QStringEncoder toCp1251("windows-1251");
    fixture.writeSettings(toCp1251.encode(QString::fromUtf8(content)));
    TForm1& f = fixture.start();
    ASSERT_EQ(f.session().definitions.size(), 13u);
    EXPECT_EQ(f.session().definitions[1].name, "Список остановок");
    f.FormDestroy();
    fixture.form.reset();
    const QByteArray saved = fixture.readSettings();
    EXPECT_TRUE(saved.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"")) << saved.left(60).toStdString();
    EXPECT_TRUE(saved.contains(QString("Список остановок").toUtf8()));
    EXPECT_EQ(fixture.start().session().definitions[1].name, "Список остановок");
    EXPECT_TRUE(fixture.sink.messages.empty());
}

TEST_F(Settings, APeriodInAnHourThatNeverWasOrWasTwiceIsKeptAsShown) {
    const ScopedTimeZone moscow("Europe/Moscow");
    fixture.writeSettings(settingsWith(QString(kAllValues)
                                           .replace("01.03.2009 08:30:00", "29.03.2009 02:30:00")
                                           .replace("02.03.2009 18:05:00", "25.10.2009 02:30:00")));
    TForm1& f = fixture.start();
    EXPECT_EQ(fixture.server.calls.filter("ComputeTrack"),
              QStringList{"ComputeTrack(g8,801,29.03.2009 02:30:00,25.10.2009 02:30:00,GSM,1)"});
    f.FormDestroy();
    const QString saved = QString::fromUtf8(fixture.readSettings());
    EXPECT_TRUE(saved.contains("<DateTimeBegin>29.03.2009 02:30:00</DateTimeBegin>"));
    EXPECT_TRUE(saved.contains("<DateTimeEnd>25.10.2009 02:30:00</DateTimeEnd>"));
}

TEST_F(Settings, AFileTooLargeOrTooDeepIsRefusedAtOnceAndKept) {
    const QByteArray huge = settingsWith(QString(kAllValues) + "<Note>" + QString(1100000, 'a') + "</Note>");
    const QByteArray deep = QByteArray("<AppSettings><Settings>") + QByteArray("<a>").repeated(100000) +
                            QByteArray("</a>").repeated(100000) + "</Settings></AppSettings>";
    for (const QByteArray& content : {huge, deep}) {
        fixture.writeSettings(content);
        fixture.sink.messages.clear();
        TForm1& f = fixture.start();
        ASSERT_EQ(fixture.sink.messages.size(), 1u);
        EXPECT_TRUE(fixture.sink.messages[0].text.contains("оставлен как есть"))
            << fixture.sink.messages[0].text.toStdString();
        f.FormDestroy();
        EXPECT_EQ(fixture.sink.messages.size(), 2u); // said again at close, and the file kept
        EXPECT_EQ(fixture.readSettings(), content);
        fixture.form.reset();
    }
}

TEST_F(Settings, TheSpeedLosesEveryXAndShowsTheFactor) {
    fixture.writeSettings(defaultWith(11, "<Speed>300X</Speed>"));
    TForm1& f = fixture.start();
    EXPECT_EQ(f.session().clock.PlaySpeed, 300);
    EXPECT_EQ(f.ui().cmbSpeed->currentText(), "300x");
    fixture.form.reset();
    fixture.writeSettings(defaultWith(11, "<Speed>x45</Speed>"));
    TForm1& g = fixture.start();
    EXPECT_EQ(g.session().clock.PlaySpeed, 45);
    EXPECT_EQ(g.ui().cmbSpeed->currentText(), "45x");
}

TEST_F(Settings, ASpeedWithoutDigitsStopsTheLoadAndTheDefinitionsSurviveTheSave) {
    QByteArray content = defaultWith(11, "<Speed>xx</Speed>");
    content.replace("\"Список остановок\"", "\"Мои остановки\"");
    fixture.writeSettings(content);
    TForm1& f = fixture.start();
    ASSERT_EQ(fixture.sink.messages.size(), 1u);
    EXPECT_EQ(fixture.sink.messages[0].text, "'' не является целым числом");
    EXPECT_EQ(fixture.sink.messages[0].title, "");
    EXPECT_EQ(f.ui().txtCont->text(), "6"); // nothing after the speed was restored
    EXPECT_EQ(kinds(f), QStringList{"Список рейсов"});
    EXPECT_EQ(f.ui().cmbGroupName->currentIndex(), 7); // the selection came before
    f.FormDestroy();
    const QString saved = QString::fromUtf8(fixture.readSettings());
    EXPECT_TRUE(saved.contains("<InfoPointsCount>13</InfoPointsCount>"));
    EXPECT_TRUE(saved.contains("Мои остановки")); // the file's definitions were kept
    EXPECT_TRUE(saved.contains("<InfoPoints13 ")) << saved.toStdString();
}

TEST_F(Settings, AGroupOutsideTheListStillRestoresThePeriodAndRunsTheCarChange) {
    fixture.writeSettings(settingsWith(QString(kAllValues).replace("<GroupID>7</GroupID>", "<GroupID>12</GroupID>")));
    TForm1& f = fixture.start();
    EXPECT_EQ(f.ui().cmbGroupName->currentIndex(), -1);
    EXPECT_EQ(f.ui().cmbCarDevice->count(), 0);
    EXPECT_EQ(f.ui().DateBegin->date(), QDate(2009, 3, 1));
    EXPECT_EQ(f.ui().TimeBegin->time(), QTime(8, 30));
    EXPECT_EQ(f.ui().TimeEnd->time(), QTime(18, 5));
    EXPECT_FALSE(f.session().selection.RequestPending); // the request ran and failed quietly
    EXPECT_EQ(fixture.server.count("ComputeTrack"), 0);
    EXPECT_EQ(f.ui().txtCont->text(), "120"); // the load went on
    EXPECT_TRUE(fixture.sink.messages.empty());
}

TEST_F(Settings, TheRestoredCarIsRequestedWithTheRestoredPeriod) {
    fixture.writeSettings(settingsWith(kAllValues));
    TForm1& f = fixture.start();
    EXPECT_EQ(f.ui().cmbCarName->currentIndex(), 1);
    EXPECT_EQ(fixture.server.calls.filter("ComputeTrack"),
              QStringList{"ComputeTrack(g8,801,01.03.2009 08:30:00,02.03.2009 18:05:00,GSM,1)"});
    EXPECT_EQ(f.session().MapPath, "m.chart");
    EXPECT_EQ(fixture.map.calls.last(), "LoadMap(m.chart|)");
}

TEST_F(Settings, TheDefinitionCountIsTheElementsNotInfoPointsCount) {
    fixture.writeSettings(settingsWith(QString(kAllValues).replace("<InfoPointsCount>13<", "<InfoPointsCount>5<")));
    TForm1& f = fixture.start();
    EXPECT_EQ(f.session().definitions.size(), 13u);
    EXPECT_EQ(f.session().definitionCount, 13);
}

TEST_F(Settings, UnknownElementsAreIgnoredAndKnownOnesMayStandInAnyOrder) {
    const QString shuffled = "<Cont>9</Cont><Colour>red</Colour><Speed>10x</Speed><Stops>false</Stops>"
                             "<DateTimeEnd>02.03.2009 18:05:00</DateTimeEnd><CarID>0</CarID><GroupID>1</GroupID>"
                             "<DateTimeBegin>01.03.2009 08:30:00</DateTimeBegin><LoadIT>TRUE</LoadIT>"
                             "<LoadKT>1</LoadKT><MapPath>x.chart</MapPath>";
    fixture.writeSettings(settingsWith(shuffled));
    TForm1& f = fixture.start();
    EXPECT_TRUE(fixture.sink.messages.empty());
    EXPECT_EQ(f.ui().txtCont->text(), "9");
    EXPECT_TRUE(f.ui().ToolButton1->isChecked());
    EXPECT_TRUE(f.ui().ToolButton2->isChecked());
    EXPECT_FALSE(f.ui().ToolButton3->isChecked());
    f.FormDestroy();
    const QString saved = QString::fromUtf8(fixture.readSettings());
    EXPECT_FALSE(saved.contains("Colour"));
    const QStringList order = {"MapPath", "LoadKT", "LoadIT", "GroupID", "CarID", "DateTimeBegin", "DateTimeEnd",
                               "Speed", "Stops", "Cont", "InfoPointsCount", "InfoPoints"};
    int last = -1;
    for (const QString& name : order) {
        const int at = saved.indexOf("<" + name + ">");
        EXPECT_GT(at, last) << name.toStdString();
        last = at;
    }
    EXPECT_TRUE(saved.contains("<LoadKT>true</LoadKT>"));
    EXPECT_TRUE(saved.contains("<Stops>false</Stops>"));
    EXPECT_TRUE(saved.contains("VisibleList=\"true\""));
    EXPECT_FALSE(saved.contains("TRUE"));
}

TEST_F(Settings, MoreThanThirteenDefinitionsAreAllOfferedAndTheMenuFollowsVisibleIcon) {
    QString points;
    for (int n = 1; n <= 15; ++n)
        points += QString("<InfoPoints%1 name=\"Вид %1\" VisibleList=\"%2\" VisibleIcon=\"%3\" query=\"parks\" Icon=\"I\"/>")
                      .arg(n)
                      .arg(n == 4 ? "false" : "true")
                      .arg(n == 3 ? "false" : "true");
    fixture.writeSettings(settingsWith(kAllValues, points));
    TForm1& f = fixture.start();
    const QStringList offered = kinds(f);
    EXPECT_EQ(offered.size(), 15); // 14 of 15 visible, and the trip list
    EXPECT_FALSE(offered.contains("Вид 4"));
    EXPECT_EQ(f.ui().cmbInfoPoints->itemData(4).toInt(), 5); // numbers skip the hidden kind
    EXPECT_FALSE(f.settings().FindMenuItem("mnu3")->isChecked());
    EXPECT_TRUE(f.settings().FindMenuItem("mnu2")->isChecked());
    EXPECT_EQ(f.settings().FindMenuItem("mnu14"), nullptr);
    EXPECT_EQ(f.settings().FindMenuItem("MNU2"), nullptr);
    EXPECT_EQ(f.settings().FindMenuItem("N5")->isSeparator(), true);
}

TEST_F(Settings, MisnamedDefinitionsStopTheLoadAtTheFirstMissingNumber) {
    QString points = "<InfoPoints1 name=\"A\" VisibleList=\"true\" VisibleIcon=\"true\" query=\"parks\" Icon=\"I\"/>"
                     "<Kind2 name=\"B\" VisibleList=\"true\" VisibleIcon=\"true\" query=\"parks\" Icon=\"I\"/>"
                     "<InfoPoints3 name=\"C\" VisibleList=\"true\" VisibleIcon=\"true\" query=\"parks\" Icon=\"I\"/>";
    fixture.writeSettings(settingsWith(kAllValues, points));
    TForm1& f = fixture.start();
    ASSERT_EQ(fixture.sink.messages.size(), 1u);
    EXPECT_EQ(fixture.sink.messages[0].text, "У элемента InfoPoints2 нет атрибута name");
    ASSERT_EQ(f.session().definitions.size(), 3u);
    EXPECT_EQ(f.session().definitions[0].name, "A");
    EXPECT_EQ(f.session().definitions[2].name, "");
}

TEST_F(Settings, AFileThatIsNotWellFormedIsShownAtStartAndCloseAndLeftAlone) {
    const QByteArray broken = "<AppSettings><Settings><MapPath>x</Settings>";
    fixture.writeSettings(broken);
    TForm1& f = fixture.start();
    ASSERT_EQ(fixture.sink.messages.size(), 1u);
    EXPECT_TRUE(fixture.sink.messages[0].text.startsWith("Ошибка в файле настроек (строка 1")) << fixture.sink.messages[0].text.toStdString();
    EXPECT_TRUE(fixture.sink.messages[0].text.contains("закрывающий тег не совпадает")) << fixture.sink.messages[0].text.toStdString();
    f.FormDestroy();
    EXPECT_EQ(fixture.sink.messages.size(), 2u);
    EXPECT_EQ(fixture.readSettings(), broken);
}

TEST_F(Settings, ASavedFileLoadsBackToTheSameValues) {
    fixture.writeSettings(settingsWith(kAllValues));
    TForm1& f = fixture.start();
    EXPECT_TRUE(f.chartShown()); // an older file has no ChartShown: the chart is shown
    f.ui().txtCont->setText("45");
    f.ui().cmbSpeed->setEditText("3x");
    f.setChartShown(false);
    f.FormDestroy();
    fixture.form.reset();
    TForm1& g = fixture.start();
    EXPECT_FALSE(g.chartShown());
    EXPECT_EQ(g.ui().txtCont->text(), "45");
    EXPECT_EQ(g.session().clock.PlaySpeed, 3);
    EXPECT_EQ(g.ui().TimeEnd->time(), QTime(18, 5));
    EXPECT_EQ(g.ui().cmbCarNum->currentIndex(), 1);
    EXPECT_EQ(g.session().definitions.size(), 13u);
    EXPECT_TRUE(fixture.sink.messages.empty());
    EXPECT_FALSE(QFile::exists(fixture.settingsPath() + ".tmp"));
}

// Thousands of damaged documents: loading and saving never crash or hang, and a document that
// loaded without complaint saves into one that loads back to the same values.
TEST_F(Settings, FuzzedDocumentsNeverCrashAndCleanOnesRoundTrip) {
    TForm1& f = fixture.start();
    QRandomGenerator random(20261208);
    const QByteArray base = settingsWith(kAllValues);
    const QStringList names = {"MapPath", "LoadKT", "LoadIT", "GroupID", "CarID", "DateTimeBegin", "DateTimeEnd",
                               "Speed", "Stops", "Cont", "InfoPointsCount", "InfoPoints", "InfoPoints3"};
    int clean = 0;
    for (int round = 0; round < 2000; ++round) {
        QByteArray doc = base;
        const int kind = random.bounded(6);
        if (kind == 0) { // bytes flipped
            for (int i = 0, n = 1 + random.bounded(4); i < n; ++i)
                doc[random.bounded(doc.size())] = char(random.bounded(256));
        } else if (kind == 1) { // an element removed
            const QString name = names[random.bounded(names.size())];
            doc = QString::fromUtf8(doc).remove(QRegularExpression("<" + name + "[ >/].*?(</" + name + ">|/>)")).toUtf8();
        } else if (kind == 2) { // an element duplicated
            const QString name = names[random.bounded(names.size() - 2)];
            const QRegularExpressionMatch m = QRegularExpression("<" + name + ">[^<]*</" + name + ">").match(QString::fromUtf8(doc));
            if (m.hasMatch())
                doc.replace(m.captured(0).toUtf8(), (m.captured(0) + m.captured(0)).toUtf8());
        } else if (kind == 3) { // huge values
            const QString name = names[random.bounded(10)];
            doc = QString::fromUtf8(doc)
                      .replace(QRegularExpression("<" + name + ">[^<]*</"), "<" + name + ">" +
                               QString(random.bounded(1, 20000), QChar('0' + random.bounded(10))) + "</")
                      .toUtf8();
        } else if (kind == 4) { // cut short
            doc.truncate(random.bounded(doc.size()));
        } else { // reordered: the settings element's children reversed
            QDomDocument dom;
            dom.setContent(doc);
            QDomNode settings = dom.documentElement().firstChild();
            QList<QDomNode> children;
            while (settings.hasChildNodes())
                children.prepend(settings.removeChild(settings.firstChild()));
            for (QDomNode& child : children)
                settings.appendChild(child);
            doc = dom.toByteArray();
        }
        fixture.writeSettings(doc);
        fixture.sink.messages.clear();
        f.settings().LoadSettings();
        const bool loaded = fixture.sink.messages.empty();
        const QString speed = f.ui().cmbSpeed->currentText(), cont = f.ui().txtCont->text();
        const size_t definitions = f.session().definitions.size();
        f.settings().SaveSettings();
        if (!loaded || !fixture.sink.messages.empty())
            continue;
        ++clean;
        f.settings().LoadSettings();
        ASSERT_TRUE(fixture.sink.messages.empty()) << doc.toStdString();
        ASSERT_EQ(f.ui().cmbSpeed->currentText(), speed) << doc.toStdString();
        ASSERT_EQ(f.ui().txtCont->text(), cont);
        ASSERT_EQ(f.session().definitions.size(), definitions);
    }
    EXPECT_GT(clean, 200);
}

TEST_F(Settings, AGarbledChartValueNeverKeepsTheOlderElementsFromLoading) {
    for (const char* value : {"", "может быть", "<b/>"}) {
        fixture.form.reset();
        fixture.writeSettings(settingsWith(kAllValues + QString("<ChartShown>%1</ChartShown>").arg(value)));
        TForm1& f = fixture.start();
        EXPECT_EQ(f.ui().txtCont->text(), "120") << value;
        EXPECT_TRUE(f.ui().ToolButton3->isChecked());
        EXPECT_EQ(f.session().definitions.size(), 13u);
        EXPECT_TRUE(f.chartShown());
    }
}

TEST(SettingsFile, ACutOffFileIsSaidInRussianAndAFifoIsNeverWrittenOver) {
    try {
        SettingsDocument().parse(SettingsDocument::defaultDocument().left(200));
        ADD_FAILURE() << "a cut-off file was read";
    } catch (const VantrelError& error) {
        EXPECT_TRUE(error.text().contains("файл обрывается")) << error.what();
    }
    QTemporaryDir dir;
    const QString fifo = dir.filePath(SettingsDocument::kFileName);
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_THROW(SettingsDocument::saveFile(fifo, SettingsDocument::defaultDocument()), VantrelError);
    EXPECT_FALSE(QFileInfo(fifo).isFile());
}

TEST(RecentMaps, TheLastFiveNewestFirstAChosenOneMovedUp) {
    QTemporaryDir dir;
    RecentMaps recent(dir.path());
    EXPECT_TRUE(recent.paths().isEmpty());
    for (int i = 1; i <= 7; ++i)
        recent.add(QString("/карты/%1.mbtiles").arg(i));
    recent.add("/карты/4.mbtiles");
    EXPECT_EQ(RecentMaps(dir.path()).paths(),
              QStringList({"/карты/4.mbtiles", "/карты/7.mbtiles", "/карты/6.mbtiles", "/карты/5.mbtiles", "/карты/3.mbtiles"}));
}
