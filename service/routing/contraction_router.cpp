#include "service/routing/contraction_router.h"

#include <array>
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
    for (std::size_t i = 1; i + 1 < route.edges.size(); ++i) {
        route.metres += map.edges[route.edges[i]].metres;
    }
}

} // namespace

TurnCostFunction routingTurnCosts(const RoadMap& map)
{
    (void)map;
    return [](EdgeId, EdgeId) -> std::uint32_t { return 0; };
}

std::vector<WeightedArc> turnArcs(const RoadMap& map, const TurnCostFunction& turnCost)
{
    std::vector<WeightedArc> arcs;
    arcs.reserve(map.edges.size() * 3);
    for (EdgeId a = 0; a < map.edges.size(); ++a) {
        const Edge& in = map.edges[a];
        for (EdgeId b = map.firstEdge[in.target]; b < map.firstEdge[in.target + 1]; ++b) {
            const std::uint32_t cost = turnCost(a, b);
            if (cost == kForbiddenTurn) {
                continue;
            }
            const std::uint64_t weight = static_cast<std::uint64_t>(in.deciseconds) + cost;
            arcs.push_back(WeightedArc{a, b, static_cast<std::uint32_t>(std::min<std::uint64_t>(weight, 0x7FFFFFFFu))});
        }
    }
    return arcs;
}

ContractionHierarchy prepareHierarchy(const RoadMap& map, const TurnCostFunction& turnCost,
                                      const ChProgress& progress)
{
    return ContractionHierarchy::build(static_cast<std::uint32_t>(map.edges.size()), turnArcs(map, turnCost),
                                       progress);
}

std::optional<Route> routeWithHierarchy(const RoadMap& map, const ContractionHierarchy& hierarchy,
                                        const TurnCostFunction& turnCost, const Snap& from, const Snap& to)
{
    const std::size_t edgeCount = map.edges.size();
    if (hierarchy.nodeCount() != edgeCount || from.edge >= edgeCount || to.edge >= edgeCount
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

    // Otherwise: leave the start's edge at its end, turning onto any edge
    // allowed from there, and enter the end's edge.
    std::vector<ChSeed> sources;
    std::vector<const Start*> sourceStart;
    for (const Start& s : starts) {
        if (s.edge == kNoId) {
            continue;
        }
        const Edge& edge = map.edges[s.edge];
        const double rest = edge.deciseconds * (1.0 - s.fraction);
        for (EdgeId next = map.firstEdge[edge.target]; next < map.firstEdge[edge.target + 1]; ++next) {
            const std::uint32_t cost = turnCost(s.edge, next);
            if (cost != kForbiddenTurn) {
                sources.push_back(ChSeed{next, rest + cost});
                sourceStart.push_back(&s);
            }
        }
    }
    std::vector<ChSeed> targets;
    std::vector<const Start*> targetEnd;
    for (const Start& e : ends) {
        if (e.edge != kNoId) {
            targets.push_back(ChSeed{e.edge, map.edges[e.edge].deciseconds * e.fraction});
            targetEnd.push_back(&e);
        }
    }
    if (std::optional<ChPath> path = hierarchy.shortestPath(sources, targets); path && path->cost < best) {
        best = path->cost;
        const Start& s = *sourceStart[path->source];
        const Start& e = *targetEnd[path->target];
        route.edges.clear();
        route.edges.reserve(path->nodes.size() + 1);
        route.edges.push_back(s.edge);
        route.edges.insert(route.edges.end(), path->nodes.begin(), path->nodes.end());
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
