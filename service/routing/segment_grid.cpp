#include "service/routing/segment_grid.h"

#include "service/map/geo.h"
#include "service/map/huge_pages.h"
#include "service/map/map_error.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace tw::service {

namespace {

constexpr double kMetresPerDegree = 111195.0;
constexpr double kRad = 3.14159265358979323846 / 180.0;
constexpr int kMaxSide = 4096;

struct Projected {
    double t;       // 0..1 along the segment
    double metres;  // from the query
};

// Nearest point of segment a-b to q, in a flat projection around q.
Projected project(Coordinate q, Coordinate a, Coordinate b)
{
    const double kx = kMetresPerDegree * std::cos(q.lat * kRad);
    const double ax = (a.lon - q.lon) * kx;
    const double ay = (a.lat - q.lat) * kMetresPerDegree;
    const double bx = (b.lon - q.lon) * kx;
    const double by = (b.lat - q.lat) * kMetresPerDegree;
    const double dx = bx - ax;
    const double dy = by - ay;
    const double length2 = dx * dx + dy * dy;
    double t = length2 > 0.0 ? -(ax * dx + ay * dy) / length2 : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    const double px = ax + t * dx;
    const double py = ay + t * dy;
    return {t, std::sqrt(px * px + py * py)};
}

SegmentHit hitOn(const RoadMap& map, EdgeId edge, std::uint32_t segment, const Projected& p)
{
    const auto shape = map.edgeShape(edge);
    const Coordinate a = shape[segment];
    const Coordinate b = shape[segment + 1];
    SegmentHit hit;
    hit.edge = edge;
    hit.metres = p.metres;
    hit.point = Coordinate{a.lat + (b.lat - a.lat) * p.t, a.lon + (b.lon - a.lon) * p.t};
    const double total = polylineMetres(shape);
    if (total > 0.0) {
        const double before = polylineMetres(shape.subspan(0, segment + 1));
        hit.fraction = std::clamp((before + distanceMetres(a, b) * p.t) / total, 0.0, 1.0);
    }
    return hit;
}

}  // namespace

SegmentHit nearestOnEdge(const RoadMap& map, EdgeId edge, Coordinate where)
{
    const auto shape = map.edgeShape(edge);
    std::uint32_t bestSegment = 0;
    Projected best{0.0, std::numeric_limits<double>::infinity()};
    for (std::uint32_t i = 0; i + 1 < shape.size(); ++i) {
        const Projected p = project(where, shape[i], shape[i + 1]);
        if (p.metres < best.metres) {
            best = p;
            bestSegment = i;
        }
    }
    return hitOn(map, edge, bestSegment, best);
}

std::optional<SegmentHit> nearerHit(const std::optional<SegmentHit>& a, const SegmentHit& b)
{
    if (!a || b.metres < a->metres) {
        return b;
    }
    return a;
}

int SegmentGrid::columnOf(double lon) const
{
    const double c = std::floor((lon - m_minLon) / m_cellLon);
    return static_cast<int>(std::clamp(c, 0.0, static_cast<double>(m_columns - 1)));
}

int SegmentGrid::rowOf(double lat) const
{
    const double r = std::floor((lat - m_minLat) / m_cellLat);
    return static_cast<int>(std::clamp(r, 0.0, static_cast<double>(m_rows - 1)));
}

