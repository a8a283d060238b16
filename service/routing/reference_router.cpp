#include "service/routing/reference_router.h"

#include <algorithm>
#include <array>
#include <functional>
#include <limits>
#include <queue>

namespace tw::service {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

double partTime(const RoadMap& map, EdgeId edge, double fraction)
{
    return map.edges[edge].deciseconds * fraction;
}

void finishMetres(const RoadMap& map, Route& route)
{
    if (route.edges.size() == 1) {
        route.metres = map.edges[route.edges.front()].metres * (route.lastFraction - route.firstFraction);
        return;
    }
    route.metres = map.edges[route.edges.front()].metres * (1.0 - route.firstFraction) +
                   map.edges[route.edges.back()].metres * route.lastFraction;
    for (std::size_t i = 1; i + 1 < route.edges.size(); ++i) {
        route.metres += map.edges[route.edges[i]].metres;
    }
}

}  // namespace

std::optional<Route> referenceRoute(const TurnModel& model, const Snap& from, const Snap& to)
{
    const RoadMap& map = model.map();
    if (from.edge >= map.edges.size() || to.edge >= map.edges.size()) {
        return std::nullopt;
    }
    const std::array<std::pair<EdgeId, double>, 2> starts = {
        std::pair{from.edge, from.fraction}, std::pair{map.edges[from.edge].twin, 1.0 - from.fraction}};
    const std::array<std::pair<EdgeId, double>, 2> ends = {
        std::pair{to.edge, to.fraction}, std::pair{map.edges[to.edge].twin, 1.0 - to.fraction}};

    double best = kInfinity;
    Route route;
    for (const auto& [startId, startAt] : starts) {
        for (const auto& [endId, endAt] : ends) {
            if (startId != kNoId && startId == endId && startAt <= endAt &&
                partTime(map, startId, endAt - startAt) < best) {
                best = partTime(map, startId, endAt - startAt);
                route.edges = {startId};
                route.firstFraction = startAt;
                route.lastFraction = endAt;
            }
        }
    }

    const std::size_t states = model.stateCount();
    std::vector<double> dist(states, kInfinity);
    std::vector<StateId> parent(states, kNoId);
    using Entry = std::pair<double, StateId>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<>> queue;
    for (const auto& [startId, startAt] : starts) {
        if (startId != kNoId && partTime(map, startId, 1.0 - startAt) < dist[startId]) {
            dist[startId] = partTime(map, startId, 1.0 - startAt);
            queue.emplace(dist[startId], startId);
        }
    }
    // The best state to leave for the end, and which end edge.
    StateId lastState = kNoId;
    EdgeId lastEdge = kNoId;
    double lastAt = 0.0;
    while (!queue.empty()) {
        // Plain copies, not a structured binding: the lambda below captures
        // them, which clang 14 refuses for bindings.
        const double d = queue.top().first;
        const StateId state = queue.top().second;
        queue.pop();
        if (d > dist[state]) {
            continue;
        }
        model.forEachTurn(state, [&](const TurnModel::Turn& turn) {
            const EdgeId road = model.roadEdge(turn.to);
            for (const auto& [endId, endAt] : ends) {
                const double total = d + turn.cost + partTime(map, road, endAt);
                if (road == endId && total < best) {
                    best = total;
                    lastState = state;
                    lastEdge = endId;
                    lastAt = endAt;
                }
            }
            const double next = d + turn.cost + model.driveTime(turn.to);
            if (next < dist[turn.to]) {
                dist[turn.to] = next;
                parent[turn.to] = state;
                queue.emplace(next, turn.to);
            }
        });
    }
    if (best == kInfinity) {
        return std::nullopt;
    }
    if (lastState != kNoId) {
        route.edges = {lastEdge};
        for (StateId s = lastState; s != kNoId; s = parent[s]) {
            route.edges.push_back(model.roadEdge(s));
        }
        std::reverse(route.edges.begin(), route.edges.end());
        route.firstFraction = route.edges.front() == from.edge ? from.fraction : 1.0 - from.fraction;
        route.lastFraction = lastAt;
    }
    route.seconds = best / 10.0;
    finishMetres(map, route);
    return route;
}

double routeCost(const TurnModel& model, const Route& route)
{
    const RoadMap& map = model.map();
    if (route.edges.empty() || route.edges.front() >= map.edges.size()) {
        return TurnModel::kForbidden;
    }
    if (route.edges.size() == 1) {
        return partTime(map, route.edges.front(), route.lastFraction - route.firstFraction);
    }
    double cost = partTime(map, route.edges.front(), 1.0 - route.firstFraction);
    StateId state = route.edges.front();
    for (std::size_t i = 1; i < route.edges.size(); ++i) {
        const EdgeId next = route.edges[i];
        if (next >= map.edges.size() || map.edges[model.roadEdge(state)].target != map.edges[next].source) {
            return TurnModel::kForbidden;
        }
        const TurnModel::Turn turn = model.turn(state, next);
        if (turn.cost == TurnModel::kForbidden) {
            return TurnModel::kForbidden;
        }
        cost += turn.cost + (i + 1 == route.edges.size() ? partTime(map, next, route.lastFraction)
                                                         : static_cast<double>(map.edges[next].deciseconds));
        state = turn.to;
    }
    return cost;
}

}  // namespace tw::service
