#pragma once

#include <QString>

// The layer definitions and style texts the player sends to the map control, as they stand.
namespace mapstyles {

inline const QString kGeometryPrefix = QStringLiteral("L E ");

inline const QString kTrailOutlineLayer = QStringLiteral("name=nametab1;metrics=[metr]");
inline const QString kTrailOutlineStyle = QStringLiteral("l rgb(0,0,0) 4");
inline const QString kTrailLayer = QStringLiteral("name=nametab2;metrics=[metr]");
inline const QString kTrailStyle = QStringLiteral("l rgb(255,0,0) 2");

inline const QString kCheckpointAreaLayer =
    QStringLiteral("name='Контрольная точка';metrics=[metr]");
inline const QString kCheckpointAreaStyle = QStringLiteral("a rgb(255,0,0) 10");
inline const QString kCheckpointOutlineLayer = QStringLiteral("name='КТ';metrics=[metr]");
inline const QString kCheckpointOutlineStyle = QStringLiteral("l rgb(255,0,0) 1");
inline const QString kCheckpointLabelLayer =
    QStringLiteral("name=centersKT;coords=[YCOORD],[XCOORD];style=[style]");

inline const QString kMarkerLayers[3] = {
    QStringLiteral("name=cartab1;coords=[YCOORD],[XCOORD];style=[style]"),
    QStringLiteral("name=cartab2;coords=[YCOORD],[XCOORD];style=[style2]"),
    QStringLiteral("name=cartab3;coords=[YCOORD],[XCOORD];style=[style3]"),
};
inline const QString kMarkerStylePrefixes[3] = {
    QStringLiteral("m '51.otl' 22 rgb(0,0,0) 32 "),
    QStringLiteral("m '51.otl' 22 rgb(255,255,255) 28 "),
    QStringLiteral("m '51.otl' 22 rgb(0,0,255) 22 "),
};

// The trip's events, a picture each, with what hovering shows.
inline const QString kEventIconLayer =
    QStringLiteral("name=ipIcons;coords=[YCOORD],[XCOORD];style=[style];hint=[hint]");
inline QString eventIconStyle(const QString& picture) { return QStringLiteral("p '") + picture + QStringLiteral("' 24"); }

inline QString checkpointLabelStyle(const QString& label) {
    return QStringLiteral("t '") + label + QStringLiteral("' 'Arial 204' 8 rgb(0,0,0)");
}

} // namespace mapstyles