void SegmentGrid::build(const RoadMap& map, const std::function<bool(EdgeId)>& include)
{
    std::vector<EdgeId> indexed;
    double minLat = 90.0;
    double maxLat = -90.0;
    double minLon = 180.0;
    double maxLon = -180.0;
    std::size_t segments = 0;
    for (EdgeId id = 0; id < map.edges.size(); ++id) {
        const Edge& e = map.edges[id];
        if ((e.twin != kNoId && e.twin < id) || !include(id)) {
            continue;
        }
        indexed.push_back(id);
        for (const Coordinate& c : map.edgeShape(id)) {
            minLat = std::min(minLat, c.lat);
            maxLat = std::max(maxLat, c.lat);
            minLon = std::min(minLon, c.lon);
            maxLon = std::max(maxLon, c.lon);
        }
        segments += e.shapeCount - 1;
    }
    m_entries.clear();
    m_firstEntry.clear();
    m_columns = 0;
    m_rows = 0;
    if (indexed.empty()) {
        return;
    }
    // About two segments per cell, cells square on the ground.
    const double cosLat = std::max(0.01, std::cos((minLat + maxLat) / 2 * kRad));
    const double heightMetres = std::max(1.0, (maxLat - minLat) * kMetresPerDegree);
    const double widthMetres = std::max(1.0, (maxLon - minLon) * kMetresPerDegree * cosLat);
    double side = std::sqrt(heightMetres * widthMetres / (static_cast<double>(segments) / 2.0 + 1.0));
    side = std::max({side, heightMetres / kMaxSide, widthMetres / kMaxSide, 1.0});
    m_minLat = minLat;
    m_minLon = minLon;
    m_cellLat = side / kMetresPerDegree;
    m_cellLon = side / (kMetresPerDegree * cosLat);
    m_rows = std::clamp(static_cast<int>(heightMetres / side) + 1, 1, kMaxSide);
    m_columns = std::clamp(static_cast<int>(widthMetres / side) + 1, 1, kMaxSide);
    const double maxCos = std::max(0.01, std::min(std::cos(minLat * kRad), std::cos(maxLat * kRad)));
    m_cellMetres = std::min(side, m_cellLon * kMetresPerDegree * maxCos);

    auto forEachCell = [&](EdgeId id, auto&& visit) {
        const auto shape = map.edgeShape(id);
        for (std::uint32_t s = 0; s + 1 < shape.size(); ++s) {
            const int c0 = columnOf(std::min(shape[s].lon, shape[s + 1].lon));
            const int c1 = columnOf(std::max(shape[s].lon, shape[s + 1].lon));
            const int r0 = rowOf(std::min(shape[s].lat, shape[s + 1].lat));
            const int r1 = rowOf(std::max(shape[s].lat, shape[s + 1].lat));
            for (int r = r0; r <= r1; ++r) {
                for (int c = c0; c <= c1; ++c) {
                    visit(cellOf(c, r), Entry{id, s});
                }
            }
        }
    };
    const std::size_t cells = static_cast<std::size_t>(m_rows) * static_cast<std::size_t>(m_columns);
    std::vector<std::uint32_t> firstEntry(cells + 1, 0);
    for (EdgeId id : indexed) {
        forEachCell(id, [&](std::size_t cell, Entry) { ++firstEntry[cell + 1]; });
    }
    for (std::size_t i = 0; i < cells; ++i) {
        firstEntry[i + 1] += firstEntry[i];
    }
    std::vector<Entry> entries;
    assignOnHugePages(entries, firstEntry.back());
    std::vector<std::uint32_t> fill(firstEntry.begin(), firstEntry.end() - 1);
    for (EdgeId id : indexed) {
        forEachCell(id, [&](std::size_t cell, Entry entry) { entries[fill[cell]++] = entry; });
    }
    m_firstEntry = std::move(firstEntry);
    m_entries = std::move(entries);
}

SegmentGrid::Frame SegmentGrid::frame() const
{
    return Frame{m_minLat, m_minLon, m_cellLat, m_cellLon, m_cellMetres, m_columns, m_rows};
}

