#include "GeoJsonTripWriter.h"

#include "Computation.h"
#include "TripExport.h"
#include "UtcClock.h"
#include "VantrelError.h"

#include <QIODevice>
#include <cmath>

namespace vserver {
namespace {

// A JSON string: quotes, backslashes and control characters escaped.
QByteArray string(const QString& text) {
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\')
            out += '\\', out += c;
        else if (uchar(c) < 0x20)
            out += "\\u00" + QByteArray::number(uchar(c), 16).rightJustified(2, '0');
        else
            out += c;
    }
    return out + '"';
}

// Shortest fixed-point form with at most `decimals` decimals; null for a value that is none.
QByteArray number(double value, int decimals) {
    if (!std::isfinite(value))
        return "null";
    QByteArray text = QByteArray::number(value, 'f', decimals);
    if (text.contains('.')) {
        while (text.endsWith('0'))
            text.chop(1);
        if (text.endsWith('.'))
            text.chop(1);
    }
    return text == "-0" ? "0" : text;
}

QByteArray position(double lon, double lat) {
    return '[' + number(lon, 6) + ',' + number(lat, 6) + ']';
}

class Properties {
public:
    Properties& add(const char* name, const QByteArray& json) {
        text_ += (text_.isEmpty() ? "" : ",") + string(QLatin1String(name)) + ':' + json;
        return *this;
    }
    Properties& add(const char* name, const QString& value) { return add(name, string(value)); }
    QByteArray json() const { return '{' + text_ + '}'; }

private:
    QByteArray text_;
};

QByteArray tripGeometry(const Trip& trip) {
    if (trip.points.empty())
        return "null";
    if (trip.points.size() == 1) // a LineString needs two positions
        return R"({"type":"Point","coordinates":)" +
               position(trip.points[0].lon, trip.points[0].lat) + '}';
    QByteArray out = R"({"type":"LineString","coordinates":[)";
    for (size_t i = 0; i < trip.points.size(); ++i)
        out += (i ? "," : "") + position(trip.points[i].lon, trip.points[i].lat);
    return out + "]}";
}

template <typename Value> QByteArray array(size_t count, Value value) {
    QByteArray out = "[";
    for (size_t i = 0; i < count; ++i)
        out += (i ? "," : "") + value(i);
    return out + ']';
}

} // namespace

ExportSummary writeGeoJson(const ExportContent& content, QIODevice& out) {
    ExportSummary summary;
    summary.trips = int(content.trips.size());
    UtcClock clock;
    const auto utc = [&clock](double value) { return '"' + clock.text(value) + '"'; };
    bool first = true, failed = false;
    const auto put = [&](const QByteArray& bytes) {
        failed = failed || out.write(bytes) != bytes.size();
    };
    const auto feature = [&](const QByteArray& geometry, const Properties& properties) {
        put((first ? "\n" : ",\n") + QByteArrayLiteral(R"({"type":"Feature","geometry":)") +
            geometry + R"(,"properties":)" + properties.json() + '}');
        first = false;
    };
    put(R"({"type":"FeatureCollection","name":)" +
        string(content.vehicle() + QStringLiteral(" — рейсы")) + R"(,"features":[)");
    for (size_t t = 0; t < content.trips.size(); ++t) {
        const Trip& trip = content.trips[t];
        const std::vector<double> courses = coursesOf(trip.points);
        const size_t n = trip.points.size();
        feature(tripGeometry(trip),
                Properties()
                    .add("name", content.tripName(t))
                    .add("vehicle", content.vehicle())
                    .add("plate", content.car.number)
                    .add("device", QByteArray::number(content.car.device))
                    .add("trip", QByteArray::number(content.number(t)))
                    .add("begin", utc(trip.begin))
                    .add("end", utc(trip.end))
                    .add("duration", durationText(trip.end - trip.begin))
                    .add("mileage_km", number(mileageKm(trip), 3))
                    .add("times", array(n, [&](size_t i) { return utc(trip.points[i].time); }))
                    .add("speeds_kmh",
                         array(n, [&](size_t i) { return number(trip.points[i].speed, 1); }))
                    .add("courses", array(n, [&](size_t i) { return number(courses[i], 1); })));
        summary.points += qint64(n);
        for (const auto& [kind, entry] : entriesInOrder(trip)) {
            feature(hasPosition(entry->lon, entry->lat) ? R"({"type":"Point","coordinates":)" +
                                                              position(entry->lon, entry->lat) + '}'
                                                        : QByteArray("null"),
                    Properties()
                        .add("kind", kind)
                        .add("name", entryKindName(kind))
                        .add("trip", QByteArray::number(content.number(t)))
                        .add("begin", utc(entry->begin))
                        .add("end", utc(entry->end))
                        .add("duration", durationText(entry->end - entry->begin))
                        .add("desc", entryDescription(kind, *entry, content.number(t))));
            ++summary.events;
        }
        if (failed) // a full disk stops the export here, not after the last trip
            throw VantrelError(QStringLiteral("Не удалось записать файл GeoJSON"));
    }
    put("\n]}\n");
    if (failed)
        throw VantrelError(QStringLiteral("Не удалось записать файл GeoJSON"));
    return summary;
}

} // namespace vserver
