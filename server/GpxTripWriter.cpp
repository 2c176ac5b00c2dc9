#include "GpxTripWriter.h"

#include "TripExport.h"
#include "UtcClock.h"
#include "VantrelError.h"

#include <QXmlStreamWriter>
#include <algorithm>
#include <cmath>

namespace vserver {
namespace {

const QString kGpx = QStringLiteral("http://www.topografix.com/GPX/1/1");
const QString kTpx = QStringLiteral("http://www.garmin.com/xmlschemas/TrackPointExtension/v2");
const QString kXsi = QStringLiteral("http://www.w3.org/2001/XMLSchema-instance");

QString degrees(double value) {
    return QString::number(value, 'f', 7);
}

void text(QXmlStreamWriter& xml, const QString& name, const QString& value) {
    xml.writeTextElement(kGpx, name, xmlSafe(value));
}

void place(QXmlStreamWriter& xml, double lon, double lat) {
    xml.writeAttribute(QStringLiteral("lat"), degrees(lat));
    xml.writeAttribute(QStringLiteral("lon"), degrees(lon));
}

void metadata(QXmlStreamWriter& xml, const ExportContent& content) {
    double minLat = 90, maxLat = -90, minLon = 180, maxLon = -180;
    for (const Trip& trip : content.trips)
        for (const TrackPoint& p : trip.points) {
            minLat = std::min(minLat, p.lat), maxLat = std::max(maxLat, p.lat);
            minLon = std::min(minLon, p.lon), maxLon = std::max(maxLon, p.lon);
        }
    xml.writeStartElement(kGpx, QStringLiteral("metadata"));
    text(xml, QStringLiteral("name"), content.vehicle());
    const int first = content.number(0), last = content.number(content.trips.size() - 1);
    text(xml, QStringLiteral("desc"),
         (first == last ? QStringLiteral("Рейс %1").arg(first)
                        : QStringLiteral("Рейсы %1–%2").arg(first).arg(last)) +
             QStringLiteral(", прибор %1").arg(content.car.device));
    if (minLat <= maxLat) {
        xml.writeEmptyElement(kGpx, QStringLiteral("bounds"));
        xml.writeAttribute(QStringLiteral("minlat"), degrees(minLat));
        xml.writeAttribute(QStringLiteral("minlon"), degrees(minLon));
        xml.writeAttribute(QStringLiteral("maxlat"), degrees(maxLat));
        xml.writeAttribute(QStringLiteral("maxlon"), degrees(maxLon));
    }
    xml.writeEndElement();
}

} // namespace

ExportSummary writeGpx(const ExportContent& content, QIODevice& out) {
    ExportSummary summary;
    summary.trips = int(content.trips.size());
    UtcClock clock;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(1);
    xml.writeStartDocument();
    xml.writeDefaultNamespace(kGpx);
    xml.writeNamespace(kTpx, QStringLiteral("gpxtpx"));
    xml.writeNamespace(kXsi, QStringLiteral("xsi"));
    xml.writeStartElement(kGpx, QStringLiteral("gpx"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.1"));
    xml.writeAttribute(QStringLiteral("creator"), QStringLiteral("Vantrel"));
    xml.writeAttribute(
        kXsi, QStringLiteral("schemaLocation"),
        kGpx + QStringLiteral(" http://www.topografix.com/GPX/1/1/gpx.xsd ") + kTpx +
            QStringLiteral(" http://www.garmin.com/xmlschemas/TrackPointExtensionv2.xsd"));
    metadata(xml, content);

    // GPX lists every waypoint before any track.
    for (size_t t = 0; t < content.trips.size(); ++t)
        for (const auto& [kind, entry] : entriesInOrder(content.trips[t])) {
            if (!hasPosition(entry->lon, entry->lat))
                continue; // a waypoint must have a place
            xml.writeStartElement(kGpx, QStringLiteral("wpt"));
            place(xml, entry->lon, entry->lat);
            text(xml, QStringLiteral("time"), QString::fromLatin1(clock.text(entry->begin)));
            text(xml, QStringLiteral("name"), entryKindName(kind));
            text(xml, QStringLiteral("desc"), entryDescription(kind, *entry, content.number(t)));
            text(xml, QStringLiteral("type"), kind);
            xml.writeEndElement();
            ++summary.events;
        }

    for (size_t t = 0; t < content.trips.size(); ++t) {
        const Trip& trip = content.trips[t];
        const std::vector<double> courses = coursesOf(trip.points);
        xml.writeStartElement(kGpx, QStringLiteral("trk"));
        text(xml, QStringLiteral("name"), content.tripName(t));
        text(xml, QStringLiteral("desc"), content.tripDescription(t));
        text(xml, QStringLiteral("number"), QString::number(content.number(t)));
        xml.writeStartElement(kGpx, QStringLiteral("trkseg"));
        for (size_t i = 0; i < trip.points.size(); ++i) {
            const TrackPoint& p = trip.points[i];
            xml.writeStartElement(kGpx, QStringLiteral("trkpt"));
            place(xml, p.lon, p.lat);
            text(xml, QStringLiteral("time"), QString::fromLatin1(clock.text(p.time)));
            const bool speed = std::isfinite(p.speed) && p.speed >= 0,
                       course = std::isfinite(courses[i]);
            if (speed || course) {
                xml.writeStartElement(kGpx, QStringLiteral("extensions"));
                xml.writeStartElement(kTpx, QStringLiteral("TrackPointExtension"));
                if (speed)
                    xml.writeTextElement(kTpx, QStringLiteral("speed"),
                                         QString::number(p.speed / 3.6, 'f', 2));
                if (course) // rounding 359.96 up would leave the schema's [0, 360)
                    xml.writeTextElement(
                        kTpx, QStringLiteral("course"),
                        QString::number(std::min(std::round(courses[i] * 10) / 10, 359.9), 'f', 1));
                xml.writeEndElement();
                xml.writeEndElement();
            }
            xml.writeEndElement();
        }
        xml.writeEndElement();
        xml.writeEndElement();
        summary.points += qint64(trip.points.size());
        if (xml.hasError()) // a full disk stops the export here, not after the last trip
            throw VantrelError(QStringLiteral("Не удалось записать файл GPX"));
    }
    xml.writeEndDocument();
    if (xml.hasError())
        throw VantrelError(QStringLiteral("Не удалось записать файл GPX"));
    return summary;
}

} // namespace vserver
