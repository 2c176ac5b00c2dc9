#include "Coastline.h"

#include <QHash>
#include <algorithm>
#include <cmath>

namespace coastline {
namespace {

size_t key(const QPointF& p) { return qHashMulti(0, p.x(), p.y()); }

// Chains of ways joined end to start.
std::vector<Ring> chains(const std::vector<Ring>& ways) {
    QMultiHash<size_t, size_t> byStart;
    for (size_t i = 0; i < ways.size(); ++i)
        if (ways[i].size() >= 2)
            byStart.insert(key(ways[i].front()), i);
    std::vector<bool> used(ways.size(), false);
    const auto take = [&](const QPointF& from) -> std::optional<size_t> {
        for (auto it = byStart.find(key(from)); it != byStart.end() && it.key() == key(from); ++it)
            if (!used[*it] && ways[*it].front() == from) {
                used[*it] = true;
                return *it;
            }
        return std::nullopt;
    };
    std::vector<Ring> result;
    for (size_t i = 0; i < ways.size(); ++i) {
        if (used[i] || ways[i].size() < 2)
            continue;
        used[i] = true;
        Ring chain = ways[i];
        while (chain.front() != chain.back()) {
            const auto next = take(chain.back());
            if (!next)
                break;
            chain.insert(chain.end(), ways[*next].begin() + 1, ways[*next].end());
        }
        result.push_back(std::move(chain));
    }
    // A chain may also continue one found before it: join those too.
    for (bool joined = true; joined;) {
        joined = false;
        for (size_t a = 0; a < result.size() && !joined; ++a)
            for (size_t b = 0; b < result.size() && !joined; ++b)
                if (a != b && !result[a].empty() && !result[b].empty() && result[a].front() != result[a].back() &&
                    result[a].back() == result[b].front()) {
                    result[a].insert(result[a].end(), result[b].begin() + 1, result[b].end());
                    result.erase(result.begin() + qsizetype(b));
                    joined = true;
                }
    }
    return result;
}

double signedArea(const Ring& ring) {
    double area = 0;
    for (size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++)
        area += (ring[j].x() - ring[i].x()) * (ring[j].y() + ring[i].y());
    return area / 2; // positive when counter-clockwise with y northwards
}

// Positions along the extent's edge, clockwise from its north-west corner.
struct Edge {
    QRectF box; // left..right, top = south (QRectF's top is the smaller y)
    double west() const { return box.left(); }
    double east() const { return box.right(); }
    double south() const { return box.top(); }
    double north() const { return box.bottom(); }
    double perimeter() const { return 2 * (box.width() + box.height()); }

    // The nearest point of the edge, and its position along it.
    std::pair<QPointF, double> nearest(const QPointF& p) const {
        const double x = std::clamp(p.x(), west(), east()), y = std::clamp(p.y(), south(), north());
        const double toNorth = north() - y, toEast = east() - x, toSouth = y - south(), toWest = x - west();
        const double least = std::min({toNorth, toEast, toSouth, toWest});
        const double w = box.width(), h = box.height();
        if (least == toNorth)
            return {{x, north()}, x - west()};
        if (least == toEast)
            return {{east(), y}, w + (north() - y)};
        if (least == toSouth)
            return {{x, south()}, w + h + (east() - x)};
        return {{west(), y}, 2 * w + h + (y - south())};
    }
    QPointF corner(int i) const {
        const QPointF corners[] = {{west(), north()}, {east(), north()}, {east(), south()}, {west(), south()}};
        return corners[i];
    }
    double cornerAt(int i) const {
        const double at[] = {0, box.width(), box.width() + box.height(), 2 * box.width() + box.height()};
        return at[i];
    }
    // How far clockwise `to` lies from `from`.
    double ahead(double from, double to) const {
        const double d = std::fmod(to - from + perimeter(), perimeter());
        return d;
    }
    // The corners passed going clockwise from `from` to `to`.
    void walk(double from, double to, Ring& into) const {
        const double span = ahead(from, to);
        std::vector<std::pair<double, int>> passed;
        for (int i = 0; i < 4; ++i) {
            const double d = ahead(from, cornerAt(i));
            if (d > 0 && d < span)
                passed.push_back({d, i});
        }
        std::sort(passed.begin(), passed.end());
        for (const auto& [d, i] : passed)
            into.push_back(corner(i));
    }
};

} // namespace

Sea build(const std::vector<Ring>& ways, const QRectF& extent) {
    Sea sea;
    std::vector<Ring> open;
    for (Ring& chain : chains(ways)) {
        if (chain.front() == chain.back() && chain.size() >= 4)
            (signedArea(chain) > 0 ? sea.islands : sea.water).push_back(std::move(chain));
        else if (chain.front() != chain.back())
            open.push_back(std::move(chain));
    }
    const QRectF box = extent.normalized();
    if (box.isEmpty())
        return sea;
    const Edge edge{box};
    const double nearEnough = 0.01 * std::max(box.width(), box.height());
    struct End {
        QPointF point;
        double at;
    };
    std::vector<End> entries, exits;
    for (const Ring& chain : open) {
        const auto in = edge.nearest(chain.front()), out = edge.nearest(chain.back());
        const auto far = [&](const QPointF& a, const QPointF& b) {
            return std::hypot(a.x() - b.x(), a.y() - b.y()) > nearEnough && box.contains(a);
        };
        sea.unjoined += far(chain.front(), in.first) || far(chain.back(), out.first);
        entries.push_back({in.first, in.second});
        exits.push_back({out.first, out.second});
    }
    std::vector<bool> used(open.size(), false);
    for (size_t first = 0; first < open.size(); ++first) {
        if (used[first])
            continue;
        Ring ring;
        size_t current = first;
        ring.push_back(entries[first].point);
        for (size_t guard = 0; guard <= open.size(); ++guard) {
            used[current] = true;
            ring.insert(ring.end(), open[current].begin(), open[current].end());
            ring.push_back(exits[current].point);
            // The next coast met going clockwise along the edge, with the water on the right.
            size_t next = first;
            double best = edge.ahead(exits[current].at, entries[first].at);
            for (size_t j = 0; j < open.size(); ++j)
                if (!used[j] && edge.ahead(exits[current].at, entries[j].at) < best) {
                    best = edge.ahead(exits[current].at, entries[j].at);
                    next = j;
                }
            edge.walk(exits[current].at, entries[next].at, ring);
            if (next == first)
                break;
            ring.push_back(entries[next].point);
            current = next;
        }
        sea.water.push_back(std::move(ring));
    }
    if (open.empty() && !sea.islands.empty() && sea.water.empty())
        sea.water.push_back({edge.corner(0), edge.corner(1), edge.corner(2), edge.corner(3)});
    return sea;
}

} // namespace coastline
