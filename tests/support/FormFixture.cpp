#include "FormFixture.h"

#include "DateTimeValue.h"
#include "FloatToMapStr.h"

#include <QFile>

FormFixture::FormFixture() = default;

FormFixture::~FormFixture() {
    if (form)
        form->FormDestroy();
}

TForm1& FormFixture::create() {
    PlayerEnvironment environment;
    environment.createServer = [this]() -> IVantrelAutomation* {
        if (realServer)
            return realServer;
        return serverCreated ? &server : nullptr;
    };
    environment.createSheetServer = [this](const QString&) -> std::unique_ptr<IVantrelAutomation> {
        auto copy = std::make_unique<ScriptedAutomation>();
        copy->groups = server.groups;
        copy->trips = server.trips;
        copy->checkpoints = server.checkpoints;
        copy->computeStatus = 0;
        copy->onCall = [this](const QString& call) { sheetCalls << call; };
        return copy;
    };
    environment.createMap = [this](QWidget*) { return PlayerEnvironment::MapParts{nullptr, &map}; };
    environment.messages = &sink;
    environment.now = [this] { return now; };
    environment.settingsDirectory = folder.path();
    environment.skipRestMs = 1000;
    form = std::make_unique<TForm1>(environment);
    return *form;
}

TForm1& FormFixture::start() {
    create();
    form->FormShow();
    return *form;
}

QString FormFixture::settingsPath() const { return folder.filePath(QStringLiteral("VantrelSettings.xml")); }

void FormFixture::writeSettings(const QByteArray& content) const {
    QFile file(settingsPath());
    file.open(QIODevice::WriteOnly);
    file.write(content);
}

QByteArray FormFixture::readSettings() const {
    QFile file(settingsPath());
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

ScriptedAutomation::Trip FormFixture::trip(const std::vector<TrackPoint>& points) {
    ScriptedAutomation::Trip result;
    QStringList line;
    for (const TrackPoint& p : points) {
        result.track.insert(result.track.end(), {p.time, p.lon, p.lat, p.mileage, p.speed});
        line << FloatToMapStr(p.lon) + QLatin1Char(' ') + FloatToMapStr(p.lat);
    }
    result.line = line.join(QLatin1Char(','));
    if (!points.empty()) {
        result.begin = datetime::formatText(points.front().time);
        result.end = datetime::formatText(points.back().time);
        result.duration = QStringLiteral("00:10:00");
    }
    return result;
}

void FormFixture::addGroups(int count) {
    for (int g = 1; g <= count; ++g) {
        ScriptedAutomation::Group group{QStringLiteral("g%1").arg(g), QStringLiteral("Группа %1").arg(g), {}};
        for (int c = 0; c < 2; ++c)
            group.cars.push_back({g * 10 + c, QStringLiteral("Машина %1-%2").arg(g).arg(c + 1),
                                  QStringLiteral("А%1%2ВС").arg(g).arg(c), g * 100 + c});
        server.groups.push_back(group);
    }
}

double march1(int hours, int minutes, double seconds) {
    return datetime::fromDateAndTime(QDate(2009, 3, 1), QTime(0, 0)) +
           (hours * 3600 + minutes * 60 + seconds) / 86400.0;
}
