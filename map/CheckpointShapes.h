#pragma once

#include <QString>
#include <QVector>

// The checkpoints as drawn: per checkpoint a circle polygon, its centre and its label.
struct CheckpointShape {
    QString polygon;
    QString centerX;
    QString centerY;
    QString label;
};

struct CheckpointShapes {
    int count = 0; // how many of `shapes` are drawn; a track load sets it to 0
    QVector<CheckpointShape> shapes;
};

// A ring of 31 points ("x y,x y,…", the last closing on the first) of the given radius in
// metres around a centre in degrees.
QString checkpointCircle(double longitude, double latitude, int radiusMetres);
