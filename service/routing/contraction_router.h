#pragma once
// Routing over a ContractionHierarchy of the edge-expanded road graph: every
// directed road edge is a node of the hierarchy, and every allowed turn a->b
// (b leaves the junction a ends at) an arc of weight time(a) + turnCost(a, b).
// A node's distance is thus the time at which the driver enters that edge, so
// turn costs and forbidden turns (restrictions, barriers, U-turns) are carried
// exactly, and a path unpacks into the road edges to drive, in order.
//
// Contract:
// - prepareHierarchy() contracts the edge-expanded graph of `map` under the
//   turn model; the hierarchy's node ids are the map's edge ids.
// - routeWithHierarchy() returns the fastest route between two snapped points
//   that a plain Dijkstra over the same edge-expanded graph finds (same cost),
//   starting in either direction the start's road allows and arriving in either
//   direction the end's road allows; nothing when no route exists or the
//   hierarchy does not belong to the map (node count differs).

#include "service/map/road_map.h"
#include "service/routing/contraction_hierarchy.h"
#include "service/routing/router.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace tw::service {

inline constexpr std::uint32_t kForbiddenTurn = 0xFFFFFFFFu;

// Returns the time in deciseconds to pass from edge `in` onto edge `out` at the
// junction between them, or kForbiddenTurn.
using TurnCostFunction = std::function<std::uint32_t(EdgeId in, EdgeId out)>;

// Returns the turn model the service routes with on `map` (which must outlive
// the function).
TurnCostFunction routingTurnCosts(const RoadMap& map);

// Returns the arcs of the edge-expanded graph (one per allowed turn).
std::vector<WeightedArc> turnArcs(const RoadMap& map, const TurnCostFunction& turnCost);

ContractionHierarchy prepareHierarchy(const RoadMap& map, const TurnCostFunction& turnCost,
                                      const ChProgress& progress = {});

std::optional<Route> routeWithHierarchy(const RoadMap& map, const ContractionHierarchy& hierarchy,
                                        const TurnCostFunction& turnCost, const Snap& from, const Snap& to);

} // namespace tw::service
