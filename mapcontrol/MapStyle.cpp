#include "MapStyle.h"

#include <QRegularExpression>
#include <cmath>

namespace {

const QString kNumber = QStringLiteral("(-?\\d+(?:\\.\\d+)?)");
const QString kColour = QStringLiteral("rgb\\(\\s*(\\d{1,3})\\s*,\\s*(\\d{1,3})\\s*,\\s*(\\d{1,3})\\s*\\)");

std::optional<QColor> colour(const QRegularExpressionMatch& m, int first) {
    const int r = m.captured(first).toInt(), g = m.captured(first + 1).toInt(),
              b = m.captured(first + 2).toInt();
    if (r > 255 || g > 255 || b > 255)
        return std::nullopt;
    return QColor(r, g, b);
}

QString fieldName(const QString& cited) {
    const QString trimmed = cited.trimmed();
    if (trimmed.size() < 3 || !trimmed.startsWith(QLatin1Char('[')) ||
        !trimmed.endsWith(QLatin1Char(']')))
        return QString();
    return trimmed.mid(1, trimmed.size() - 2);
}

QString unquoted(const QString& value) {
    const QString trimmed = value.trimmed();
    if (trimmed.size() >= 2 && trimmed.startsWith(QLatin1Char('\'')) &&
        trimmed.endsWith(QLatin1Char('\'')))
        return trimmed.mid(1, trimmed.size() - 2);
    return trimmed;
}

} // namespace

std::optional<MapStyle> parseStyle(const QString& text) {
    static const QRegularExpression line(QStringLiteral("^\\s*l\\s+") + kColour +
                                         QStringLiteral("\\s+") + kNumber + QStringLiteral("\\s*$"));
    static const QRegularExpression area(QStringLiteral("^\\s*a\\s+") + kColour +
                                         QStringLiteral("\\s+") + kNumber + QStringLiteral("\\s*$"));
    static const QRegularExpression symbol(
        QStringLiteral("^\\s*m\\s+'([^']*)'\\s+(\\d+)\\s+") + kColour + QStringLiteral("\\s+") +
        kNumber + QStringLiteral("\\s+(\\S+)\\s*$"));
    static const QRegularExpression label(QStringLiteral("^\\s*t\\s+'(.*)'\\s+'([^']*)'\\s+") +
                                          kNumber + QStringLiteral("\\s+") + kColour +
                                          QStringLiteral("\\s*$"));
    MapStyle style;
    QRegularExpressionMatch m;
    if ((m = line.match(text)).hasMatch() || (m = area.match(text)).hasMatch()) {
        style.kind = text.trimmed().startsWith(QLatin1Char('l')) ? MapStyle::Kind::Line
                                                                  : MapStyle::Kind::Area;
        const auto c = colour(m, 1);
        if (!c)
            return std::nullopt;
        style.color = *c;
        style.size = m.captured(4).toDouble();
    } else if ((m = symbol.match(text)).hasMatch()) {
        style.kind = MapStyle::Kind::Symbol;
        style.symbolSet = m.captured(1);
        style.symbol = m.captured(2).toInt();
        const auto c = colour(m, 3);
        bool ok = false;
        style.heading = m.captured(7).toDouble(&ok);
        if (!c || !ok || !std::isfinite(style.heading))
            return std::nullopt;
        style.color = *c;
        style.size = m.captured(6).toDouble();
    } else if ((m = label.match(text)).hasMatch()) {
        style.kind = MapStyle::Kind::Text;
        style.label = m.captured(1);
        style.font = m.captured(2);
        style.size = m.captured(3).toDouble();
        const auto c = colour(m, 4);
        if (!c)
            return std::nullopt;
        style.color = *c;
    } else {
        return std::nullopt;
    }
    if (!std::isfinite(style.size) || style.size < 0 || style.size > 1000)
        return std::nullopt;
    return style;
}

std::optional<std::vector<QPointF>> parseGeometry(const QString& text) {
    QStringView view(text);
    view = view.trimmed();
    if (!view.startsWith(u"L E "))
        return std::nullopt;
    view = view.mid(4);
    std::vector<QPointF> points;
    points.reserve(size_t(view.count(u',')) + 1);
    for (QStringView pair : view.tokenize(u',')) {
        pair = pair.trimmed();
        const qsizetype blank = pair.indexOf(u' ');
        if (blank < 0)
            return std::nullopt;
        bool okX = false, okY = false;
        const double x = pair.left(blank).toDouble(&okX);
        const double y = pair.mid(blank + 1).trimmed().toDouble(&okY);
        if (!okX || !okY || !std::isfinite(x) || !std::isfinite(y) || std::abs(y) > 90 ||
            std::abs(x) > 360)
            return std::nullopt;
        points.emplace_back(x, y);
    }
    if (points.empty())
        return std::nullopt;
    return points;
}

std::optional<LayerDefinition> parseLayerDefinition(const QString& text) {
    LayerDefinition definition;
    // Split at ";" outside single quotes.
    QStringList parts;
    QString current;
    bool quoted = false;
    for (const QChar c : text) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (c == QLatin1Char(';') && !quoted) {
            parts << current;
            current.clear();
        } else {
            current += c;
        }
    }
    parts << current;
    for (const QString& part : parts) {
        const int equals = part.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        const QString key = part.left(equals).trimmed();
        const QString value = part.mid(equals + 1);
        if (key == QLatin1String("name")) {
            definition.name = unquoted(value);
        } else if (key == QLatin1String("metrics")) {
            definition.metricsField = fieldName(value);
        } else if (key == QLatin1String("coords")) {
            const QStringList fields = value.split(QLatin1Char(','));
            if (fields.size() != 2)
                return std::nullopt;
            definition.latitudeField = fieldName(fields[0]);
            definition.longitudeField = fieldName(fields[1]);
            if (definition.latitudeField.isEmpty() || definition.longitudeField.isEmpty())
                return std::nullopt;
        } else if (key == QLatin1String("style")) {
            definition.styleField = fieldName(value);
        }
    }
    if (definition.name.isEmpty())
        return std::nullopt;
    if (definition.metricsField.isEmpty() == definition.latitudeField.isEmpty())
        return std::nullopt; // exactly one of a geometry and a point
    return definition;
}
