#pragma once
// Routing over a ContractionHierarchy of the edge-expanded road graph: every
// state of the TurnModel (a directed road edge, or a restriction copy of one)
// is a node of the hierarchy, and every allowed move a->b an arc of weight
// driveTime(a) + turn cost.
// A node's distance is thus the time at which the driver enters that edge, so
// turn costs and forbidden turns (restrictions, barriers, U-turns) are carried
// exactly, and a path unpacks into the road edges to drive, in order.
//
// Contract:
// - prepareHierarchy() contracts the expanded graph of the model's map; the
//   hierarchy's node ids are the model's state ids.
// - routeWithHierarchy() returns a route of the cost referenceRoute() finds
//   (reference_router.h defines it), as map edges; nothing when no route
//   exists or the hierarchy does not belong to the model (node count differs).

#include "service/map/road_map.h"
#include "service/routing/contraction_hierarchy.h"
#include "service/routing/router.h"
#include "service/routing/turn_model.h"

#include <optional>
#include <vector>

namespace tw::service {

// Returns the arcs of the expanded graph: one per allowed move between the
// model's states (road edges and their restriction copies).
std::vector<WeightedArc> turnArcs(const TurnModel& model);

// Returns where each state lies: the middle of its road (for the hierarchy's
// nested dissection order).
std::vector<ChPosition> turnPositions(const TurnModel& model);

ContractionHierarchy prepareHierarchy(const TurnModel& model, const ChProgress& progress = {});

std::optional<Route> routeWithHierarchy(const TurnModel& model, const ContractionHierarchy& hierarchy,
                                        const Snap& from, const Snap& to);

} // namespace tw::service
