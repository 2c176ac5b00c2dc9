#pragma once

#include "DateTimeValue.h"
#include "FormFixture.h"
#include "SettingsDocument.h"
#include "TMapvexControl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>
#include <utility>

// A player window started as the program starts it (from the event loop), shown at 1280 x 800
// with the Monaco OpenStreetMap extract as its map, on the given server. A benchmark measures
// where the operator is, so without the extract it fails.
class MonacoWindow {
public:
    static QString extract() { return QStringLiteral(VANTREL_SHARED_DATA) + "/osm/monaco-2016-03-05.osm.pbf"; }

    // `edits` are texts replaced in the default settings document, besides its map path.
    explicit MonacoWindow(IVantrelAutomation& server, const std::vector<std::pair<QString, QString>>& edits = {}) {
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
        environment.messages = &sink;
        environment.now = [] { return datetime::fromQDateTime(QDateTime::currentDateTimeUtc()); };
        environment.settingsDirectory = settings.path();
        form = std::make_unique<TForm1>(environment);
        form->resize(1280, 800);
        form->show();
    }

    // Runs the start-up; false, said with the messages shown, when the extract did not load.
    bool started() {
        QElapsedTimer elapsed;
        elapsed.start();
        while (map->scene().baseMap().featureCount() == 0 && elapsed.elapsed() < 60000)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        QApplication::processEvents();
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
