#include "StreetLabels.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTransform>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace streetlabels {
namespace {

constexpr double kRepeat = 320;      // pixels between copies of a name along a road
constexpr double kMaxBendDegrees = 28; // between neighbouring glyphs

// A polyline in map pixels with the distance along it to each point.
struct Path {
    std::vector<QPointF> points;
    std::vector<double> at;
    double length() const { return at.empty() ? 0 : at.back(); }

    // The point and direction (degrees, clockwise from east on the screen) at a distance.
    std::pair<QPointF, double> along(double d) const {
        const auto upper = std::upper_bound(at.begin(), at.end(), d);
        const size_t i = std::clamp<size_t>(size_t(upper - at.begin()), 1, points.size() - 1);
        const QPointF a = points[i - 1], b = points[i];
        const double span = at[i] - at[i - 1];
        const double t = span > 0 ? (d - at[i - 1]) / span : 0;
        return {a + (b - a) * t, std::atan2(b.y() - a.y(), b.x() - a.x()) * 180 / std::numbers::pi};
    }
};

Path pixelPath(const std::vector<QPointF>& metres, double mpp, bool reversed) {
    Path path;
    path.points.reserve(metres.size());
    for (size_t k = 0; k < metres.size(); ++k) {
        const QPointF& m = metres[reversed ? metres.size() - 1 - k : k];
        const QPointF p(m.x() / mpp, -m.y() / mpp);
        if (!path.points.empty() && std::hypot(p.x() - path.points.back().x(), p.y() - path.points.back().y()) < 0.5)
            continue;
        path.at.push_back(path.points.empty()
                              ? 0
                              : path.at.back() + std::hypot(p.x() - path.points.back().x(), p.y() - path.points.back().y()));
        path.points.push_back(p);
    }
    return path;
}

double bend(double a, double b) {
    const double d = std::fmod(std::abs(a - b), 360.0);
    return d > 180 ? 360 - d : d;
}

// The glyphs of a name starting at a distance along the path, or nothing where the road bends
// too sharply under it.
std::optional<std::vector<Glyph>> setAlong(const Path& path, double start, const QString& name,
                                           const QFontMetricsF& metrics) {
    std::vector<Glyph> glyphs;
    double d = start;
    for (const QChar c : name) {
        const double advance = metrics.horizontalAdvance(c);
        const auto [centre, angle] = path.along(d + advance / 2);
        if (!glyphs.empty() && bend(glyphs.back().angle, angle) > kMaxBendDegrees)
            return std::nullopt;
        glyphs.push_back({c, centre, angle, advance});
        d += advance;
    }
    return glyphs;
}

} // namespace

const Label::Picture& Label::drawn() const {
    std::call_once(picture->drawn, [this] {
        const QFont labelFont = font();
        const QFontMetricsF metrics(labelFont);
        QPainterPath path;
        for (const Glyph& g : glyphs) {
            QPainterPath glyph;
            glyph.addText(QPointF(-g.advance / 2, (metrics.ascent() - metrics.descent()) / 2), labelFont,
                          QString(g.character));
            path.addPath(QTransform().translate(g.centre.x(), g.centre.y()).rotate(g.angle).map(glyph));
        }
        const QRect box = path.boundingRect().adjusted(-3, -3, 3, 3).toAlignedRect();
        picture->image = QImage(box.size(), QImage::Format_ARGB32_Premultiplied);
        picture->image.fill(Qt::transparent);
        picture->origin = box.topLeft();
        QPainter painter(&picture->image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(-box.topLeft());
        painter.strokePath(path, QPen(QColor(255, 255, 255, 230), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.fillPath(path, QColor(51, 51, 51));
    });
    return *picture;
}

QFont font() {
    QFont f;
    f.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    f.setPixelSize(11);
    return f;
}

std::vector<Label> place(const std::vector<Road>& roadsIn, double mpp, LabelGrid& grid) {
    std::vector<Road> roads = roadsIn;
    std::stable_sort(roads.begin(), roads.end(), [](const Road& a, const Road& b) { return a.rank < b.rank; });
    const QFont labelFont = font();
    const QFontMetricsF metrics(labelFont);
    const double height = metrics.height();
    std::vector<Label> labels;
    QHash<QString, double> widths;
    for (const Road& road : roads) {
        const QString name = road.name->simplified();
        if (name.isEmpty() || road.points->size() < 2)
            continue;
        auto width = widths.find(name);
        if (width == widths.end())
            width = widths.insert(name, metrics.horizontalAdvance(name));
        double roughLength = 0; // at least the true length: spares the short ways the exact one
        for (size_t k = 1; k < road.points->size(); ++k)
            roughLength += std::abs((*road.points)[k].x() - (*road.points)[k - 1].x()) +
                           std::abs((*road.points)[k].y() - (*road.points)[k - 1].y());
        if (roughLength / mpp < *width + 2 * height)
            continue;
        const Path forward = pixelPath(*road.points, mpp, false);
        const double length = forward.length();
        const double room = *width + 2 * height; // a little road left at both ends
        if (length < room)
            continue;
        const int copies = std::max(1, int((length - room) / kRepeat) + 1);
        const double spacing = copies > 1 ? (length - room) / (copies - 1) : 0;
        for (int copy = 0; copy < copies; ++copy) {
            const double start = copies > 1 ? height + copy * spacing : (length - *width) / 2;
            // Upright: the text runs left to right on the screen, so a road drawn westwards is
            // read from its other end.
            const double middleAngle = forward.along(start + *width / 2).second;
            const bool reversed = std::abs(middleAngle) > 90;
            const Path reverse = reversed ? pixelPath(*road.points, mpp, true) : Path{};
            const Path& path = reversed ? reverse : forward;
            const auto glyphs = setAlong(path, reversed ? length - start - *width : start, name, metrics);
            if (!glyphs)
                continue;
            std::vector<QRectF> boxes;
            for (const Glyph& g : *glyphs) {
                const double r = std::max(g.advance, height) / 2 + 1;
                boxes.push_back(QRectF(g.centre - QPointF(r, r), QSizeF(2 * r, 2 * r)));
            }
            if (!std::all_of(boxes.begin(), boxes.end(), [&](const QRectF& b) { return grid.free(b); }))
                continue;
            Label label;
            label.glyphs = std::move(*glyphs);
            for (const QRectF& b : boxes) {
                grid.add(b);
                label.bounds |= b;
            }
            labels.push_back(std::move(label));
        }
    }
    return labels;
}

} // namespace streetlabels
