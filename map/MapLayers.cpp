#include "MapLayers.h"

#include "FloatToMapStr.h"
#include "IVantrelAutomation.h"
#include "MapStyles.h"

namespace {

struct FieldDef {
    const char* type;
    const char* name;
    const char* caption;
};

const QVector<QVector<FieldDef>> kTableFields = {
    {{"TEXT", "metr", "metr"}},
    {{"TEXT", "metr", "metr"}},
    {{"TEXT", "metr", "metr"}, {"TEXT", "Name", "Name"}},
    {{"DOUBLE", "XCOORD", "Longitude"}, {"DOUBLE", "YCOORD", "Latitude"},
     {"TEXT", "style", "style"}},
    {{"DOUBLE", "XCOORD", "Longitude"}, {"DOUBLE", "YCOORD", "Latitude"},
     {"TEXT", "style", "style"}, {"TEXT", "style2", "style2"}, {"TEXT", "style3", "style3"}},
};

} // namespace

void MapLayers::createTables() {
    for (auto& table : tables_)
        table = map_.CreateTable();
    for (int t = 0; t < TableCount; ++t) {
        for (const FieldDef& field : kTableFields[t])
            tables_[t]->AddField(QString::fromLatin1(field.type), QString::fromLatin1(field.name),
                                 QString::fromLatin1(field.caption));
        tables_[t]->AddRecord();
    }
}

void MapLayers::refreshTrail(IVantrelAutomation& server, int tripNumber) {
    server.SetTripIndex(tripNumber);
    // A million points' text is some 70 MB: a trip's load has it made on a worker.
    const QString outline = server.PrefixedTrackLine(mapstyles::kGeometryPrefix);
    tables_[TrailOutlineTable]->SetValue(outline, 0);
    map_.AddLayer(mapstyles::kTrailOutlineLayer, mapstyles::kTrailOutlineStyle,
                  tables_[TrailOutlineTable]);
    // The same line as a rule: then the outline's text itself, not a copy of a million points.
    const QString line = server.PrefixedTrackLine(mapstyles::kGeometryPrefix);
    const bool shared = line.constData() == outline.constData();
    tables_[TrailTable]->SetValue(shared || line != outline ? line : outline, 0);
    map_.AddLayer(mapstyles::kTrailLayer, mapstyles::kTrailStyle, tables_[TrailTable]);
}

void MapLayers::refreshMarker(const QStringList& carMarkerTexts) {
    IMapTable* table = tables_[VehicleMarkerTable];
    const QString heading = carMarkerTexts.value(2);
    table->SetValue(carMarkerTexts.value(0), 0);
    table->SetValue(carMarkerTexts.value(1), 1);
    for (int i = 0; i < 3; ++i)
        table->SetValue(mapstyles::kMarkerStylePrefixes[i] + heading, 2 + i);
    for (const QString& layer : mapstyles::kMarkerLayers)
        map_.AddLayer(layer, QString(), table);
}

void MapLayers::refreshCheckpoints() {
    IMapTable* areas = tables_[CheckpointAreaTable];
    IMapTable* labels = tables_[CheckpointLabelTable];
    empty(areas);
    empty(labels);
    for (int i = 0; i < shapes.count && i < shapes.shapes.size(); ++i) {
        const CheckpointShape& shape = shapes.shapes[i];
        areas->SetValue(mapstyles::kGeometryPrefix + shape.polygon, 0);
        areas->SetValue(shape.label, 1);
        areas->AddRecord();
        labels->SetValue(shape.centerX, 0);
        labels->SetValue(shape.centerY, 1);
        labels->SetValue(mapstyles::checkpointLabelStyle(shape.label), 2);
        labels->AddRecord();
    }
    publishCheckpointAreas();
    publishCheckpointLabels();
}

void MapLayers::clearCheckpoints() {
    empty(tables_[CheckpointAreaTable]);
    publishCheckpointAreas();
    empty(tables_[CheckpointLabelTable]);
    publishCheckpointLabels();
}

void MapLayers::readCheckpoints(IVantrelAutomation& server) {
    try {
        server.SelectGroup(server.CurrentGroupId());
        server.SelectCar(server.CurrentCarId());
        server.LoadCheckpoints(server.CheckpointListId());
        const int count = server.CheckpointCount();
        shapes.count = count;
        shapes.shapes.resize(std::max(count, 0));
        for (int i = 1; i <= count; ++i) {
            server.SetCheckpointIndex(i);
            const int radius = server.CheckpointRadius();
            const double longitude = server.CheckpointLongitude();
            const double latitude = server.CheckpointLatitude();
            CheckpointShape& shape = shapes.shapes[i - 1];
            shape.centerX = FloatToMapStr(longitude);
            shape.centerY = FloatToMapStr(latitude);
            shape.label = server.CheckpointName() + QLatin1Char('(') + server.CheckpointNote() +
                          QLatin1Char(')');
            shape.polygon = checkpointCircle(longitude, latitude, radius);
        }
    } catch (const std::exception&) {
        // Reading stops where it failed; what was read is drawn.
    }
}

void MapLayers::refreshEventIcons(const std::vector<EventIcon>& icons) {
    if (!eventIcons_) {
        if (icons.empty())
            return; // nothing shown yet, nothing to clear
        eventIcons_ = map_.CreateTable();
        eventIcons_->AddField(QStringLiteral("DOUBLE"), QStringLiteral("XCOORD"), QStringLiteral("Longitude"));
        eventIcons_->AddField(QStringLiteral("DOUBLE"), QStringLiteral("YCOORD"), QStringLiteral("Latitude"));
        eventIcons_->AddField(QStringLiteral("TEXT"), QStringLiteral("style"), QStringLiteral("style"));
        eventIcons_->AddField(QStringLiteral("TEXT"), QStringLiteral("hint"), QStringLiteral("hint"));
    }
    empty(eventIcons_);
    for (const EventIcon& icon : icons) {
        eventIcons_->SetValue(FloatToMapStr(icon.lon), 0);
        eventIcons_->SetValue(FloatToMapStr(icon.lat), 1);
        eventIcons_->SetValue(mapstyles::eventIconStyle(icon.picture), 2);
        eventIcons_->SetValue(icon.hint, 3);
        eventIcons_->AddRecord();
    }
    map_.AddLayer(mapstyles::kEventIconLayer, QString(), eventIcons_);
}

void MapLayers::empty(IMapTable* table) {
    while (table->GetRecordCount() > 0) {
        table->MoveFirst();
        table->DeleteRecord();
    }
}

void MapLayers::publishCheckpointAreas() {
    map_.AddLayer(mapstyles::kCheckpointAreaLayer, mapstyles::kCheckpointAreaStyle,
                  tables_[CheckpointAreaTable]);
    map_.AddLayer(mapstyles::kCheckpointOutlineLayer, mapstyles::kCheckpointOutlineStyle,
                  tables_[CheckpointAreaTable]);
}

void MapLayers::publishCheckpointLabels() {
    map_.AddLayer(mapstyles::kCheckpointLabelLayer, QString(), tables_[CheckpointLabelTable]);
}
