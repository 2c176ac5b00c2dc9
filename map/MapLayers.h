#pragma once

#include "CheckpointShapes.h"
#include "IMapvexControl.h"

#include <QStringList>
#include <array>
#include <vector>

class IVantrelAutomation;

// The player's five map tables and the texts it writes into them: the trail, the checkpoints
// and the vehicle marker.
class MapLayers {
public:
    enum Table { TrailOutlineTable, TrailTable, CheckpointAreaTable, CheckpointLabelTable,
                 VehicleMarkerTable, TableCount };

    explicit MapLayers(IMapvexControl& map) : map_(map) {}

    // Creates the five tables, then gives each its fields and one record.
    void createTables();
    bool hasTables() const { return tables_[0] != nullptr; }
    IMapTable* table(Table which) const { return tables_[which]; }

    // The trail of the given trip, read from the server, as an outline under a red line.
    // Its texts are the server's lines behind mapstyles::kGeometryPrefix.
    void refreshTrail(IVantrelAutomation& server, int tripNumber);
    // The vehicle marker from the three marker texts (longitude, latitude, heading degrees).
    void refreshMarker(const QStringList& carMarkerTexts);
    // The checkpoints from `shapes`, in their present state.
    void refreshCheckpoints();
    // Empties both checkpoint tables and publishes their layers empty.
    void clearCheckpoints();

    // The trip's events as pictures at their positions: one record each, longitude, latitude,
    // the picture's name and the text hovering shows. A table made on first use.
    struct EventIcon {
        double lon, lat;
        QString picture, hint;
    };
    void refreshEventIcons(const std::vector<EventIcon>& icons);

    // Reads the checkpoints of the server's current car into `shapes`; a failure while reading
    // leaves `shapes` as far as it got and is not reported.
    void readCheckpoints(IVantrelAutomation& server);

    CheckpointShapes shapes;

private:
    static void empty(IMapTable* table);
    void publishCheckpointAreas();
    void publishCheckpointLabels();

    IMapvexControl& map_;
    std::array<IMapTable*, TableCount> tables_{};
    IMapTable* eventIcons_ = nullptr;
};
