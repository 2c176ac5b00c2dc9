#include "KmlTripWriter.h"

#include "Computation.h"
#include "TripExport.h"
#include "UtcClock.h"
#include "VantrelError.h"

#include <QXmlStreamWriter>
#include <cmath>
#include <set>

namespace vserver {
namespace {

const QString kKml = QStringLiteral("http://www.opengis.net/kml/2.2");
const QString kGx = QStringLiteral("http://www.google.com/kml/ext/2.2");

// aabbggrr per kind; sensors share one.
QString kindColour(const QString& kind) {
    static const std::map<QString, QString> colours = {
        {QStringLiteral("parks"), QStringLiteral("ffd08000")},
        {QStringLiteral("blinds"), QStringLiteral("ff808080")},
        {QStringLiteral("power_off"), QStringLiteral("ff202020")},
        {QStringLiteral("over_speed"), QStringLiteral("ff0000e0")},
        {QStringLiteral("tank-num1"), QStringLiteral("ff00a000")},
        {QStringLiteral("tank-num2"), QStringLiteral("ff00a0a0")},
        {QStringLiteral("checkpoints-stages"), QStringLiteral("ff00d0ff")},
    };
    const auto found = colours.find(kind);
    return found != colours.end() ? found->second : QStringLiteral("ffa000a0");
}

// A style id is an XML name: the kind's key with anything else replaced.
QString styleId(const QString& kind) {
    QString id = QStringLiteral("kind-") + kind;
    for (QChar& c : id)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != QLatin1Char('-') &&
            c != QLatin1Char('_'))
            c = QLatin1Char('_');
    return id;
}

void text(QXmlStreamWriter& xml, const QString& name, const QString& value) {
    xml.writeTextElement(kKml, name, xmlSafe(value));
}

void timeSpan(QXmlStreamWriter& xml, UtcClock& clock, double begin, double end) {
    xml.writeStartElement(kKml, QStringLiteral("TimeSpan"));
    text(xml, QStringLiteral("begin"), QString::fromLatin1(clock.text(begin)));
    text(xml, QStringLiteral("end"), QString::fromLatin1(clock.text(end)));
    xml.writeEndElement();
}

void data(QXmlStreamWriter& xml, const QString& name, const QString& value) {
    xml.writeStartElement(kKml, QStringLiteral("Data"));
    xml.writeAttribute(QStringLiteral("name"), name);
    text(xml, QStringLiteral("value"), value);
    xml.writeEndElement();
}

void styles(QXmlStreamWriter& xml, const ExportContent& content) {
    xml.writeStartElement(kKml, QStringLiteral("Style"));
    xml.writeAttribute(QStringLiteral("id"), QStringLiteral("trail"));
    xml.writeStartElement(kKml, QStringLiteral("IconStyle"));
    xml.writeStartElement(kKml, QStringLiteral("Icon"));
    text(xml, QStringLiteral("href"),
         QStringLiteral("http://maps.google.com/mapfiles/kml/shapes/track.png"));
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeStartElement(kKml, QStringLiteral("LineStyle"));
    text(xml, QStringLiteral("color"), QStringLiteral("ff0000ff"));
    text(xml, QStringLiteral("width"), QStringLiteral("4"));
    xml.writeEndElement();
    xml.writeEndElement();
    std::set<QString> kinds;
    for (const Trip& trip : content.trips)
        for (const auto& [kind, list] : trip.entries)
            if (!list.empty())
                kinds.insert(kind);
    for (const QString& kind : kinds) {
        xml.writeStartElement(kKml, QStringLiteral("Style"));
        xml.writeAttribute(QStringLiteral("id"), styleId(kind));
        xml.writeStartElement(kKml, QStringLiteral("IconStyle"));
        text(xml, QStringLiteral("color"), kindColour(kind));
        xml.writeStartElement(kKml, QStringLiteral("Icon"));
        text(xml, QStringLiteral("href"),
             QStringLiteral("http://maps.google.com/mapfiles/kml/shapes/placemark_circle.png"));
        xml.writeEndElement();
        xml.writeEndElement();
        xml.writeEndElement();
    }
    xml.writeStartElement(kKml, QStringLiteral("Schema"));
    xml.writeAttribute(QStringLiteral("id"), QStringLiteral("track"));
    for (const auto& [field, shown] :
         {std::pair{"speed_kmh", "Скорость, км/ч"}, std::pair{"course", "Курс, °"}}) {
        xml.writeStartElement(kGx, QStringLiteral("SimpleArrayField"));
        xml.writeAttribute(QStringLiteral("name"), QLatin1String(field));
        xml.writeAttribute(QStringLiteral("type"), QStringLiteral("float"));
        text(xml, QStringLiteral("displayName"), QString::fromUtf8(shown));
        xml.writeEndElement();
    }
    xml.writeEndElement();
}

void track(QXmlStreamWriter& xml, UtcClock& clock, const Trip& trip) {
    xml.writeStartElement(kGx, QStringLiteral("Track"));
    text(xml, QStringLiteral("altitudeMode"), QStringLiteral("clampToGround"));
    for (const TrackPoint& p : trip.points)
        text(xml, QStringLiteral("when"), QString::fromLatin1(clock.text(p.time)));
    for (const TrackPoint& p : trip.points)
        xml.writeTextElement(kGx, QStringLiteral("coord"),
                             QString::number(p.lon, 'f', 7) + QLatin1Char(' ') +
                                 QString::number(p.lat, 'f', 7) + QStringLiteral(" 0"));
    xml.writeStartElement(kKml, QStringLiteral("ExtendedData"));
    xml.writeStartElement(kKml, QStringLiteral("SchemaData"));
    xml.writeAttribute(QStringLiteral("schemaUrl"), QStringLiteral("#track"));
    const std::vector<double> courses = coursesOf(trip.points);
    for (const char* field : {"speed_kmh", "course"}) {
        const bool speeds = field[0] == 's';
        xml.writeStartElement(kGx, QStringLiteral("SimpleArrayData"));
        xml.writeAttribute(QStringLiteral("name"), QLatin1String(field));
        for (size_t i = 0; i < trip.points.size(); ++i) {
            const double value = speeds ? trip.points[i].speed : courses[i];
            xml.writeTextElement(kGx, QStringLiteral("value"),
                                 std::isfinite(value) ? QString::number(value, 'f', 1) : QString());
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndElement();
}

} // namespace

ExportSummary writeKml(const ExportContent& content, QIODevice& out) {
    ExportSummary summary;
    summary.trips = int(content.trips.size());
    UtcClock clock;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(1);
    xml.writeStartDocument();
    xml.writeDefaultNamespace(kKml);
    xml.writeNamespace(kGx, QStringLiteral("gx"));
    xml.writeStartElement(kKml, QStringLiteral("kml"));
    xml.writeStartElement(kKml, QStringLiteral("Document"));
    text(xml, QStringLiteral("name"), content.vehicle());
    styles(xml, content);
    // Two folders, the trips and the entries: readers that take a folder for a layer (GDAL,
    // and the desktop GIS on it) see two layers however many trips the period has.
    xml.writeStartElement(kKml, QStringLiteral("Folder"));
    text(xml, QStringLiteral("name"), QStringLiteral("Рейсы"));
    for (size_t t = 0; t < content.trips.size(); ++t) {
        const Trip& trip = content.trips[t];
        xml.writeStartElement(kKml, QStringLiteral("Placemark"));
        text(xml, QStringLiteral("name"), content.tripName(t));
        text(xml, QStringLiteral("description"), content.tripDescription(t));
        timeSpan(xml, clock, trip.begin, trip.end);
        text(xml, QStringLiteral("styleUrl"), QStringLiteral("#trail"));
        xml.writeStartElement(kKml, QStringLiteral("ExtendedData"));
        data(xml, QStringLiteral("vehicle"), content.vehicle());
        data(xml, QStringLiteral("trip"), QString::number(content.number(t)));
        data(xml, QStringLiteral("duration"), durationText(trip.end - trip.begin));
        data(xml, QStringLiteral("mileage_km"), QString::number(mileageKm(trip), 'f', 3));
        xml.writeEndElement();
        if (!trip.points.empty())
            track(xml, clock, trip);
        xml.writeEndElement();
        summary.points += qint64(trip.points.size());
        if (xml.hasError()) // a full disk stops the export here, not after the last trip
            throw VantrelError(QStringLiteral("Не удалось записать файл KML"));
    }
    xml.writeEndElement();

    xml.writeStartElement(kKml, QStringLiteral("Folder"));
    text(xml, QStringLiteral("name"), QStringLiteral("События"));
    for (size_t t = 0; t < content.trips.size(); ++t) {
        for (const auto& [kind, entry] : entriesInOrder(content.trips[t])) {
            xml.writeStartElement(kKml, QStringLiteral("Placemark"));
            text(xml, QStringLiteral("name"), entryKindName(kind));
            text(xml, QStringLiteral("description"),
                 entryDescription(kind, *entry, content.number(t)));
            timeSpan(xml, clock, entry->begin, entry->end);
            text(xml, QStringLiteral("styleUrl"), QLatin1Char('#') + styleId(kind));
            xml.writeStartElement(kKml, QStringLiteral("ExtendedData"));
            data(xml, QStringLiteral("kind"), kind);
            data(xml, QStringLiteral("trip"), QString::number(content.number(t)));
            data(xml, QStringLiteral("duration"), durationText(entry->end - entry->begin));
            xml.writeEndElement();
            if (hasPosition(entry->lon, entry->lat)) { // without one, a placemark of time alone
                xml.writeStartElement(kKml, QStringLiteral("Point"));
                text(xml, QStringLiteral("coordinates"),
                     QString::number(entry->lon, 'f', 7) + QLatin1Char(',') +
                         QString::number(entry->lat, 'f', 7));
                xml.writeEndElement();
            }
            xml.writeEndElement();
            ++summary.events;
        }
        if (xml.hasError())
            throw VantrelError(QStringLiteral("Не удалось записать файл KML"));
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    if (xml.hasError())
        throw VantrelError(QStringLiteral("Не удалось записать файл KML"));
    return summary;
}

} // namespace vserver
