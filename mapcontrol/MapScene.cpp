#include "MapScene.h"

#include <QMutex>
#include <QPaintEngine>
#include <QPainterPath>
#include <cmath>

namespace draw {

namespace {
// Viewport::toScreen with the view's figures taken once, for the many points of a feature.
struct ScreenTransform {
    explicit ScreenTransform(const Viewport& view)
        : mpp(view.metresPerPixel()), cx(view.centre.x()), cy(view.centre.y()),
          hw(view.size.width() / 2.0), hh(view.size.height() / 2.0) {}
    QPointF operator()(const QPointF& p) const { return {(p.x() - cx) / mpp + hw, (cy - p.y()) / mpp + hh}; }
    double mpp, cx, cy, hw, hh;
};

// Screen points of a feature, dropping those within a pixel of the last one kept.
QPolygonF screenPoints(const Viewport& view, const std::vector<QPointF>& points) {
    QPolygonF result;
    result.reserve(qsizetype(points.size()));
    const ScreenTransform toScreen(view);
    QPointF last(1e300, 1e300);
    for (size_t i = 0; i < points.size(); ++i) {
        const QPointF s = toScreen(points[i]);
        if (i + 1 == points.size() || std::abs(s.x() - last.x()) + std::abs(s.y() - last.y()) >= 1.5) {
            result.append(s);
            last = s;
        }
    }
    return result;
}

} // namespace

void polyline(QPainter& painter, const Viewport& view, const std::vector<QPointF>& points, const QPen& pen,
              const std::vector<QRectF>* pieces) {
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    if (points.size() == 1) {
        painter.drawPoint(view.toScreen(points.front()));
        return;
    }
    // The line in pieces of kLinePiece points, overlapping by one: a piece wholly outside the
    // view is neither projected nor stroked, so a tile of a long trail costs what it shows. The
    // pieces drawn are short and simple shapes to fill, where the whole line, crossing itself,
    // would be one large and complex one. Points within a pixel and a half of the last one kept
    // are dropped; each piece's last point is kept, so the line reaches the view's edge.
    const ScreenTransform toScreen(view);
    const double margin = (pen.widthF() + 2) * toScreen.mpp;
    const QRectF seen = view.visibleMercator().adjusted(-margin, -margin, margin, margin);
    QPolygonF run;
    run.reserve(kLinePiece);
    const auto finishRun = [&] {
        if (run.size() >= 2)
            painter.drawPolyline(run);
        run.clear();
    };
    size_t piece = 0;
    for (size_t from = 0; from + 1 < points.size(); from += kLinePiece - 1, ++piece) {
        const size_t to = std::min(points.size() - 1, from + kLinePiece - 1);
        const bool kept = pieces && piece < pieces->size();
        if (!overlaps(seen, kept ? (*pieces)[piece] : Geometry::boundsOf(points, from, to))) {
            finishRun();
            continue;
        }
        for (size_t i = from; i <= to; ++i) {
            const QPointF s = toScreen(points[i]);
            if (!run.isEmpty() && i != to && std::abs(s.x() - run.last().x()) + std::abs(s.y() - run.last().y()) < 1.5)
                continue;
            run.append(s);
            if (run.size() == kLinePiece) {
                painter.drawPolyline(run);
                run.remove(0, kLinePiece - 1);
            }
        }
    }
    finishRun();
}

namespace {
// Clips the segment from `a` to `b` to `box` (Liang-Barsky); false when none of it lies inside.
bool clipSegment(QPointF& a, QPointF& b, const QRectF& box) {
    const double dx = b.x() - a.x(), dy = b.y() - a.y();
    double enter = 0, leave = 1;
    const auto edge = [&](double p, double q) { // p: towards the edge, q: room to it
        if (p == 0)
            return q >= 0;
        const double t = q / p;
        if (p < 0)
            enter = std::max(enter, t);
        else
            leave = std::min(leave, t);
        return enter <= leave;
    };
    if (!edge(-dx, a.x() - box.left()) || !edge(dx, box.right() - a.x()) ||
        !edge(-dy, a.y() - box.top()) || !edge(dy, box.bottom() - a.y()))
        return false;
    const QPointF from = a;
    if (leave < 1)
        b = QPointF(from.x() + leave * dx, from.y() + leave * dy);
    if (enter > 0)
        a = QPointF(from.x() + enter * dx, from.y() + enter * dy);
    return true;
}
} // namespace

void polyline(QPainter& painter, const Viewport& view, const Geometry& line, const QPen& pen) {
    if (line.size() < Geometry::kSimplifyFrom) {
        polyline(painter, view, line.points(), pen, &line.pieces());
        return;
    }
    // The line simplified once for this pixel size and shared by every tile drawn at it: a long
    // trail's points, often many to a pixel, are neither projected nor stroked one by one. Its
    // segments are cut to the view with a margin the pen's width hides, so that a tile strokes
    // only what it shows, in runs of joined segments.
    const ScreenTransform toScreen(view);
    const std::shared_ptr<const Geometry::Simplified> simple = line.simplified(toScreen.mpp);
    const std::vector<QPointF>& points = simple->points;
    const double margin = pen.widthF() + 2;
    const QRectF box =
        QRectF(QPointF(0, 0), QSizeF(view.size)).adjusted(-margin, -margin, margin, margin);
    const QRectF seen(view.toMercator(box.bottomLeft()), view.toMercator(box.topRight()));
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    QPolygonF run;
    const auto finishRun = [&] {
        if (run.size() >= 2)
            painter.drawPolyline(run);
        run.clear();
    };
    QPointF last;
    bool haveLast = false;
    for (size_t piece = 0; piece < simple->pieces.size(); ++piece) {
        if (!overlaps(seen, simple->pieces[piece])) {
            finishRun();
            haveLast = false;
            continue;
        }
        const size_t from = piece * (kLinePiece - 1),
                     to = std::min(points.size() - 1, from + kLinePiece - 1);
        for (size_t i = haveLast ? from + 1 : from; i <= to; ++i) {
            const QPointF next = toScreen(points[i]);
            QPointF a = last, b = next;
            if (haveLast && clipSegment(a, b, box)) {
                if (run.isEmpty() || run.last() != a) {
                    finishRun();
                    run.append(a);
                }
                run.append(b);
            } else if (haveLast) {
                finishRun();
            }
            last = next;
            haveLast = true;
        }
    }
    finishRun();
}

void polygon(QPainter& painter, const Viewport& view, const std::vector<QPointF>& points,
             const QBrush& brush, const QPen& pen) {
    painter.setPen(pen);
    painter.setBrush(brush);
    painter.drawPolygon(screenPoints(view, points));
}

// The vehicle glyph at size 1, pointing east: a round body with a pointed nose. Stacked in
// shrinking sizes it gives even rings, so an outline in another colour reads clearly.
const QPainterPath& vehicleGlyph() {
    static const QPainterPath glyph = [] {
        QPainterPath body;
        body.addEllipse(QPointF(0, 0), 0.36, 0.36);
        QPainterPath nose;
        const double a = 48 * M_PI / 180;
        nose.moveTo(0.58, 0);
        nose.lineTo(0.36 * std::cos(a), -0.36 * std::sin(a));
        nose.lineTo(0, 0);
        nose.lineTo(0.36 * std::cos(a), 0.36 * std::sin(a));
        nose.closeSubpath();
        return body.united(nose).simplified();
    }();
    return glyph;
}

void vehicleSymbol(QPainter& painter, const QPointF& at, double size, double heading,
                   const QColor& color) {
    painter.save();
    painter.translate(at);
    painter.rotate(heading); // clockwise on the screen, as the heading turns from east
    painter.scale(size, size);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawPath(vehicleGlyph());
    painter.restore();
}

namespace {
// A label with its white halo, drawn once into an image and reused: place names and checkpoint
// labels come back in every redraw.
QImage labelImage(const QString& text, double points, const QColor& color, qreal ratio) {
    static QHash<QString, QImage> cache; // shared by the window and the background renderer
    static QMutex mutex;
    const QMutexLocker lock(&mutex);
    const QString key = text + QLatin1Char('\x1f') + QString::number(points) + QLatin1Char('\x1f') +
                        color.name() + QLatin1Char('\x1f') + QString::number(ratio);
    const auto found = cache.constFind(key);
    if (found != cache.constEnd())
        return *found;
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    font.setPointSizeF(std::max(points, 1.0));
    const QFontMetricsF metrics(font);
    const QRectF box = metrics.boundingRect(text).adjusted(-3, -3, 3, 3);
    QImage image((box.size() * ratio).toSize().expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addText(-box.topLeft(), font, text);
        painter.setPen(QPen(QColor(255, 255, 255, 220), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(path);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawPath(path);
    }
    if (cache.size() > 2000)
        cache.clear();
    cache.insert(key, image);
    return image;
}
} // namespace

QSizeF labelSize(const QString& text, double points, const QColor& color) {
    return QSizeF(labelImage(text, points, color, 1).size());
}

void label(QPainter& painter, const QPointF& at, const QString& text, double points,
           const QColor& color) {
    if (painter.paintEngine() && painter.paintEngine()->type() != QPaintEngine::Raster) {
        // A page (PDF, printer): the outline, sharp at any resolution, centred as the image is.
        QFont font;
        font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
        font.setPointSizeF(std::max(points, 1.0));
        const QRectF box = QFontMetricsF(font).boundingRect(text);
        QPainterPath path;
        path.addText(at - box.center(), font, text);
        painter.strokePath(path, QPen(QColor(255, 255, 255, 220), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.fillPath(path, color);
        return;
    }
    const QImage image = labelImage(text, points, color, painter.device()->devicePixelRatioF());
    const QSizeF size = QSizeF(image.size()) / image.devicePixelRatio();
    painter.drawImage(QPointF(at.x() - size.width() / 2, at.y() - size.height() / 2), image);
}

void picture(QPainter& painter, const QPointF& at, const QImage& image, double size) {
    const QRectF box(at.x() - size / 2, at.y() - size / 2, size, size);
    if (!image.isNull()) {
        painter.drawImage(box, image);
        return;
    }
    painter.save();
    painter.setPen(QPen(QColor(90, 90, 90), 1));
    painter.setBrush(QColor(235, 235, 235));
    painter.drawEllipse(box.adjusted(1, 1, -1, -1));
    painter.drawText(box, Qt::AlignCenter, QStringLiteral("?"));
    painter.restore();
}

} // namespace draw

MapTable* MapScene::createTable() {
    tables_.push_back(std::make_unique<MapTable>());
    return tables_.back().get();
}

const MapScene::Layer* MapScene::layer(const QString& name) const {
    for (const Layer& l : layers_)
        if (l.name == name)
            return &l;
    return nullptr;
}

bool MapScene::isLive(const QString& definition) const {
    const auto cached = definitions_.constFind(definition);
    if (cached == definitions_.constEnd() || !*cached)
        return false;
    const Layer* published = layer((*cached)->name);
    return published && published->live;
}

std::optional<Geometry> MapScene::readGeometry(const QString& text) {
    auto points = parseGeometry(text);
    if (!points)
        return std::nullopt;
    for (QPointF& p : *points)
        p = mercator::project(p.x(), p.y());
    return Geometry(std::move(*points));
}

namespace {
// The player sends one trail text twice: the second is often the very same string.
bool sameText(const QString& a, const QString& b) {
    return a.size() == b.size() && (a.constData() == b.constData() || a == b);
}
} // namespace

bool MapScene::needsReading(const QString& text) const {
    return text.size() >= kReadAside && text.startsWith(u"L E ") &&
           !sameText(text, lastGeometryText_);
}

void MapScene::keepGeometry(const QString& text, std::optional<Geometry> geometry) {
    lastGeometry_ = std::move(geometry);
    lastGeometryText_ = text;
}

std::optional<Geometry> MapScene::projectedGeometry(const QString& text) {
    constexpr qsizetype kLong = 4096; // short ones, checkpoints among them, are read each time
    if (text.size() >= kLong && sameText(text, lastGeometryText_))
        return lastGeometry_;
    std::optional<Geometry> geometry = readGeometry(text);
    if (text.size() >= kLong)
        keepGeometry(text, geometry);
    return geometry;
}

int MapScene::addLayer(const QString& definitionText, const QString& styleText, IMapTable* table) {
    auto cached = definitions_.find(definitionText);
    if (cached == definitions_.end()) {
        if (definitions_.size() > 256)
            definitions_.clear();
        cached = definitions_.insert(definitionText, parseLayerDefinition(definitionText));
    }
    const std::optional<LayerDefinition>& definition = *cached;
    auto* source = dynamic_cast<MapTable*>(table);
    if (!definition || !source)
        return 1;
    Layer layer;
    layer.name = definition->name;
    layer.pointLayer = definition->isPointLayer();
    const int styleField = source->fieldIndex(definition->styleField);
    const std::optional<MapStyle> layerStyle = styleField >= 0 ? std::nullopt : parseStyle(styleText);
    const int geometryField = source->fieldIndex(definition->metricsField);
    const int latitudeField = source->fieldIndex(definition->latitudeField);
    const int longitudeField = source->fieldIndex(definition->longitudeField);
    const int hintField = definition->hintField.isEmpty() ? -1 : source->fieldIndex(definition->hintField);
    int recordNumber = -1;
    for (const QStringList& record : source->records()) {
        ++recordNumber;
        std::optional<MapStyle> style =
            styleField >= 0 ? parseStyle(record.value(styleField)) : layerStyle;
        if (!style)
            continue;
        Feature feature;
        feature.style = *style;
        feature.record = recordNumber;
        if (hintField >= 0)
            feature.hint = record.value(hintField);
        layer.live = layer.live || style->kind == MapStyle::Kind::Symbol;
        if (layer.pointLayer) {
            const auto latitude = parseNumber(record.value(latitudeField));
            const auto longitude = parseNumber(record.value(longitudeField));
            if (!latitude || !longitude || std::abs(*latitude) > 90)
                continue;
            feature.points = Geometry({mercator::project(*longitude, *latitude)});
        } else {
            std::optional<Geometry> geometry = projectedGeometry(record.value(geometryField));
            if (!geometry || geometry->empty())
                continue;
            feature.points = std::move(*geometry); // shared, not copied: a trail's two layers
        }
        layer.features.push_back(std::move(feature));
    }

    size_t position = layers_.size();
    for (size_t i = 0; i < layers_.size(); ++i)
        if (layers_[i].name == layer.name)
            position = i;
    const bool inTheCache = !layer.live || (position < layers_.size() && !layers_[position].live);
    if (position == layers_.size())
        layers_.push_back(std::move(layer));
    else
        layers_[position] = std::move(layer);
    lastPublished_ = position;
    if (inTheCache)
        ++staticRevision_;
    return 0;
}

void MapScene::renderStatic(QPainter& painter, const Viewport& view) const {
    baseMap_.render(painter, view);
    for (const Layer& layer : layers_)
        if (!layer.live)
            renderLayer(painter, view, layer, pictures_);
}

std::shared_ptr<const MapScene::StaticPart> MapScene::staticPart() const {
    if (staticPart_ && staticPartRevision_ == staticRevision_)
        return staticPart_;
    auto part = std::make_shared<StaticPart>(StaticPart{baseMap_, {}, pictures_});
    for (const Layer& layer : layers_)
        if (!layer.live)
            part->layers.push_back(layer);
    staticPart_ = std::move(part);
    staticPartRevision_ = staticRevision_;
    return staticPart_;
}

void MapScene::renderLayers(QPainter& painter, const Viewport& view, const StaticPart& part) {
    for (const Layer& layer : part.layers)
        renderLayer(painter, view, layer, part.pictures);
}

MapScene::Hit MapScene::pictureAt(const Viewport& view, const QPointF& screen) const {
    for (auto layer = layers_.rbegin(); layer != layers_.rend(); ++layer)
        for (auto feature = layer->features.rbegin(); feature != layer->features.rend(); ++feature) {
            if (feature->style.kind != MapStyle::Kind::Picture || feature->points.empty())
                continue;
            const QPointF at = view.toScreen(feature->points.front());
            const double half = feature->style.size / 2;
            if (std::abs(at.x() - screen.x()) <= half && std::abs(at.y() - screen.y()) <= half)
                return {&*layer, &*feature};
        }
    return {};
}

QRectF MapScene::liveBounds(const Viewport& view) const {
    constexpr double kSlack = 3; // antialiasing and rounding
    QRectF all;
    for (const Layer& layer : layers_)
        for (const Feature& feature : layer.features) {
            if (!layer.live || feature.points.empty())
                continue;
            const MapStyle& style = feature.style;
            const QPointF at = view.toScreen(feature.points.front());
            QRectF box;
            switch (style.kind) {
            case MapStyle::Kind::Symbol: { // the glyph's nose reaches 0.58 of its size
                const double reach = 0.6 * style.size;
                box = QRectF(at - QPointF(reach, reach), at + QPointF(reach, reach));
                break;
            }
            case MapStyle::Kind::Text: {
                const QSizeF size = draw::labelSize(style.label, style.size, style.color);
                box = QRectF(at - QPointF(size.width() / 2, size.height() / 2), size);
                break;
            }
            case MapStyle::Kind::Picture:
                box = QRectF(at - QPointF(style.size / 2, style.size / 2), QSizeF(style.size, style.size));
                break;
            case MapStyle::Kind::Line:
            case MapStyle::Kind::Area:
                box = QRectF(view.toScreen(feature.points.bounds().topLeft()),
                             view.toScreen(feature.points.bounds().bottomRight()))
                          .normalized()
                          .adjusted(-style.size, -style.size, style.size, style.size);
                break;
            }
            all |= box.adjusted(-kSlack, -kSlack, kSlack, kSlack);
        }
    return all;
}

void MapScene::renderLive(QPainter& painter, const Viewport& view) const {
    for (const Layer& layer : layers_)
        if (layer.live)
            renderLayer(painter, view, layer, pictures_);
}

void MapScene::renderLayer(QPainter& painter, const Viewport& view, const Layer& layer,
                           const QHash<QString, QImage>& pictures) {
    const QRectF visible = view.visibleMercator();
    const double margin = 50 * view.metresPerPixel();
    const QRectF reach = visible.adjusted(-margin, -margin, margin, margin);
    const double textMargin = 300 * view.metresPerPixel(); // half of a long label
    const QRectF textReach = visible.adjusted(-textMargin, -textMargin, textMargin, textMargin);
    for (const Feature& feature : layer.features) {
        if (!overlaps(feature.style.kind == MapStyle::Kind::Text ? textReach : reach,
                      feature.points.bounds()))
            continue;
        const MapStyle& style = feature.style;
        switch (style.kind) {
        case MapStyle::Kind::Line:
            draw::polyline(painter, view, feature.points,
                           QPen(style.color, std::max(style.size, 0.5), Qt::SolidLine, Qt::RoundCap,
                                Qt::BevelJoin));
            break;
        case MapStyle::Kind::Area: {
            QColor fill = style.color;
            fill.setAlpha(120);
            draw::polygon(painter, view, feature.points.points(), fill, Qt::NoPen);
            break;
        }
        case MapStyle::Kind::Symbol:
            draw::vehicleSymbol(painter, view.toScreen(feature.points.front()), style.size,
                                style.heading, style.color);
            break;
        case MapStyle::Kind::Text:
            draw::label(painter, view.toScreen(feature.points.front()), style.label, style.size,
                        style.color);
            break;
        case MapStyle::Kind::Picture:
            draw::picture(painter, view.toScreen(feature.points.front()), pictures.value(style.label), style.size);
            break;
        }
    }
}
