#pragma once

#include "ServerTypes.h"

#include <QByteArray>
#include <QDate>
#include <QPointF>
#include <vector>

namespace vserver {

class Store;

// The demo town's roads: a grid of streets with avenues every few blocks and a ring road,
// deterministic from a fixed seed. The same network is the demo base map.
class RoadNetwork {
public:
    struct Road {
        int a = 0, b = 0;
        std::vector<QPointF> shape; // longitude, latitude, from node a to node b
        QString highway, name;
        double speedKmh = 40;
        double length = 0; // metres
    };

    static RoadNetwork demo();

    int nodeCount() const { return int(nodes_.size()); }
    QPointF node(int i) const { return nodes_[size_t(i)]; }
    const std::vector<Road>& roads() const { return roads_; }
    // Fastest route: the points along the roads and the speed limit of each leg between them.
    void route(int from, int to, std::vector<QPointF>& points, std::vector<double>& speeds) const;
    // The base map: roads, water, a park and district names, as GeoJSON.
    QByteArray geoJson() const;

    int columns() const { return columns_; }
    int rows() const { return rows_; }
    int gridNode(int column, int row) const { return row * columns_ + column; }

private:
    void addRoad(int a, int b, const QString& highway, const QString& name, double speed);
    template <typename Random> void closeSomeStreets(Random& random);
    // Whether the open roads (the grid's, before the ring is added) reach every crossing.
    bool connected(const std::vector<bool>& open) const;

    std::vector<QPointF> nodes_;
    std::vector<Road> roads_;
    std::vector<std::vector<int>> adjacent_; // road indexes per node
    int columns_ = 0, rows_ = 0;
};

// Fills an empty store with the demo set: nine groups of three vehicles driving the demo town
// from 2 to 4 March 2009, with stops, signal gaps, power loss, over-speeding, refuelling and
// draining, sensors and checkpoints.
void createDemoData(Store& store);

// Writes the demo base map (demo_roads.geojson) and the chart that names it (ecatsub.chart).
void writeDemoMap(const QString& folder);

} // namespace vserver
