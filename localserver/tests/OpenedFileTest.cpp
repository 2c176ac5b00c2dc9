// A track file opened in the window: stored once in «Файлы», its span told, a wrong file refused.
#include "OpenedFile.h"
#include "QtPrinters.h"
#include "Store.h"
#include "VantrelError.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void write(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

const QByteArray kGpx = R"(<?xml version="1.0" encoding="UTF-8"?>
<gpx version="1.1" creator="test" xmlns="http://www.topografix.com/GPX/1/1"><trk><trkseg>
<trkpt lat="50.30" lon="11.90"><time>2020-05-01T08:00:00Z</time></trkpt>
<trkpt lat="50.31" lon="11.91"><time>2020-05-01T08:01:00Z</time></trkpt>
<trkpt lat="50.32" lon="11.92"><time>2020-05-01T08:02:00Z</time></trkpt>
</trkseg></trk></gpx>)";

} // namespace

TEST(OpenedFile, OpenedTwiceItIsStoredOnceWithItsSpan) {
    QTemporaryDir dir;
    const QString store = dir.filePath("store.sqlite");
    { vserver::Store create(store); }
    const QString path = dir.filePath("Поездка в Хоф.gpx");
    write(path, kGpx);
    const OpenedFile first = OpenedFile::import(store, path);
    EXPECT_EQ(first.car, "Поездка в Хоф");
    EXPECT_EQ(first.added, 3);
    EXPECT_NEAR((first.end - first.begin) * 86400, 120, 1e-3);
    const OpenedFile again = OpenedFile::import(store, path);
    EXPECT_EQ(again.device, first.device);
    EXPECT_EQ(again.added, 0);
    const vserver::Store stored(store);
    ASSERT_EQ(stored.groups().size(), 1u);
    EXPECT_EQ(stored.groups()[0].name, OpenedFile::kGroupName);
    EXPECT_EQ(stored.cars(stored.groups()[0].id).size(), 1u);
    EXPECT_NE(OpenedFile::deviceFor(dir.filePath("другой.gpx")), first.device);
}

TEST(OpenedFile, WhatIsNoTrackIsRefusedInRussianAndNothingIsStored) {
    QTemporaryDir dir;
    const QString store = dir.filePath("store.sqlite");
    { vserver::Store create(store); }
    write(dir.filePath("notes.txt"), "текст");
    write(dir.filePath("fake.gpx"), "<html>не трек</html>");
    for (const char* name : {"notes.txt", "fake.gpx", "missing.gpx"}) {
        try {
            OpenedFile::import(store, dir.filePath(name));
            ADD_FAILURE() << name << " was opened";
        } catch (const VantrelError& error) {
            EXPECT_TRUE(error.text().contains(name)) << error.what();
        }
    }
    EXPECT_TRUE(vserver::Store(store).groups().empty());
}
