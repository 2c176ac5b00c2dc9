#pragma once

#include <QColor>
#include <QPointF>
#include <QString>
#include <optional>
#include <vector>

// The control's style and geometry language:
//   l rgb(r,g,b) width                          a line
//   a rgb(r,g,b) pattern                        a filled area
//   m 'set' symbol rgb(r,g,b) size heading      a point symbol turned clockwise from east
//   t 'label' 'font charset' size rgb(r,g,b)    a text label
//   p 'image' size                              a picture the control was given by name
//   L E x y,x y,…                               a geometry (longitude latitude pairs)
// Text that does not parse gives nothing.
struct MapStyle {
    enum class Kind { Line, Area, Symbol, Text, Picture };
    Kind kind = Kind::Line;
    QColor color;
    double size = 1;    // line width, area pattern, symbol size in pixels, text size in points
    double heading = 0; // degrees, symbols only
    QString symbolSet;
    int symbol = 0;
    QString label; // the text, or the picture's name
    QString font;
};

std::optional<MapStyle> parseStyle(const QString& text);
std::optional<std::vector<QPointF>> parseGeometry(const QString& text);

// A layer definition: ";"-separated key=value pairs, fields cited in square brackets.
struct LayerDefinition {
    QString name;
    QString metricsField; // a geometry text
    QString latitudeField, longitudeField; // coords=[Y],[X]
    QString styleField;
    QString hintField; // hint=[field]: what hovering a picture shows
    bool isPointLayer() const { return !latitudeField.isEmpty(); }
};

std::optional<LayerDefinition> parseLayerDefinition(const QString& text);

// A decimal number with "." as separator, nothing else around it.
std::optional<double> parseNumber(QStringView text);
