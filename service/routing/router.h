#pragma once
// Router: snapping coordinates onto the road graph and the fastest route (by
// travel time) between two snapped points, over a RoadMap.
//
// Contract:
// - Construction indexes the map (the TurnModel, a spatial grid over edge
//   segments, and the largest strongly connected component of the turn graph).
//   It keeps a reference to the map, which must outlive the Router.
// - snap() only ever lands on edges inside the largest strongly connected
//   component, so a route between any two snaps exists unless the map is empty;
//   an address on a cut-off fragment snaps to the nearest road that is connected.
// - route() is const and thread-safe: many requests may route at once. It is a
//   bidirectional A* over the TurnModel's states (directed edges), on travel
//   time plus turn costs, with lower bounds from straight-line distance and from
//   landmarks, so it finds exactly the route referenceRoute() finds (the same
//   cost to the decisecond). Construction of a million-junction router takes
//   seconds (the landmark times); small maps are instant.
// - Routes respect one-way rules (the graph holds only legal directions), turn
//   restrictions and barriers (the TurnModel forbids those turns) and never use
//   roads closed to cars (the importer leaves those out).

#include "service/map/geo.h"
#include "service/map/road_map.h"
#include "service/routing/contraction_hierarchy.h"
#include "service/routing/landmarks.h"
#include "service/routing/turn_model.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tw::service {

// A point on an edge: edge `edge` at `fraction` (0 = its source junction, 1 = its
// target junction, measured along its length).
struct Snap {
    EdgeId edge = kNoId;
    double fraction = 0.0;
    Coordinate point;             // the snapped position on the edge
    double distanceMetres = 0.0;  // from the requested coordinate to `point`
};

// A route. `edges` are driven in order; only the part of the first edge after
// `firstFraction` and the part of the last edge before `lastFraction` are
// driven (on a single-edge route both apply to the one edge, first <= last).
struct Route {
    std::vector<EdgeId> edges;
    double firstFraction = 0.0;
    double lastFraction = 1.0;
    double seconds = 0.0;
    double metres = 0.0;
};

// How route() searches. Both find routes of the same cost.
enum class RouteSearch {
    // Bidirectional A* with landmarks: seconds of landmark times at start, no
    // file; a few milliseconds per route on a million junctions.
    Landmarks,
    // Contraction hierarchy (contraction_router.h): prepared once (minutes on
    // large maps) and kept in a file beside the map (prepared_hierarchy.h);
    // well under a millisecond per route.
    Hierarchy,
};

struct RouterOptions {
    RouteSearch search = RouteSearch::Landmarks;
    // For Hierarchy: the map file whose prepared file is read (or made and
    // written); empty prepares in memory only.
    std::string mapPath;
    bool progressOnStderr = false; // while preparing
    // For Hierarchy with a map file that has no current prepared file: prepare
    // it now only when the turn model has at most this many states (seconds of
    // work); a larger map is routed with landmarks until it is prepared on its
    // own (tarnwickley-directions --prepare), which takes minutes.
    std::size_t prepareAtMostStates = static_cast<std::size_t>(-1);
    // For Hierarchy: on a hierarchy of at least this many nodes, work out
    // the distances among its kTopDistanceNodes top nodes on another thread
    // after construction (ContractionHierarchy::keepTopDistances), then map
    // the pages of the prepared file and of the map's cache into the process
    // (mapPagesNow). On a country-size map routes take about half the time
    // once the table is there, and the first routes after a start do not
    // stop for each page they read.
    std::uint32_t topDistancesFromNodes = 1'000'000;
};

// A table of 6 MB, worked out in about a quarter of a second on two cores on
// a ten-million-junction region.
inline constexpr std::uint32_t kTopDistanceNodes = 1000;

class Router {
public:
    // Throws MapError when the options name a damaged prepared file.
    explicit Router(const RoadMap& map, const RouterOptions& options = {});
    ~Router();
    Router(const Router&) = delete;
    Router& operator=(const Router&) = delete;

    // Returns the nearest point to `where` on a connected edge; with a non-zero
    // `street`, only edges with that name id are considered (and, if all of that
    // street lies off the main component, none). Returns nothing when no edge
    // qualifies or `where` is not a finite coordinate.
    std::optional<Snap> snap(Coordinate where, StringId street = 0) const;

    // Returns the fastest route from `from` to `to` (cost as reference_router.h
    // defines it), or nothing when no road connects them (or a snap does not
    // name a valid edge). A route from a point to itself is a single-edge route
    // of zero length.
    std::optional<Route> route(const Snap& from, const Snap& to) const;

    // Returns whether the edge lies in the largest strongly connected component.
    bool isConnected(EdgeId edge) const;

    const RoadMap& map() const { return m_map; }
    const TurnModel& turnModel() const { return m_model; }
    // Returns the hierarchy routes are searched in, null under Landmarks.
    const ContractionHierarchy* hierarchy() const { return m_searched.load(std::memory_order_acquire); }

private:
    struct Grid;

    // What the search without a hierarchy needs besides the model: the
    // landmarks and the straight-line bound.
    void prepareLandmarks();

    // Returns a lower bound of the driving time in deciseconds between two
    // points from their straight-line distance (consistent: never more than
    // any edge's time over that edge's length).
    double lowerBound(double lon1, double lat1, double lon2, double lat2) const;

    const RoadMap& m_map;
    TurnModel m_model;
    std::vector<std::uint8_t> m_edgeInMain;  // per edge: 1 when in the main component
    std::unique_ptr<Grid> m_grid;
    // Node positions for the straight-line bound (degrees; projected on use);
    // only the search without a hierarchy has them.
    std::vector<std::pair<float, float>> m_nodeXY;  // (lon, lat) per node
    double m_metresPerLonDegree = 0.0;
    double m_decisecondsPerMetre = 0.0;  // at the map's highest effective speed
    Landmarks m_landmarks;
    std::optional<ContractionHierarchy> m_hierarchy;
    // The hierarchy routes are searched in: m_hierarchy, then its copy with
    // the top nodes' distances once the thread working them out has made it.
    std::atomic<const ContractionHierarchy*> m_searched{nullptr};
    std::unique_ptr<ContractionHierarchy> m_withTop;
    std::thread m_topTable;
    std::thread m_pagesIn;
    std::atomic<bool> m_stopping{false};
};

}  // namespace tw::service
