// The contraction hierarchy against a plain edge-based Dijkstra on random grids
// with random turn costs, forbidden turns and one-way streets: same cost on
// random pairs, and every route unpacks into connected edges and allowed turns.

#include "service/routing/contraction_router.h"
#include "tests/service/guidance/test_map_builder.h"

#include <gtest/gtest.h>

#include <limits>
#include <queue>
#include <random>

namespace tw::service {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

RoadMap randomGrid(int side, std::mt19937& random)
{
    std::uniform_int_distribution<int> percent(0, 99);
    test::TestMapBuilder builder;
    for (int r = 0; r < side; ++r) {
        for (int c = 0; c < side; ++c) {
            for (const auto& [dr, dc] : {std::pair{0, 1}, std::pair{1, 0}}) {
                if (r + dr >= side || c + dc >= side || percent(random) < 5)
                    continue;
                std::pair<double, double> a{c * 100.0, r * 100.0};
                std::pair<double, double> b{(c + dc) * 100.0, (r + dr) * 100.0};
                const int roll = percent(random);
                if (roll < 10)
                    std::swap(a, b);
                test::RoadStyle style;
                style.speedKmh = 20 + percent(random) % 70;
                builder.road({a, b}, "Street", roll < 20 ? test::Direction::OneWay : test::Direction::TwoWay, style);
            }
        }
    }
    return builder.build();
}

// Turn costs from a hash of the pair; about one turn in eight forbidden, and
// U-turns dearer.
TurnCostFunction randomTurns(const RoadMap& map, unsigned seed)
{
    return [&map, seed](EdgeId a, EdgeId b) -> std::uint32_t {
        const std::uint32_t h = (a * 2654435761u) ^ (b * 40503u + seed) * 2246822519u;
        if ((h >> 7) % 8 == 0)
            return kForbiddenTurn;
        return map.edges[a].twin == b ? 300 + h % 50 : h % 60;
    };
}

// Plain Dijkstra over the road edges: dist[e] is the time at the end of e.
double oracle(const RoadMap& map, const TurnCostFunction& turn, const Snap& from, const Snap& to)
{
    std::vector<double> dist(map.edges.size(), kInfinity);
    using Entry = std::pair<double, EdgeId>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<>> queue;
    const std::pair<EdgeId, double> starts[] = {{from.edge, from.fraction}, {map.edges[from.edge].twin, 1 - from.fraction}};
    const std::pair<EdgeId, double> ends[] = {{to.edge, to.fraction}, {map.edges[to.edge].twin, 1 - to.fraction}};
    double best = kInfinity;
    for (const auto& [s, f] : starts) {
        if (s == kNoId)
            continue;
        dist[s] = map.edges[s].deciseconds * (1 - f);
        queue.emplace(dist[s], s);
        for (const auto& [e, g] : ends)
            if (e == s && f <= g)
                best = std::min(best, map.edges[s].deciseconds * (g - f));
    }
    while (!queue.empty()) {
        const auto [d, e] = queue.top();
        queue.pop();
        if (d > dist[e])
            continue;
        for (const Edge& next : map.outEdges(map.edges[e].target)) {
            const EdgeId n = map.edgeId(next);
            const std::uint32_t cost = turn(e, n);
            if (cost != kForbiddenTurn && d + cost + next.deciseconds < dist[n]) {
                dist[n] = d + cost + next.deciseconds;
                queue.emplace(dist[n], n);
            }
        }
    }
    for (const auto& [t, g] : ends) {
        if (t == kNoId)
            continue;
        for (EdgeId in : map.inEdgeIds(map.edges[t].source)) {
            const std::uint32_t cost = turn(in, t);
            if (cost != kForbiddenTurn)
                best = std::min(best, dist[in] + cost + map.edges[t].deciseconds * g);
        }
    }
    return best;
}

TEST(ContractionRouter, EqualsEdgeBasedDijkstraOnRandomGridsWithTurnCosts)
{
    std::mt19937 random(11);
    for (unsigned seed = 0; seed < 6; ++seed) {
        const RoadMap map = randomGrid(9 + seed, random);
        const TurnCostFunction turn = randomTurns(map, seed);
        const ContractionHierarchy ch = prepareHierarchy(map, turn);
        ASSERT_EQ(ch.validate(), "");
        std::uniform_int_distribution<EdgeId> edge(0, static_cast<EdgeId>(map.edges.size() - 1));
        std::uniform_real_distribution<double> fraction(0.0, 1.0);
        for (int pair = 0; pair < 150; ++pair) {
            const Snap from{edge(random), pair % 10 == 0 ? 1.0 : fraction(random), {}, 0};
            const Snap to{pair % 7 == 0 ? from.edge : edge(random), pair % 10 == 0 ? 0.0 : fraction(random), {}, 0};
            const double expected = oracle(map, turn, from, to);
            const std::optional<Route> route = routeWithHierarchy(map, ch, turn, from, to);
            SCOPED_TRACE("seed " + std::to_string(seed) + " pair " + std::to_string(pair));
            ASSERT_EQ(route.has_value(), expected < kInfinity);
            if (!route)
                continue;
            EXPECT_NEAR(route->seconds * 10, expected, 1e-6);
            // The edges join end to start, every turn is allowed, and their
            // times add up to the route's.
            const auto& edges = route->edges;
            double time = edges.size() == 1
                              ? map.edges[edges[0]].deciseconds * (route->lastFraction - route->firstFraction)
                              : map.edges[edges[0]].deciseconds * (1 - route->firstFraction)
                                    + map.edges[edges.back()].deciseconds * route->lastFraction;
            for (std::size_t i = 1; i < edges.size(); ++i) {
                ASSERT_EQ(map.edges[edges[i - 1]].target, map.edges[edges[i]].source);
                ASSERT_NE(turn(edges[i - 1], edges[i]), kForbiddenTurn);
                time += turn(edges[i - 1], edges[i]) + (i + 1 < edges.size() ? map.edges[edges[i]].deciseconds : 0);
            }
            EXPECT_NEAR(time, expected, 1e-6);
        }
    }
}

TEST(ContractionHierarchy, ValidateRefusesArcsThatDoNotClimb)
{
    const std::vector<std::uint32_t> rank = {1, 0};
    const std::vector<std::uint32_t> first = {0, 1, 1};
    const std::vector<ChArc> arcs = {{1, 5, kChNone}}; // from rank 1 down to rank 0
    const std::vector<std::uint32_t> none = {0, 0, 0};
    const auto ch = ContractionHierarchy::fromParts(rank, first, arcs, none, {}, nullptr);
    EXPECT_NE(ch.validate(), "");
}

} // namespace
} // namespace tw::service
