#include "service/routing/contraction_router.h"

#include "service/map/prefetch.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace tw::service {

namespace {

struct Start {
    EdgeId edge;
    double fraction; // where on `edge` the point lies, in its driving direction
};

// The directions a snapped point can be driven in: its edge, and the twin.
std::array<Start, 2> directionsOf(const RoadMap& map, const Snap& snap)
{
    return {Start{snap.edge, snap.fraction}, Start{map.edges[snap.edge].twin, 1.0 - snap.fraction}};
}

void measure(const RoadMap& map, Route& route)
{
    if (route.edges.size() == 1) {
        route.metres = map.edges[route.edges.front()].metres * (route.lastFraction - route.firstFraction);
        return;
    }
    route.metres = map.edges[route.edges.front()].metres * (1.0 - route.firstFraction)
                   + map.edges[route.edges.back()].metres * route.lastFraction;
    constexpr std::size_t kAhead = 16; // each road read is a cache miss on a large map
    for (std::size_t i = 1; i + 1 < route.edges.size(); ++i) {
        if (i + kAhead < route.edges.size()) {
            prefetch(&map.edges[route.edges[i + kAhead]]);
        }
        route.metres += map.edges[route.edges[i]].metres;
    }
}

} // namespace

std::vector<WeightedArc> turnArcs(const TurnModel& model)
{
    std::vector<WeightedArc> arcs;
    const auto states = static_cast<StateId>(model.stateCount());
    arcs.reserve(static_cast<std::size_t>(states) * 3);
    for (StateId a = 0; a < states; ++a) {
        const std::uint32_t drive = model.driveTime(a);
        model.forEachTurn(a, [&](const TurnModel::Turn& turn) {
            const std::uint64_t weight = static_cast<std::uint64_t>(drive) + turn.cost;
            arcs.push_back(WeightedArc{a, turn.to, static_cast<std::uint32_t>(std::min<std::uint64_t>(weight, 0x7FFFFFFFu))});
        });
    }
    return arcs;
}

std::vector<ChPosition> turnPositions(const TurnModel& model)
{
    const RoadMap& map = model.map();
    std::vector<ChPosition> positions(model.stateCount());
    for (StateId state = 0; state < positions.size(); ++state) {
        const Edge& edge = map.edges[model.roadEdge(state)];
        const Coordinate& a = map.nodes[edge.source];
        const Coordinate& b = map.nodes[edge.target];
        // Degrees are a fine plane at the scale of one region. The cuts sort
        // by position, so a coordinate that is not a number must not reach them.
        const auto x = static_cast<float>((a.lon + b.lon) / 2);
        const auto y = static_cast<float>((a.lat + b.lat) / 2);
        positions[state] = std::isfinite(x) && std::isfinite(y) ? ChPosition{x, y} : ChPosition{};
    }
    return positions;
}

ContractionHierarchy prepareHierarchy(const TurnModel& model, const ChProgress& progress)
{
    return ContractionHierarchy::build(static_cast<std::uint32_t>(model.stateCount()), turnArcs(model), progress,
                                       turnPositions(model));
}

std::optional<Route> routeWithHierarchy(const TurnModel& model, const ContractionHierarchy& hierarchy,
                                        const Snap& from, const Snap& to)
{
    const RoadMap& map = model.map();
    const std::size_t edgeCount = map.edges.size();
    if (hierarchy.nodeCount() != model.stateCount() || from.edge >= edgeCount || to.edge >= edgeCount
        || !(from.fraction >= 0.0 && from.fraction <= 1.0) || !(to.fraction >= 0.0 && to.fraction <= 1.0)) {
        return std::nullopt;
    }
    double best = std::numeric_limits<double>::infinity();
    Route route;

    // Straight along the one road from the start to the end.
    const auto starts = directionsOf(map, from);
    const auto ends = directionsOf(map, to);
    for (const Start& s : starts) {
        for (const Start& e : ends) {
            if (s.edge == kNoId || s.edge != e.edge || s.fraction > e.fraction) {
                continue;
            }
            const double time = map.edges[s.edge].deciseconds * (e.fraction - s.fraction);
            if (time < best) {
                best = time;
                route.edges = {s.edge};
                route.firstFraction = s.fraction;
                route.lastFraction = e.fraction;
            }
        }
    }

    // Otherwise: leave the start's edge at its end by any move the model
    // allows, and enter the end's edge (or any restriction copy of it).
    std::vector<ChSeed> sources;
    std::vector<const Start*> sourceStart;
    for (const Start& s : starts) {
        if (s.edge == kNoId) {
            continue;
        }
        const double rest = map.edges[s.edge].deciseconds * (1.0 - s.fraction);
        model.forEachTurn(s.edge, [&](const TurnModel::Turn& turn) {
            sources.push_back(ChSeed{turn.to, rest + turn.cost});
            sourceStart.push_back(&s);
        });
    }
    std::vector<ChSeed> targets;
    std::vector<const Start*> targetEnd;
    for (const Start& e : ends) {
        if (e.edge == kNoId) {
            continue;
        }
        const double part = map.edges[e.edge].deciseconds * e.fraction;
        model.forEachStateOf(e.edge, [&](StateId state) {
            targets.push_back(ChSeed{state, part});
            targetEnd.push_back(&e);
        });
    }
    if (std::optional<ChPath> path = hierarchy.shortestPath(sources, targets); path && path->cost < best) {
        best = path->cost;
        const Start& s = *sourceStart[path->source];
        const Start& e = *targetEnd[path->target];
        route.edges.clear();
        route.edges.reserve(path->nodes.size() + 1);
        route.edges.push_back(s.edge);
        for (const std::uint32_t state : path->nodes) {
            route.edges.push_back(model.roadEdge(state));
        }
        route.firstFraction = s.fraction;
        route.lastFraction = e.fraction;
    }
    if (route.edges.empty()) {
        return std::nullopt;
    }
    route.seconds = best / 10.0;
    measure(map, route);
    return route;
}

} // namespace tw::service
