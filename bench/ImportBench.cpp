// Import of a 1,000,000-point GPX recording by the real vantrel-server, into a fresh store each
// run, as an operator runs it from a terminal.
#include "Goal.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    constexpr int kPoints = 1000000;
    QTemporaryDir folder;
    const QString gpx = folder.filePath("ride.gpx");
    {
        QFile file(gpx);
        file.open(QIODevice::WriteOnly);
        file.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                   "<gpx version=\"1.1\" creator=\"bench\" xmlns=\"http://www.topografix.com/GPX/1/1\"><trk><trkseg>\n");
        const QDateTime start(QDate(2009, 3, 1), QTime(6, 0), Qt::UTC);
        for (int i = 0; i < kPoints; ++i) {
            const double a = i * 0.001;
            file.write(QStringLiteral("<trkpt lat=\"%1\" lon=\"%2\"><time>%3</time><speed>%4</speed></trkpt>\n")
                           .arg(QString::number(55 + 0.03 * std::sin(a), 'f', 7),
                                QString::number(37 + 0.05 * std::cos(a), 'f', 7),
                                start.addSecs(i).toString(Qt::ISODate), QString::number(12.5, 'f', 1))
                           .toUtf8());
        }
        file.write("</trkseg></trk></gpx>\n");
    }
    const QString server = QCoreApplication::applicationDirPath() + "/../bin/vantrel-server";
    const QString tiny = folder.filePath("tiny.gpx");
    {
        QFile file(tiny);
        file.open(QIODevice::WriteOnly);
        file.write("<gpx><trk><trkseg><trkpt lat=\"55\" lon=\"37\"><time>2009-03-01T00:00:00Z</time></trkpt>"
                   "</trkseg></trk></gpx>");
    }
    std::vector<double> seconds;
    for (int round = 0; round < 3; ++round) {
        // The store exists beforehand, made by a tiny import: the long import alone is timed.
        const QString store = folder.filePath(QStringLiteral("store%1.sqlite").arg(round));
        QProcess::execute(server, {"import-gpx", "--db", store, "--group", "Другая", "--car", "Другая",
                                   "--device", "9998", tiny});
        QProcess import;
        QElapsedTimer timer;
        timer.start();
        import.start(server, {"import-gpx", "--db", store,
                              "--group", "Замер", "--car", "Длинная запись", "--device", "9999", gpx});
        import.waitForFinished(600000);
        seconds.push_back(timer.nsecsElapsed() / 1e9);
        std::printf("import of %d GPX points: %.2f s (%s)\n", kPoints, seconds.back(),
                    import.readAllStandardError().trimmed().split('\n').last().constData());
    }
    reportGoal("import of 1,000,000 GPX points", median(seconds), "s", 2);
    return 0;
}
