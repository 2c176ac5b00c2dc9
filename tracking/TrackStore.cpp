#include "TrackStore.h"

#include "LargePages.h"
#include "VantrelError.h"

#include <cmath>

void TrackStore::load(std::vector<double> trackData, int pointCount) {
    if (pointCount < 1)
        throw VantrelError(QStringLiteral("Сервер сообщил неверное число точек трека: %1")
                               .arg(pointCount));
    if (trackData.size() < 5 * static_cast<size_t>(pointCount))
        throw VantrelError(
            QStringLiteral("Сервер передал %1 значений трека вместо %2")
                .arg(trackData.size())
                .arg(5 * static_cast<qint64>(pointCount)));
    for (int p = 0; p < pointCount; ++p) {
        const double* v = &trackData[5 * size_t(p)];
        for (int k = 0; k < 5; ++k)
            if (!std::isfinite(v[k]))
                throw VantrelError(
                    QStringLiteral("Точка трека %1 содержит недопустимое значение").arg(p + 1));
        if (p > 0 && v[0] < v[-5])
            throw VantrelError(
                QStringLiteral("Время точки трека %1 раньше времени предыдущей точки").arg(p + 1));
    }
    trackData.resize(5 * size_t(pointCount));
    TMapPointArray points;
    largepages::reserve(points, size_t(pointCount));
    for (int p = 0; p < pointCount; ++p)
        points.push_back({trackData[5 * size_t(p) + 1], trackData[5 * size_t(p) + 2]});
    TrackPoints = std::move(points);
    TrackData = std::move(trackData);
    PointCount = pointCount;
}

double TrackStore::data(int index) const {
    if (index < 1 || static_cast<size_t>(index) > TrackData.size())
        throw VantrelError(QStringLiteral("Трек не загружен"));
    return TrackData[index - 1];
}
