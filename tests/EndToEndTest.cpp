// The whole road as an operator drives it: the real vantrel-server on this test's private bus,
// the real map control, the real wall clock.
#include "DateTimeValue.h"
#include "EventLoopWait.h"
#include "FormFixture.h"
#include "GlyphButton.h"
#include "InfoPointsController.h"
#include "PlaybackController.h"
#include "PlaybackTimer.h"
#include "SettingsDocument.h"
#include "TMapvexControl.h"
#include "TVantrelAutomation.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QSlider>
#include <QToolButton>
#include <QTreeWidget>
#include <csignal>
#include <gtest/gtest.h>

namespace {

// A window as the program makes it, but with its settings in a folder of the test's own.
class Operator {
public:
    explicit Operator(const QString& settings) {
        TVantrelAutomation::Options options;
        options.serverProgram = qEnvironmentVariable("VANTREL_BIN_DIR") + "/vantrel-server";
        client = std::make_unique<TVantrelAutomation>(options);
        environment.createServer = [this]() -> IVantrelAutomation* { return client.get(); };
        environment.createMap = [](QWidget* parent) {
            auto* control = new TMapvexControl(parent);
            return PlayerEnvironment::MapParts{control, control};
        };
        environment.messages = &sink;
        environment.now = [] { return datetime::fromQDateTime(QDateTime::currentDateTimeUtc()); };
        environment.settingsDirectory = settings;
        form = std::make_unique<TForm1>(environment);
        form->resize(1000, 700);
        form->show();
    }
    ~Operator() {
        if (form)
            form->close();
    }
    bool tripsListed() {
        return waitFor([&] {
            return !form->session().selection.RequestPending &&
                   form->ui().ListView1->topLevelItemCount() > 0 &&
                   form->session().track.PointCount > 1 && form->session().loadingPoints() == 0;
        });
    }
    void choose(QComboBox* combo, int index) {
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    // Clicks a row and waits for the trip it loads to arrive.
    void click(QTreeWidgetItem* row) {
        form->ui().ListView1->setCurrentItem(row);
        emit form->ui().ListView1->itemClicked(row, 0);
        waitFor([&] { return form->session().loadingPoints() == 0; });
    }

    RecordingSink sink;
    PlayerEnvironment environment;
    std::unique_ptr<TVantrelAutomation> client;
    std::unique_ptr<TForm1> form;
};

// Pixels of the control as painted on the screen that are close to a pure colour.
int paintedPixels(QWidget* control, QRgb colour) {
    const QImage picture = control->grab().toImage();
    int count = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb p = picture.pixel(x, y);
            count += std::abs(qRed(p) - qRed(colour)) < 48 && std::abs(qGreen(p) - qGreen(colour)) < 48 &&
                     std::abs(qBlue(p) - qBlue(colour)) < 48;
        }
    return count;
}

struct EndToEnd : ::testing::Test {
    // The demo map is found by its file name in $XDG_DATA_HOME/vantrel/maps, as for a user who
    // put it there: the test binary has no maps/ beside it.
    void SetUp() override {
        qputenv("XDG_DATA_HOME", data.path().toUtf8());
        const QDir built(qEnvironmentVariable("VANTREL_BIN_DIR") + "/maps");
        const QString maps = data.filePath("vantrel/maps");
        QDir().mkpath(maps);
        for (const QString& name : built.entryList(QDir::Files))
            QFile::copy(built.filePath(name), maps + "/" + name);
    }
    // The server a test started leaves with it: its store goes with the test's folder.
    void TearDown() override {
        if (const qint64 pid = serverPid(); pid > 0)
            ::kill(pid_t(pid), SIGTERM);
        waitFor([] { return serverPid() <= 0; }, 10000);
    }
    static qint64 serverPid() {
        return QDBusConnection::sessionBus().interface()->servicePid(TVantrelAutomation::kService).value();
    }
    QTemporaryDir data, settings;
};

} // namespace

