#pragma once
// SegmentGrid: a uniform grid over the segments of the road polylines, for
// finding the nearest point on a road to a coordinate.
//
// Of two twin edges only one is indexed (the road is the same); the router
// reaches the other direction through Edge::twin. Cells are about square on
// the ground; a query searches rings of cells outwards and stops once no
// farther ring can hold anything nearer than what it has found.

#include "service/map/road_map.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace tw::service {

struct SegmentHit {
    EdgeId edge = kNoId;
    double fraction = 0.0;  // along the edge's length
    Coordinate point;
    double metres = 0.0;    // from the query to `point` (local flat projection)
};

// Returns the point of `edge` nearest to `where`.
SegmentHit nearestOnEdge(const RoadMap& map, EdgeId edge, Coordinate where);

// Returns whichever of the two hits is nearer (a present one over none).
std::optional<SegmentHit> nearerHit(const std::optional<SegmentHit>& a, const SegmentHit& b);

class SegmentGrid {
public:
    // Indexes the edges `include` accepts.
    void build(const RoadMap& map, const std::function<bool(EdgeId)>& include);

    // Returns the nearest indexed point to `where`, or nothing when the grid is
    // empty.
    std::optional<SegmentHit> nearest(const RoadMap& map, Coordinate where) const;

    // Returns the nearest indexed point to `where` on an edge `accept` takes
    // (edges the grid does not index are never returned), or nothing.
    std::optional<SegmentHit> nearest(const RoadMap& map, Coordinate where,
                                      const std::function<bool(EdgeId)>& accept) const;

    // The grid as plain arrays, kept in a prepared file so that a start takes
    // it back instead of building it.
    struct Entry {
        EdgeId edge;
        std::uint32_t segment;  // index of the segment's first point in the edge shape
    };
    struct Frame {
        double minLat;
        double minLon;
        double cellLat;
        double cellLon;
        double cellMetres;
        std::int32_t columns;
        std::int32_t rows;
    };
    Frame frame() const;
    std::span<const std::uint32_t> firstEntries() const { return m_firstEntry; }
    std::span<const Entry> entries() const { return m_entries; }
    // Takes a grid of `map` back from its arrays. Throws MapError when they do
    // not fit the map (the grid is then unchanged). A segment past its edge's
    // shape is skipped where a query meets it. Arrays of a file known sound
    // (`checkedBefore`) have their frame and counts checked only.
    void adopt(const Frame& frame, MapArray<std::uint32_t> firstEntries, MapArray<Entry> entries,
               const RoadMap& map, bool checkedBefore = false);

private:

    std::size_t cellOf(int column, int row) const
    {
        return static_cast<std::size_t>(row) * static_cast<std::size_t>(m_columns) +
               static_cast<std::size_t>(column);
    }
    int columnOf(double lon) const;
    int rowOf(double lat) const;

    double m_minLat = 0.0;
    double m_minLon = 0.0;
    double m_cellLat = 1.0;  // degrees
    double m_cellLon = 1.0;
    double m_cellMetres = 0.0;  // the smaller side of a cell on the ground
    int m_columns = 0;
    int m_rows = 0;
    MapArray<std::uint32_t> m_firstEntry;  // CSR over cells
    MapArray<Entry> m_entries;
};

}  // namespace tw::service
