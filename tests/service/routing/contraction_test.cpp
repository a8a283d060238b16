// The contraction hierarchy, in both orders, with and without the table of its
// top nodes' distances, on random directed graphs (zero
// weights, parallel arcs, self-loops, unreachable parts) against a plain Dijkstra: the same cost
// from several seeded sources to several seeded targets, and a path that
// unpacks into arcs of the input whose weights add up to it; some graphs are
// built with their arcs written to a file as they come and queried from its
// mapping, as a large map's preparation does. Road maps with
// turn restrictions are compared in router_test.cpp.

#include "service/routing/contraction_hierarchy.h"
#include "tests/service/map/osm_xml.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <queue>
#include <random>

namespace tw::service {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

double dijkstra(std::uint32_t n, const std::vector<WeightedArc>& arcs, const std::vector<ChSeed>& sources,
                const std::vector<ChSeed>& targets)
{
    std::vector<std::vector<WeightedArc>> out(n);
    for (const WeightedArc& a : arcs)
        out[a.from].push_back(a);
    std::vector<double> dist(n, kInfinity);
    using Entry = std::pair<double, std::uint32_t>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<>> queue;
    for (const ChSeed& s : sources) {
        if (s.cost < dist[s.node]) {
            dist[s.node] = s.cost;
            queue.emplace(s.cost, s.node);
        }
    }
    while (!queue.empty()) {
        const auto [d, v] = queue.top();
        queue.pop();
        if (d > dist[v])
            continue;
        for (const WeightedArc& a : out[v]) {
            if (d + a.weight < dist[a.to]) {
                dist[a.to] = d + a.weight;
                queue.emplace(dist[a.to], a.to);
            }
        }
    }
    double best = kInfinity;
    for (const ChSeed& t : targets)
        best = std::min(best, dist[t.node] + t.cost);
    return best;
}

TEST(ContractionHierarchy, EqualsDijkstraOnRandomGraphsWithSeeds)
{
    std::mt19937 random(5);
    // The last graph is large enough for rounds whose changes to the lists
    // are shared among the threads.
    for (int graph = 0; graph < 9; ++graph) {
        const std::uint32_t n = graph == 8 ? 40000 : 60 + graph * 40;
        std::uniform_int_distribution<std::uint32_t> node(0, n - 1);
        std::uniform_int_distribution<std::uint32_t> weight(0, graph % 2 == 0 ? 3 : 400);
        std::vector<WeightedArc> arcs;
        for (std::uint32_t i = 0; i < n * 3; ++i) {
            // Mostly local arcs, as on roads, and a few long ones (but for
            // the large graph, whose cuts must stay small to build quickly).
            const std::uint32_t from = node(random);
            const std::uint32_t to = i % 7 == 0 && graph < 8 ? node(random) : (from + 1 + random() % 5) % n;
            arcs.push_back({from, to, weight(random)});
        }
        std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> cheapest;
        for (const WeightedArc& a : arcs) {
            auto [it, fresh] = cheapest.emplace(std::pair{a.from, a.to}, a.weight);
            if (!fresh)
                it->second = std::min(it->second, a.weight);
        }
        // Odd graphs are ordered by a simulated priority, even ones by cuts
        // through node positions (ids in a ring, so local arcs stay short).
        std::vector<ChPosition> positions;
        for (std::uint32_t v = 0; graph % 2 == 0 && v < n; ++v)
            positions.push_back({static_cast<float>(std::cos(v * 6.283 / n)), static_cast<float>(std::sin(v * 6.283 / n))});
        test::TempFolder spill;
        const ContractionHierarchy ch =
            ContractionHierarchy::build(n, arcs, {}, positions, graph % 4 == 0 ? spill.path().string() : "");
        ASSERT_EQ(ch.validate(), "");
        ASSERT_EQ(ch.arcsMapped(), graph % 4 == 0);
        // The same hierarchy with a table of its top nodes' distances, of
        // one node, a few, or every node (a few hundred on the large graph).
        ContractionHierarchy topped = ch;
        const std::uint32_t topSize = std::array<std::uint32_t, 3>{1, 24, std::min(n, 400u)}[graph % 3];
        ASSERT_TRUE(topped.keepTopDistances(topSize));
        ASSERT_EQ(topped.topDistancesKept(), topSize);
        for (int query = 0; query < (graph == 8 ? 120 : 400); ++query) {
            std::vector<ChSeed> sources;
            std::vector<ChSeed> targets;
            for (int k = 0; k <= query % 3; ++k) {
                sources.push_back({node(random), static_cast<double>(random() % 50)});
                targets.push_back({node(random), static_cast<double>(random() % 50)});
            }
            const double expected = dijkstra(n, arcs, sources, targets);
            const std::optional<ChPath> path = (query % 2 == 0 ? ch : topped).shortestPath(sources, targets);
            SCOPED_TRACE("graph " + std::to_string(graph) + " query " + std::to_string(query));
            ASSERT_EQ(path.has_value(), expected < kInfinity);
            if (!path)
                continue;
            EXPECT_DOUBLE_EQ(path->cost, expected);
            ASSERT_EQ(path->nodes.front(), sources[path->source].node);
            ASSERT_EQ(path->nodes.back(), targets[path->target].node);
            double cost = sources[path->source].cost + targets[path->target].cost;
            for (std::size_t i = 1; i < path->nodes.size(); ++i) {
                const auto arc = cheapest.find({path->nodes[i - 1], path->nodes[i]});
                ASSERT_NE(arc, cheapest.end()) << "no such arc";
                cost += arc->second;
            }
            EXPECT_DOUBLE_EQ(cost, expected);
        }
    }
}

// A damaged file can pass validate() with a shortcut whose two halves are
// not there: the path is dropped, not walked off the end of a list.
TEST(ContractionHierarchy, AShortcutWithoutItsHalvesGivesNoPath)
{
    const std::vector<std::uint32_t> rank{1, 0, 2};
    const std::vector<ChNode> nodes{{0, 0, 1}, {1, 0, 0}, {1, 0, 0}};
    const std::vector<ChArc> arcs{{2, 5, 1}};
    const ContractionHierarchy ch = ContractionHierarchy::fromParts(rank, nodes, arcs, nullptr);
    ASSERT_EQ(ch.validate(), "");
    const ChSeed from{0, 0.0};
    const ChSeed to{2, 0.0};
    EXPECT_FALSE(ch.shortestPath({&from, 1}, {&to, 1}).has_value());
}

} // namespace
} // namespace tw::service
