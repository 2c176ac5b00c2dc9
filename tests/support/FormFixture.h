#pragma once

#include "MessageSink.h"
#include "QtPrinters.h"
#include "RecordingMap.h"
#include "ScriptedAutomation.h"
#include "PlayerSession.h"
#include "TForm1.h"
#include "ValueLabel.h"

#include <QTemporaryDir>
#include <memory>

struct RecordingSink : IMessageSink {
    struct Message {
        QString text, title;
    };
    std::vector<Message> messages;
    void showMessage(const QString& text, const QString& title) override {
        messages.push_back({text, title});
    }
    QStringList texts() const {
        QStringList result;
        for (const Message& m : messages)
            result << m.text;
        return result;
    }
};

struct TrackPoint {
    double time; // date-time value
    double lon, lat, mileage, speed;
};

// A window on scripted doubles: a server, a recording map, a recording message sink, a wall
// clock the test moves, and a settings folder of its own.
class FormFixture {
public:
    FormFixture();
    ~FormFixture();

    TForm1& create();
    TForm1& start(); // create, then run the start-up sequence
    QString settingsPath() const;
    void writeSettings(const QByteArray& content) const;
    QByteArray readSettings() const;

    // Moves the wall clock on by `seconds`.
    void advance(double seconds) { now += seconds / 86400.0; }

    static ScriptedAutomation::Trip trip(const std::vector<TrackPoint>& points);
    // Eight groups ("g1"…"g8"), each with two cars; group 8's first car has device 800.
    void addGroups(int count = 8);

    ScriptedAutomation server;
    // The calls made of the servers the window's trip sheets computed on (copies of `server`).
    QStringList sheetCalls;
    IVantrelAutomation* realServer = nullptr; // when set, the window uses it instead
    RecordingMap map;
    RecordingSink sink;
    double now = 39873.5; // 1 March 2009, noon
    bool serverCreated = true;
    QTemporaryDir folder;
    std::unique_ptr<TForm1> form;
};

// 1 March 2009 at the given time of day, as a date-time value.
double march1(int hours, int minutes, double seconds);