TEST_F(EndToEnd, ChooseReplaySkipJumpCloseAndComeBack) {
    QString device;
    int points = 0;
    {
        Operator op(settings.path());
        TForm1& f = *op.form;
        ASSERT_TRUE(op.tripsListed()) << op.sink.texts().join("; ").toStdString();
        EXPECT_EQ(f.ui().cmbGroupName->currentIndex(), 7); // restored from the new default settings

        op.choose(f.ui().cmbGroupName, 2);
        op.choose(f.ui().cmbCarNum, 1);
        ASSERT_TRUE(op.tripsListed());
        device = f.ui().cmbCarDevice->currentText();
        EXPECT_EQ(f.ui().cmbCarName->currentIndex(), 1);
        EXPECT_EQ(f.ui().lblTripNum->text(), "1");

        op.click(f.ui().ListView1->topLevelItem(0)); // trip 1 with its stop list
        points = f.session().track.PointCount;
        ASSERT_FALSE(f.session().StopList.empty());
        // The control read the trail the player sent, and painted it.
        auto* control = static_cast<TMapvexControl*>(&f.mapControl());
        const MapScene::Layer* trail = control->scene().layer("nametab2");
        ASSERT_NE(trail, nullptr);
        ASSERT_EQ(trail->features.size(), 1u);
        EXPECT_EQ(trail->features[0].points.size(), size_t(points));
        ASSERT_TRUE(waitFor([&] { return control->upToDate(); }));
        EXPECT_GT(paintedPixels(control, qRgb(255, 0, 0)), 200);
        EXPECT_EQ(paintedPixels(control, qRgb(0, 0, 255)), 0); // no marker before playback
        double minLon = 1e9, maxLon = -1e9, minLat = 1e9, maxLat = -1e9;
        for (const TMapPoint& p : f.session().track.TrackPoints) {
            minLon = std::min(minLon, p.x), maxLon = std::max(maxLon, p.x);
            minLat = std::min(minLat, p.y), maxLat = std::max(maxLat, p.y);
        }

        f.ui().cmbSpeed->lineEdit()->setText("600x");
        emit f.ui().cmbSpeed->lineEdit()->textEdited("600x");
        f.ui().ToolButton3->setChecked(true);
        emit f.ui().btnPlay->clicked();
        ASSERT_EQ(f.ui().btnPlay->glyph(), ";");
        QStringList seen;
        bool skipped = false;
        int markerPixels = -1;
        ASSERT_TRUE(waitFor([&] {
            if (!f.session().CarMarkerTexts[0].isEmpty() && (seen.isEmpty() || seen.last() != f.session().CarMarkerTexts.join(' ')))
                seen << f.session().CarMarkerTexts.join(' ');
            if (seen.size() == 10 && markerPixels < 0)
                markerPixels = paintedPixels(control, qRgb(0, 0, 255));
            skipped = skipped || f.playback().resting();
            return f.ui().btnPlay->glyph() == "4";
        }, 60000));
        EXPECT_GT(seen.size(), 20); // the marker moved
        EXPECT_GT(markerPixels, 100); // and was painted
        for (const QString& marker : seen) {
            const QStringList parts = marker.split(' ');
            EXPECT_GE(parts[0].toDouble(), minLon - 1e-9);
            EXPECT_LE(parts[0].toDouble(), maxLon + 1e-9);
            EXPECT_GE(parts[1].toDouble(), minLat - 1e-9);
            EXPECT_LE(parts[1].toDouble(), maxLat + 1e-9);
        }
        EXPECT_TRUE(skipped);
        EXPECT_EQ(f.ui().TrackBar->value(), 1);
        EXPECT_FALSE(f.ui().Timer1->enabled());

        f.ui().txtCont->setText("0");
        op.choose(f.ui().cmbInfoPoints, f.ui().cmbInfoPoints->findData(2)); // stops
        ASSERT_GT(f.ui().ListView1->topLevelItemCount(), 0);
        QTreeWidgetItem* stop = f.ui().ListView1->topLevelItem(f.ui().ListView1->topLevelItemCount() - 1);
        op.click(stop);
        const double begin = datetime::parseText(stop->text(1));
        EXPECT_EQ(f.ui().TrackBar->value(), datetime::secondsBetween(f.session().track.TrackStartTime(), begin));
        EXPECT_NEAR(f.session().clock.PlayTime, begin, datetime::kOneSecond); // the track bar counts whole seconds
        EXPECT_TRUE(op.sink.messages.empty()) << op.sink.texts().join("; ").toStdString();
    }
    const QString saved = QString::fromUtf8([&] {
        QFile file(QDir(settings.path()).filePath(SettingsDocument::kFileName));
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }());
    EXPECT_TRUE(saved.contains("<GroupID>2</GroupID>"));
    EXPECT_TRUE(saved.contains("<CarID>1</CarID>"));
    EXPECT_TRUE(saved.contains("<Speed>600x</Speed>"));
    EXPECT_TRUE(saved.contains("<Cont>0</Cont>"));

    Operator again(settings.path());
    ASSERT_TRUE(again.tripsListed());
    EXPECT_EQ(again.form->ui().cmbGroupName->currentIndex(), 2);
    EXPECT_EQ(again.form->ui().cmbCarDevice->currentText(), device);
    EXPECT_EQ(again.form->ui().cmbSpeed->currentText(), "600x");
    EXPECT_EQ(again.form->session().track.PointCount, points);
}

TEST_F(EndToEnd, AKilledServerLeavesTheLoadedTrackPlayingWithoutAnErrorStorm) {
    Operator op(settings.path());
    TForm1& f = *op.form;
    ASSERT_TRUE(op.tripsListed());
    f.ui().cmbSpeed->lineEdit()->setText("60x");
    emit f.ui().cmbSpeed->lineEdit()->textEdited("60x");
    emit f.ui().btnPlay->clicked();
    runFor(300);
    const qint64 pid = serverPid();
    ASSERT_GT(pid, 0);
    ::kill(pid_t(pid), SIGKILL);
    ASSERT_TRUE(waitFor([&] { return !f.session().hasServer(); }, 5000));
    EXPECT_FALSE(f.ui().ListView1->isEnabled());
    const QString before = f.session().CarMarkerTexts.join(' ');
    runFor(1000);
    EXPECT_TRUE(f.ui().Timer1->enabled());
    EXPECT_NE(f.session().CarMarkerTexts.join(' '), before); // still playing the loaded track
    EXPECT_TRUE(op.sink.messages.empty()) << op.sink.texts().join("; ").toStdString();

    // A server started again is not taken up by this window…
    QProcess::startDetached(qEnvironmentVariable("VANTREL_BIN_DIR") + "/vantrel-server", {});
    ASSERT_TRUE(waitFor([] { return serverPid() > 0; }, 20000));
    runFor(300);
    op.choose(f.ui().cmbCarDevice, 1);
    EXPECT_FALSE(f.session().hasServer());
    EXPECT_FALSE(f.ui().ListView1->isEnabled());
    EXPECT_TRUE(op.sink.messages.empty());
    op.form->close();
    op.form.reset();

    // …but by the next start of the player.
    Operator next(settings.path());
    ASSERT_TRUE(next.tripsListed());
    EXPECT_TRUE(next.form->session().hasServer());
    EXPECT_TRUE(next.form->ui().ListView1->isEnabled());
}
