#pragma once

#include "DateTimeValue.h"
#include "FormFixture.h"
#include "SettingsDocument.h"
#include "TMapvexControl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <cstdio>
#include <memory>
#include <utility>

// A player window started as the program starts it (from the event loop), shown at 1280 x 800
// with the Monaco OpenStreetMap extract as its map, on the given server. A benchmark measures
// where the operator is, so without the extract it fails.
class MonacoWindow {
public:
    // The offscreen platform's own screen is 800 x 800 and would shrink the window to it. The
    // window starts maximized, as the program's does, on a screen of the size the benchmarks
    // name, without a frame. Called before QApplication.
    static void useOffscreenPlatform() {
        static QTemporaryFile screens;
        if (!screens.open())
            return; // started() then reports the window's real size
        screens.write(R"({"windowFrameMargins": false,
                          "screens": [{"name": "bench", "x": 0, "y": 0, "width": 1280, "height": 800,
                          "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
        screens.flush();
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + screens.fileName().toLocal8Bit());
    }

    static QString extract() { return QStringLiteral(VANTREL_SHARED_DATA) + "/osm/monaco-2016-03-05.osm.pbf"; }

    // `edits` are texts replaced in the default settings document, besides its map path.
    // `sheetServer` makes the server the window's trip sheet computes on; none: no sheet.
    explicit MonacoWindow(IVantrelAutomation& server, const std::vector<std::pair<QString, QString>>& edits = {},
                          decltype(PlayerEnvironment::createSheetServer) sheetServer = {}) {
        QString document = QString::fromUtf8(SettingsDocument::defaultDocument())
                               .replace(SettingsDocument::kDefaultMapPath, extract());
        for (const auto& [from, to] : edits)
            document.replace(from, to);
        SettingsDocument::saveFile(settings.filePath(SettingsDocument::kFileName), document.toUtf8());
        environment.createServer = [&server]() -> IVantrelAutomation* { return &server; };
        environment.createMap = [this](QWidget* parent) {
            map = new TMapvexControl(parent);
            return PlayerEnvironment::MapParts{map, map};
        };
        environment.createSheetServer = std::move(sheetServer);
        environment.messages = &sink;
        environment.now = [] { return datetime::fromQDateTime(QDateTime::currentDateTimeUtc()); };
        environment.settingsDirectory = settings.path();
        form = std::make_unique<TForm1>(environment);
        form->resize(1280, 800);
        form->show();
    }

    // Runs the start-up; false, said with the messages shown, when the extract did not load or
    // the window did not get its size.
    bool started() {
        QElapsedTimer elapsed;
        elapsed.start();
        while (map->scene().baseMap().featureCount() == 0 && elapsed.elapsed() < 60000)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        QApplication::processEvents();
        if (form->size() != QSize(1280, 800)) {
            std::printf("FAILED: the window is %d x %d, not 1280 x 800\n", form->width(), form->height());
            return false;
        }
        if (map->scene().baseMap().featureCount() > 0)
            return true;
        std::printf("FAILED: the OpenStreetMap extract %s did not load: %s\n", qPrintable(extract()),
                    qPrintable(sink.texts().join("; ")));
        return false;
    }

    RecordingSink sink;
    QTemporaryDir settings;
    PlayerEnvironment environment;
    TMapvexControl* map = nullptr;
    std::unique_ptr<TForm1> form;
};
