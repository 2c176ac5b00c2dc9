#include "ExportContent.h"

#include "Computation.h"
#include "DateTimeValue.h"
#include "TripExport.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vserver {

QString ExportContent::vehicle() const {
    const QString name = car.name.trimmed(), plate = car.number.trimmed();
    if (name.isEmpty())
        return plate.isEmpty() ? QStringLiteral("Прибор %1").arg(car.device) : plate;
    return plate.isEmpty() || name.contains(plate) ? name : name + QLatin1Char(' ') + plate;
}

QString ExportContent::tripName(size_t t) const {
    return vehicle() + QStringLiteral(" — рейс ") + QString::number(number(t));
}

QString ExportContent::tripDescription(size_t t) const {
    const Trip& trip = trips[t];
    return datetime::formatText(trip.begin) + QStringLiteral(" – ") +
           datetime::formatText(trip.end) + QStringLiteral(", пробег ") +
           QString::number(mileageKm(trip), 'f', 3) + QStringLiteral(" км");
}

bool hasPosition(double lon, double lat) {
    return std::isfinite(lon) && std::isfinite(lat) && std::abs(lat) <= 90 &&
           std::abs(lon) <= 180 && !(lon == 0 && lat == 0);
}

double mileageKm(const Trip& trip) {
    if (trip.points.empty())
        return 0;
    const double metres = trip.points.back().mileage - trip.points.front().mileage;
    return std::isfinite(metres) && metres > 0 ? metres / 1000 : 0;
}

std::vector<double> coursesOf(const std::vector<TrackPoint>& points) {
    constexpr double kMovedMetres = 1;
    std::vector<double> courses(points.size(), kNoValue);
    double last = kNoValue;
    size_t ahead = 0; // the next point that lies elsewhere
    for (size_t i = 0; i < points.size(); ++i) {
        const TrackPoint& p = points[i];
        ahead = std::max(ahead, i + 1);
        while (ahead < points.size() &&
               distanceMetres(p.lon, p.lat, points[ahead].lon, points[ahead].lat) < kMovedMetres)
            ++ahead;
        if (ahead < points.size()) {
            const TrackPoint& q = points[ahead];
            const double toRadians = std::numbers::pi / 180;
            const double y = std::sin((q.lon - p.lon) * toRadians) * std::cos(q.lat * toRadians);
            const double x = std::cos(p.lat * toRadians) * std::sin(q.lat * toRadians) -
                             std::sin(p.lat * toRadians) * std::cos(q.lat * toRadians) *
                                 std::cos((q.lon - p.lon) * toRadians);
            last = std::fmod(std::atan2(y, x) / toRadians + 360, 360);
        }
        courses[i] = last;
    }
    return courses;
}

std::vector<std::pair<QString, const Entry*>> entriesInOrder(const Trip& trip) {
    std::vector<std::pair<QString, const Entry*>> all;
    for (const auto& [key, list] : trip.entries)
        for (const Entry& entry : list)
            all.emplace_back(key, &entry);
    std::stable_sort(all.begin(), all.end(), [](const auto& a, const auto& b) {
        return a.second->begin < b.second->begin;
    });
    return all;
}

QString entryDescription(const QString& kind, const Entry& entry, int tripNumber) {
    return entryKindName(kind) + QStringLiteral(": ") + datetime::formatText(entry.begin) +
           QStringLiteral(" – ") + datetime::formatText(entry.end) + QStringLiteral(" (") +
           durationText(entry.end - entry.begin) + QStringLiteral("), рейс ") +
           QString::number(tripNumber);
}

QString xmlSafe(QString text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() &&
            QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            ++i;
            continue;
        }
        const bool allowed = c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
                             (c >= 0xE000 && c <= 0xFFFD);
        if (!allowed)
            text[i] = QChar(QChar::ReplacementCharacter);
    }
    return text;
}

} // namespace vserver
