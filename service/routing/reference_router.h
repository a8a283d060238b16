#pragma once
// referenceRoute: the fastest route under a TurnModel by the plainest search
// there is, a one-directional Dijkstra over the model's states (directed edges)
// that settles every state it can reach. Slow and obviously right: tests hold
// the production router (and anything faster built later) to its answers.
//
// Cost of a route, in deciseconds, shared by every router of the service:
// - it starts at the snapped point, driving its edge or the edge's twin from
//   there on (no turn cost for choosing the heading);
// - every later edge adds the turn cost onto it (TurnModel::turn) and its
//   driving time, the last edge only the part up to the end point;
// - a start and end on the same road, the end ahead of the start, may be
//   driven directly along it.
// Route::seconds is that cost in seconds; Route::edges are map edges.

#include "service/routing/router.h"
#include "service/routing/turn_model.h"

#include <optional>

namespace tw::service {

// Returns the fastest route from `from` to `to`, or nothing when the model
// allows none (or a snap names no edge of the model's map).
std::optional<Route> referenceRoute(const TurnModel& model, const Snap& from, const Snap& to);

// Returns the cost in deciseconds of driving `route` under `model` (as above),
// or TurnModel::kForbidden when it makes a turn the model forbids or its edges
// do not join. Lets a test check a route by itself, not only its total.
double routeCost(const TurnModel& model, const Route& route);

}  // namespace tw::service