void SegmentGrid::adopt(const Frame& frame, MapArray<std::uint32_t> firstEntries, MapArray<Entry> entries,
                        const RoadMap& map, bool checkedBefore)
{
    const auto fault = [](const char* what) { return MapError(std::string("its road grid ") + what); };
    const bool empty = frame.columns == 0 && frame.rows == 0;
    if (!empty
        && (frame.columns < 1 || frame.rows < 1 || frame.columns > kMaxSide || frame.rows > kMaxSide
            || !std::isfinite(frame.minLat) || !std::isfinite(frame.minLon) || !(frame.cellLat > 0.0)
            || !(frame.cellLon > 0.0) || !std::isfinite(frame.cellLat) || !std::isfinite(frame.cellLon)
            || !(frame.cellMetres > 0.0) || !std::isfinite(frame.cellMetres))) {
        throw fault("has a damaged frame");
    }
    const std::size_t cells = static_cast<std::size_t>(frame.rows) * static_cast<std::size_t>(frame.columns);
    if (empty ? !(firstEntries.empty() && entries.empty())
              : firstEntries.size() != cells + 1 || firstEntries.front() != 0
                    || firstEntries.back() != entries.size()) {
        throw fault("does not fit its frame");
    }
    for (std::size_t i = 0; i < cells && !checkedBefore; ++i) {
        if (firstEntries[i] > firstEntries[i + 1]) {
            throw fault("index is not ascending");
        }
    }
    for (const Entry& entry : checkedBefore ? std::span<const Entry>() : std::span<const Entry>(entries)) {
        if (entry.edge >= map.edges.size()) {
            throw fault("names a road the map does not have");
        }
    }
    m_minLat = frame.minLat;
    m_minLon = frame.minLon;
    m_cellLat = frame.cellLat;
    m_cellLon = frame.cellLon;
    m_cellMetres = frame.cellMetres;
    m_columns = frame.columns;
    m_rows = frame.rows;
    m_firstEntry = std::move(firstEntries);
    m_entries = std::move(entries);
}

std::optional<SegmentHit> SegmentGrid::nearest(const RoadMap& map, Coordinate where) const
{
    return nearest(map, where, {});
}

std::optional<SegmentHit> SegmentGrid::nearest(const RoadMap& map, Coordinate where,
                                               const std::function<bool(EdgeId)>& accept) const
{
    if (m_columns == 0) {
        return std::nullopt;
    }
    const int column = columnOf(where.lon);
    const int row = rowOf(where.lat);
    std::optional<Entry> bestEntry;
    Projected best{0.0, std::numeric_limits<double>::infinity()};
    auto visitCell = [&](int c, int r) {
        if (c < 0 || r < 0 || c >= m_columns || r >= m_rows) {
            return;
        }
        const std::size_t cell = cellOf(c, r);
        for (std::uint32_t i = m_firstEntry[cell]; i < m_firstEntry[cell + 1]; ++i) {
            const Entry& entry = m_entries[i];
            if (accept && !accept(entry.edge)) {
                continue;
            }
            const auto shape = map.edgeShape(entry.edge);
            if (entry.segment >= shape.size() - 1) {
                continue;  // only from a damaged prepared file
            }
            const Projected p = project(where, shape[entry.segment], shape[entry.segment + 1]);
            if (p.metres < best.metres || (p.metres == best.metres && bestEntry && entry.edge < bestEntry->edge)) {
                best = p;
                bestEntry = entry;
            }
        }
    };
    const int maxRing = std::max(m_columns, m_rows);
    for (int ring = 0; ring <= maxRing; ++ring) {
        if (ring == 0) {
            visitCell(column, row);
        } else {
            for (int d = -ring; d <= ring; ++d) {
                visitCell(column + d, row - ring);
                visitCell(column + d, row + ring);
            }
            for (int d = -ring + 1; d <= ring - 1; ++d) {
                visitCell(column - ring, row + d);
                visitCell(column + ring, row + d);
            }
        }
        // Anything in a farther ring is at least `ring` whole cells away.
        if (bestEntry && best.metres <= ring * m_cellMetres) {
            break;
        }
    }
    if (!bestEntry) {
        return std::nullopt;
    }
    return hitOn(map, bestEntry->edge, bestEntry->segment, best);
}

}  // namespace tw::service
