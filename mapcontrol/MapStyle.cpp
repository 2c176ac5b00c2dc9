#include "MapStyle.h"

#include <QRegularExpression>
#include <QVarLengthArray>
#include <charconv>
#include <cmath>

namespace {

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

std::optional<double> parseNumber(QStringView text) {
    char buffer[64];
    if (text.isEmpty() || text.size() >= qsizetype(sizeof buffer))
        return std::nullopt;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c > 127)
            return std::nullopt;
        buffer[i] = char(c);
    }
    double value = 0;
    const char* end = buffer + text.size();
    const auto [stop, error] = std::from_chars(buffer, end, value);
    if (error != std::errc() || stop != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

namespace {

// "rgb(r,g,b)" with each part 0–255.
std::optional<QColor> parseColour(QStringView text) {
    if (!text.startsWith(u"rgb(") || !text.endsWith(u')'))
        return std::nullopt;
    const QStringView inside = text.mid(4, text.size() - 5);
    int parts[3];
    int n = 0;
    for (QStringView part : inside.tokenize(u',')) {
        const auto value = parseNumber(part.trimmed());
        if (n >= 3 || !value || *value < 0 || *value > 255 || *value != std::floor(*value))
            return std::nullopt;
        parts[n++] = int(*value);
    }
    if (n != 3)
        return std::nullopt;
    return QColor(parts[0], parts[1], parts[2]);
}

// Splits at blanks; a token in single quotes keeps its blanks.
QVarLengthArray<QStringView, 8> tokens(QStringView text) {
    QVarLengthArray<QStringView, 8> result;
    qsizetype i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i].isSpace())
            ++i;
        if (i >= text.size())
            break;
        qsizetype j = i;
        if (text[i] == u'\'') {
            j = text.indexOf(u'\'', i + 1);
            if (j < 0)
                return {};
            ++j;
        } else {
            while (j < text.size() && !text[j].isSpace())
                ++j;
        }
        result.push_back(text.mid(i, j - i));
        i = j;
    }
    return result;
}

bool validSize(double size) { return size >= 0 && size <= 1000; }

std::optional<MapStyle> parseLabelStyle(const QString& text) {
    // The label may hold quotes of its own: it runs to the quote before the font.
    static const QRegularExpression label(QStringLiteral("^\\s*t\\s+'(.*)'\\s+'([^']*)'\\s+(\\S+)\\s+(\\S+)\\s*$"));
    const auto m = label.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    MapStyle style;
    style.kind = MapStyle::Kind::Text;
    style.label = m.captured(1);
    style.font = m.captured(2);
    const auto size = parseNumber(m.capturedView(3));
    const auto colour = parseColour(m.capturedView(4));
    if (!size || !validSize(*size) || !colour)
        return std::nullopt;
    style.size = *size;
    style.color = *colour;
    return style;
}

} // namespace

std::optional<MapStyle> parseStyle(const QString& text) {
    const auto t = tokens(text);
    if (t.empty())
        return std::nullopt;
    MapStyle style;
    if ((t[0] == u"l" || t[0] == u"a") && t.size() == 3) {
        style.kind = t[0] == u"l" ? MapStyle::Kind::Line : MapStyle::Kind::Area;
        const auto colour = parseColour(t[1]);
        const auto size = parseNumber(t[2]);
        if (!colour || !size || !validSize(*size))
            return std::nullopt;
        style.color = *colour;
        style.size = *size;
        return style;
    }
    if (t[0] == u"m" && t.size() == 6) {
        style.kind = MapStyle::Kind::Symbol;
        if (t[1].size() < 2 || !t[1].startsWith(u'\''))
            return std::nullopt;
        style.symbolSet = t[1].mid(1, t[1].size() - 2).toString();
        const auto symbol = parseNumber(t[2]);
        const auto colour = parseColour(t[3]);
        const auto size = parseNumber(t[4]);
        const auto heading = parseNumber(t[5]);
        if (!symbol || !colour || !size || !validSize(*size) || !heading)
            return std::nullopt;
        style.symbol = int(*symbol);
        style.color = *colour;
        style.size = *size;
        style.heading = *heading;
        return style;
    }
    if (t[0] == u"t")
        return parseLabelStyle(text);
    if (t[0] == u"p" && t.size() == 3) {
        style.kind = MapStyle::Kind::Picture;
        style.label = unquoted(t[1].toString());
        const auto size = parseNumber(t[2]);
        if (style.label.isEmpty() || !size || !validSize(*size))
            return std::nullopt;
        style.size = *size;
        return style;
    }
    return std::nullopt;
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
        const auto x = parseNumber(pair.left(blank));
        const auto y = parseNumber(pair.mid(blank + 1).trimmed());
        if (!x || !y || std::abs(*y) > 90 || std::abs(*x) > 360)
            return std::nullopt;
        points.emplace_back(*x, *y);
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
        } else if (key == QLatin1String("hint")) {
            definition.hintField = fieldName(value);
        }
    }
    if (definition.name.isEmpty())
        return std::nullopt;
    if (definition.metricsField.isEmpty() == definition.latitudeField.isEmpty())
        return std::nullopt; // exactly one of a geometry and a point
    return definition;
}
