#pragma once

#include "LabelGrid.h"

#include <QFont>
#include <QImage>
#include <QPainterPath>
#include <QString>
#include <memory>
#include <mutex>
#include <vector>

// Street names set along their roads for one pixel size: each glyph on the line, turned with
// it, the text upright, repeated along long roads, never on another label and never past its
// road's end nor on a place name. Placed for the whole map at once, in map pixels (Web Mercator metres divided by
// the pixel size, y southwards), so that every tile of a scale draws the same labels.
namespace streetlabels {

struct Road {
    const std::vector<QPointF>* points; // Web Mercator metres
    const QString* name;
    int rank; // 0 draws first: bigger roads win where space is short
};

struct Glyph {
    QChar character;
    QPointF centre; // map pixels
    double angle;   // degrees, clockwise from east on the screen
    double advance;
};

// A placed name; its picture is drawn the first time a view shows it, by whichever thread
// draws that view.
struct Label {
    std::vector<Glyph> glyphs;
    QRectF bounds; // map pixels
    struct Picture {
        std::once_flag drawn;
        QImage image;  // the glyphs with their halo: a redraw only copies it
        QPoint origin; // of the image, in map pixels
    };
    std::shared_ptr<Picture> picture = std::make_shared<Picture>();
    const Picture& drawn() const;
};

QFont font();
// Names where `grid` leaves room, taking their room in it.
std::vector<Label> place(const std::vector<Road>& roads, double metresPerPixel, LabelGrid& grid);

} // namespace streetlabels
