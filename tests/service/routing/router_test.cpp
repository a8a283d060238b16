// The router against the reference search under the same turn model on random
// maps (with restrictions and barriers), one-way and access rules, snapping that never strands an end on a fragment, and a real extract.

#include "service/generator/synthetic_region.h"
#include "service/map/geo.h"
#include "service/map/map_loader.h"
#include "service/routing/reference_router.h"
#include "service/routing/router.h"
#include "service/routing/segment_grid.h"
#include "tests/service/map/osm_xml.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <queue>
#include <random>
#include <thread>

namespace tw::service {
namespace {

using test::OsmXml;
using test::Tags;
using test::TempFolder;

constexpr double kInfinity = std::numeric_limits<double>::infinity();

RoadMap importText(const OsmXml& xml)
{
    TempFolder folder;
    return loadMap(xml.save(folder / "map.osm"), {ProgressReport::Quiet, CacheUse::Ignore});
}

// A square grid of streets, each block its own way, with random one-ways
// (either direction), speeds, a few private and a few missing blocks, bollards
// on a few junctions and turn restrictions (via a junction and via a block).
OsmXml randomGrid(int side, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> speed(20, 90);
    OsmXml xml;
    auto nodeId = [side](int row, int column) { return static_cast<std::int64_t>(row * side + column + 1); };
    for (int r = 0; r < side; ++r) {
        for (int c = 0; c < side; ++c) {
            xml.node(nodeId(r, c), 41.0 + r * 0.001, -99.0 + c * 0.0013,
                     percent(random) < 2 ? Tags{{"barrier", "bollard"}} : Tags{});
        }
    }
    std::int64_t way = 1;
    std::vector<std::vector<std::pair<std::int64_t, std::int64_t>>> waysAt(side * side + 1);  // (way, other end)
    auto block = [&](std::int64_t a, std::int64_t b, const std::string& name) {
        const int roll = percent(random);
        if (roll < 4) {
            return;  // missing block
        }
        Tags tags = {{"highway", roll < 50 ? "residential" : "secondary"}, {"name", name},
                     {"maxspeed", std::to_string(speed(random))}};
        if (roll >= 4 && roll < 8) {
            tags.emplace_back("access", "private");
        } else if (roll < 20) {
            tags.emplace_back("oneway", "yes");
        } else if (roll < 28) {
            tags.emplace_back("oneway", "-1");
        }
        waysAt[a].emplace_back(way, b);
        waysAt[b].emplace_back(way, a);
        xml.way(way++, {a, b}, tags);
    };
    for (int r = 0; r < side; ++r) {
        for (int c = 0; c < side; ++c) {
            if (c + 1 < side) {
                block(nodeId(r, c), nodeId(r, c + 1), "Row " + std::to_string(r) + " Street");
            }
            if (r + 1 < side) {
                block(nodeId(r, c), nodeId(r + 1, c), "Column " + std::to_string(c) + " Avenue");
            }
        }
    }
    const char* const kinds[] = {"no_left_turn", "no_straight_on", "no_u_turn", "only_straight_on", "only_right_turn"};
    std::uniform_int_distribution<std::int64_t> anyNode(1, side * side);
    for (int i = 0; i < side * side / 6; ++i) {
        const std::int64_t via = anyNode(random);
        const auto& ways = waysAt[via];
        if (ways.empty()) {
            continue;
        }
        const auto& from = ways[random() % ways.size()];
        const Tags tags = {{"type", "restriction"}, {"restriction", kinds[random() % 5]}};
        if (i % 3 != 0) {
            xml.relation(1000000 + i, {{"way", from.first, "from"}, {"node", via, "via"},
                                       {"way", ways[random() % ways.size()].first, "to"}}, tags);
            continue;
        }
        const auto& beyond = waysAt[from.second];  // from's far end: the via block leads on from there
        const auto& after = waysAt[via];
        if (beyond.size() > 1) {
            const auto& viaWay = beyond[random() % beyond.size()];
            const auto& next = waysAt[viaWay.second];
            if (viaWay.first != from.first && !next.empty() && !after.empty()) {
                xml.relation(1000000 + i, {{"way", from.first, "to"}, {"way", viaWay.first, "via"},
                                           {"way", next[random() % next.size()].first, "from"}}, tags);
            }
        }
    }
    return xml;
}

// Checks that a route is drivable as given and that its totals add up.
void expectSoundRoute(const Router& router, const Route& route, const Snap& from, const Snap& to)
{
    const RoadMap& map = router.map();
    ASSERT_FALSE(route.edges.empty());
    const EdgeId first = route.edges.front();
    const EdgeId last = route.edges.back();
    EXPECT_TRUE(first == from.edge || first == map.edges[from.edge].twin);
    EXPECT_TRUE(last == to.edge || last == map.edges[to.edge].twin);
    double deciseconds = 0.0;
    for (std::size_t i = 0; i < route.edges.size(); ++i) {
        const Edge& e = map.edges[route.edges[i]];
        if (i + 1 < route.edges.size()) {
            EXPECT_EQ(e.target, map.edges[route.edges[i + 1]].source) << "gap after edge " << i;
        }
        double part = 1.0;
        if (route.edges.size() == 1) {
            part = route.lastFraction - route.firstFraction;
        } else if (i == 0) {
            part = 1.0 - route.firstFraction;
        } else if (i + 1 == route.edges.size()) {
            part = route.lastFraction;
        }
        EXPECT_GE(part, -1e-9);
        deciseconds += e.deciseconds * part;
    }
    EXPECT_GE(route.seconds, deciseconds / 10.0 - 1e-6);
    EXPECT_NEAR(route.seconds, routeCost(router.turnModel(), route) / 10.0, 1e-6) << "turns forbidden or miscounted";
    EXPECT_GE(route.metres, 0.0);
}

// With `topDistances`, the hierarchy's table of its top nodes' distances is
// made and routes are compared once it is in use.
void compareWithBruteForce(const RoadMap& map, int pairs, unsigned seed,
                           RouteSearch search = RouteSearch::Landmarks, bool topDistances = false)
{
    RouterOptions options{search, {}, false};
    options.topDistancesFromNodes = topDistances ? 0 : std::numeric_limits<std::uint32_t>::max();
    const Router router(map, options);
    ASSERT_EQ(router.hierarchy() != nullptr, search == RouteSearch::Hierarchy);
    for (int wait = 0; topDistances && router.hierarchy()->topDistancesKept() == 0 && wait < 3000; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(router.hierarchy() == nullptr || (router.hierarchy()->topDistancesKept() > 0) == topDistances);
    double minLat = 90;
    double maxLat = -90;
    double minLon = 180;
    double maxLon = -180;
    for (const Coordinate& c : map.nodes) {
        minLat = std::min(minLat, c.lat);
        maxLat = std::max(maxLat, c.lat);
        minLon = std::min(minLon, c.lon);
        maxLon = std::max(maxLon, c.lon);
    }
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> lat(minLat, maxLat);
    std::uniform_real_distribution<double> lon(minLon, maxLon);
    for (int i = 0; i < pairs; ++i) {
        const std::optional<Snap> from = router.snap({lat(random), lon(random)});
        const std::optional<Snap> to = router.snap({lat(random), lon(random)});
        ASSERT_TRUE(from && to);
        ASSERT_TRUE(router.isConnected(from->edge) && router.isConnected(to->edge));
        const std::optional<Route> route = router.route(*from, *to);
        ASSERT_TRUE(route.has_value()) << "pair " << i;
        const std::optional<Route> reference = referenceRoute(router.turnModel(), *from, *to);
        ASSERT_TRUE(reference.has_value()) << "pair " << i;
        EXPECT_NEAR(route->seconds, reference->seconds, 1e-6) << "pair " << i;
        expectSoundRoute(router, *route, *from, *to);
    }
}

TEST(Router, EqualsBruteForceDijkstraOnRandomGrids)
{
    for (unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        const RoadMap map = importText(randomGrid(18, seed));
        EXPECT_GT(map.counts.restrictionsUsed, 20u);
        EXPECT_GT(map.counts.barriers, 0u);
        compareWithBruteForce(map, 150, seed);
        compareWithBruteForce(map, 150, seed, RouteSearch::Hierarchy);
        compareWithBruteForce(map, 150, seed, RouteSearch::Hierarchy, true);
    }
}

TEST(Router, EqualsBruteForceDijkstraOnTheSampleTown)
{
    const std::string path = std::string(TW_BINARY_DIR) + "/service/sample-town.osm.pbf";
    if (!std::filesystem::exists(path)) {
        GTEST_SKIP() << "sample town not built at " << path;
    }
    const RoadMap map = loadMap(path, {ProgressReport::Quiet, CacheUse::Ignore});
    compareWithBruteForce(map, 300, 7);
    compareWithBruteForce(map, 300, 7, RouteSearch::Hierarchy);
}

TEST(Router, EqualsBruteForceDijkstraOnALargerGeneratedRegion)
{
    // Large enough for the router to use landmarks.
    TempFolder folder;
    const auto path = folder / "region.osm.pbf";
    writeSyntheticRegion(path, 20000);
    const RoadMap map = loadMap(path.string(), {ProgressReport::Quiet, CacheUse::Ignore});
    ASSERT_GT(map.nodeCount(), 20000u);
    compareWithBruteForce(map, 120, 5);
}

TEST(Router, EqualsBruteForceDijkstraOnALargeRandomGrid)
{
    // Missing, private and one-way blocks leave fragments and dead ends that
    // some landmarks cannot reach.
    const RoadMap map = importText(randomGrid(60, 9));
    ASSERT_GT(map.nodeCount(), 2000u);
    compareWithBruteForce(map, 150, 9);
    compareWithBruteForce(map, 150, 9, RouteSearch::Hierarchy);
    compareWithBruteForce(map, 150, 9, RouteSearch::Hierarchy, true);
}

TEST(Router, SnapsToTheNearestConnectedPointLikeAFullScan)
{
    // Points inside the map, beside it and far outside it.
    const RoadMap map = importText(randomGrid(30, 4));
    const Router router(map);
    std::mt19937 random(4);
    std::uniform_real_distribution<double> lat(40.98, 41.05);
    std::uniform_real_distribution<double> lon(-99.03, -98.94);
    for (int i = 0; i < 300; ++i) {
        const Coordinate where{lat(random), lon(random)};
        double nearest = kInfinity;
        for (EdgeId e = 0; e < map.edges.size(); ++e) {
            if (router.isConnected(e)) {
                nearest = std::min(nearest, nearestOnEdge(map, e, where).metres);
            }
        }
        const auto snap = router.snap(where);
        ASSERT_TRUE(snap.has_value());
        EXPECT_TRUE(router.isConnected(snap->edge));
        EXPECT_NEAR(nearestOnEdge(map, snap->edge, where).metres, nearest, 1e-6) << i;
        EXPECT_NEAR(snap->distanceMetres, distanceMetres(where, snap->point), 1e-6);
    }
    // The grid searched for one street name (how a common name is snapped)
    // finds the nearest point of that name a scan of its edges finds.
    SegmentGrid grid;
    grid.build(map, [&](EdgeId e) { return router.isConnected(e); });
    for (int i = 0; i < 300; ++i) {
        const Coordinate where{lat(random), lon(random)};
        const StringId name = map.edges[random() % map.edges.size()].name;
        double nearest = kInfinity;
        for (EdgeId e : map.streetEdges(name)) {
            if (router.isConnected(e))
                nearest = std::min(nearest, nearestOnEdge(map, e, where).metres);
        }
        const auto hit = grid.nearest(map, where, [&](EdgeId e) { return map.edges[e].name == name; });
        ASSERT_EQ(hit.has_value(), nearest < kInfinity);
        if (hit) {
            EXPECT_EQ(map.edges[hit->edge].name, name);
            EXPECT_NEAR(hit->metres, nearest, 1e-6) << i;
        }
    }
}

TEST(Router, ConcurrentRoutesMatchOneAtATime)
{
    const RoadMap map = importText(randomGrid(60, 12));
    const Router router(map);
    std::mt19937 random(12);
    std::uniform_real_distribution<double> lat(41.0, 41.059);
    std::uniform_real_distribution<double> lon(-99.0, -98.924);
    std::vector<std::pair<Snap, Snap>> pairs;
    std::vector<double> expected;
    for (int i = 0; i < 80; ++i) {
        pairs.emplace_back(*router.snap({lat(random), lon(random)}), *router.snap({lat(random), lon(random)}));
        expected.push_back(router.route(pairs.back().first, pairs.back().second)->seconds);
    }
    std::vector<std::vector<double>> results(4);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < results.size(); ++t) {
        threads.emplace_back([&, t] {
            // Each thread walks the pairs in its own order.
            for (std::size_t k = 0; k < pairs.size(); ++k) {
                const std::size_t i = (k * (t + 1) * 7 + t) % pairs.size();
                const auto route = router.route(pairs[i].first, pairs[i].second);
                results[t].push_back(route ? route->seconds - expected[i] : kInfinity);
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    for (const auto& differences : results) {
        for (double d : differences) {
            EXPECT_EQ(d, 0.0);
        }
    }
}

// Junctions 1 (west) and 2 (east) joined by a fast one-way street from east to
// west and a private shortcut; the public detour runs 1-3-4-2 to the north.
OsmXml oneWayTown()
{
    OsmXml xml;
    xml.node(1, 41.0, -99.0).node(2, 41.0, -98.99).node(3, 41.01, -99.0).node(4, 41.01, -98.99);
    xml.node(5, 40.999, -98.995);
    xml.way(1, {2, 1}, {{"highway", "primary"}, {"oneway", "yes"}, {"name", "Westbound Way"}});
    xml.way(2, {1, 3, 4, 2}, {{"highway", "residential"}, {"name", "Detour Drive"}});
    xml.way(3, {1, 5, 2}, {{"highway", "primary"}, {"access", "private"}, {"name", "Gated Lane"}});
    return xml;
}

bool usesWay(const RoadMap& map, const Route& route, std::int64_t way)
{
    return std::any_of(route.edges.begin(), route.edges.end(),
                       [&](EdgeId e) { return map.edges[e].wayId == way; });
}

TEST(Router, KeepsToOneWaysAndNeverUsesPrivateRoads)
{
    const RoadMap map = importText(oneWayTown());
    const Router router(map);
    const auto west = router.snap({40.9999, -98.9995});
    const auto east = router.snap({40.9999, -98.9905});
    ASSERT_TRUE(west && east);
    EXPECT_EQ(map.edges[west->edge].wayId, 1);  // the private road is not on the map
    const auto eastbound = router.route(*west, *east);
    ASSERT_TRUE(eastbound.has_value());
    EXPECT_TRUE(usesWay(map, *eastbound, 2));
    EXPECT_FALSE(usesWay(map, *eastbound, 3));
    EXPECT_GT(eastbound->metres, 2000.0);
    const auto westbound = router.route(*east, *west);
    ASSERT_TRUE(westbound.has_value());
    EXPECT_FALSE(usesWay(map, *westbound, 2));
    EXPECT_EQ(westbound->edges.size(), 1u);
    EXPECT_LT(westbound->metres, 900.0);
}

TEST(Router, RoutesWithinOneEdgeInEitherDirection)
{
    const RoadMap map = importText(oneWayTown());
    const Router router(map);
    struct Case {
        const char* name;
        Coordinate from;
        Coordinate to;
        bool direct;  // reached without passing a junction
    };
    const Case cases[] = {
        {"along the one-way", {41.0, -98.993}, {41.0, -98.997}, true},
        {"against the one-way: around the block", {41.0, -98.997}, {41.0, -98.993}, false},
        {"along the two-way", {41.002, -99.0}, {41.008, -99.0}, true},
        {"back along the two-way", {41.008, -99.0}, {41.002, -99.0}, true},
        {"the same point", {41.005, -99.0}, {41.005, -99.0}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto from = router.snap(c.from);
        const auto to = router.snap(c.to);
        ASSERT_TRUE(from && to);
        const auto route = router.route(*from, *to);
        ASSERT_TRUE(route.has_value());
        EXPECT_EQ(route->edges.size() == 1, c.direct);
        EXPECT_NEAR(route->seconds, referenceRoute(router.turnModel(), *from, *to)->seconds, 1e-6);
        expectSoundRoute(router, *route, *from, *to);
        if (c.direct) {
            EXPECT_NEAR(route->metres, distanceMetres(from->point, to->point), 1.0);
        }
    }
}

TEST(Router, SnapsOnlyOntoTheConnectedNetwork)
{
    OsmXml xml = randomGrid(6, 11);
    // A fragment no road leads to, right beside the point we snap from, and a
    // one-way spur out of the grid into a dead end.
    xml.node(501, 40.9990, -99.0).node(502, 40.9990, -98.999);
    xml.way(501, {501, 502}, {{"highway", "residential"}, {"name", "Island Road"}});
    xml.node(503, 41.0, -99.0).node(504, 40.995, -99.0);
    xml.way(502, {503, 504}, {{"highway", "residential"}, {"oneway", "yes"}, {"name", "Dead End Spur"}});
    const RoadMap map = importText(xml);
    const Router router(map);
    auto nameId = [&](const std::string& name) {
        for (StringId s = 1; s < map.strings.size(); ++s) {
            if (map.strings[s] == name) {
                return s;
            }
        }
        return StringId{0};
    };
    const auto nearIsland = router.snap({40.99901, -98.9995});
    ASSERT_TRUE(nearIsland.has_value());
    EXPECT_NE(map.edges[nearIsland->edge].wayId, 501);
    EXPECT_TRUE(router.isConnected(nearIsland->edge));
    const auto nearSpur = router.snap({40.996, -99.00001});
    ASSERT_TRUE(nearSpur.has_value());
    EXPECT_NE(map.edges[nearSpur->edge].wayId, 502);
    EXPECT_FALSE(router.snap({40.999, -98.9995}, nameId("Island Road")).has_value());
    // A street restriction picks that street even where another is nearer.
    const StringId column3 = nameId("Column 3 Avenue");
    ASSERT_NE(column3, 0u);
    const auto onColumn = router.snap({41.0025, -99.0}, column3);
    if (!map.streetEdges(column3).empty() && router.isConnected(map.streetEdges(column3).front())) {
        ASSERT_TRUE(onColumn.has_value());
        EXPECT_EQ(map.edges[onColumn->edge].name, column3);
        EXPECT_GT(onColumn->distanceMetres, 300.0);
    }
}

TEST(Router, RefusesInputItCannotUse)
{
    const RoadMap map = importText(oneWayTown());
    const Router router(map);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(router.snap({nan, -99.0}).has_value());
    EXPECT_FALSE(router.snap({41.0, kInfinity}).has_value());
    EXPECT_FALSE(router.snap({91.0, 0.0}).has_value());
    EXPECT_FALSE(router.snap({41.0, -99.0}, 9999).has_value());
    const Snap good = *router.snap({41.0, -98.995});
    Snap bad = good;
    bad.edge = static_cast<EdgeId>(map.edges.size());
    EXPECT_FALSE(router.route(bad, good).has_value());
    EXPECT_FALSE(router.route(good, bad).has_value());
    bad = good;
    bad.fraction = nan;
    EXPECT_FALSE(router.route(good, bad).has_value());
    bad.fraction = 1.5;
    EXPECT_FALSE(router.route(bad, good).has_value());
    // Far away from everything still snaps to the nearest road.
    EXPECT_TRUE(router.snap({-33.0, 151.0}).has_value());

    RoadMap empty;
    empty.strings = {""};
    empty.firstEdge = {0};
    empty.finishIndexes();
    const Router nothing(empty);
    EXPECT_FALSE(nothing.snap({41.0, -99.0}).has_value());
}

TEST(Router, RoutesBetweenTwoStreetsOfTheRealWestOaklandExtract)
{
    const std::string path = "/usr/share/doc/python-osmnx-doc/examples/tests/input_data/West-Oakland.osm.bz2";
    if (!std::filesystem::exists(path)) {
        GTEST_SKIP() << "West Oakland extract not installed";
    }
    const RoadMap map = loadMap(path, {ProgressReport::Quiet, CacheUse::Ignore});
    const Router router(map);
    // The two connected named streets lying farthest apart.
    std::vector<StringId> streets;
    for (StringId s = 1; s < map.strings.size(); ++s) {
        const auto edges = map.streetEdges(s);
        if (!edges.empty() && router.isConnected(edges.front())) {
            streets.push_back(s);
        }
    }
    ASSERT_GE(streets.size(), 2u);
    double farthest = -1;
    std::pair<StringId, StringId> pair;
    for (StringId a : streets) {
        for (StringId b : streets) {
            const double d = distanceMetres(map.nodes[map.edges[map.streetEdges(a).front()].source],
                                            map.nodes[map.edges[map.streetEdges(b).front()].source]);
            if (d > farthest) {
                farthest = d;
                pair = {a, b};
            }
        }
    }
    const Coordinate fromPoint = map.edgeShape(map.streetEdges(pair.first).front())[0];
    const Coordinate toPoint = map.edgeShape(map.streetEdges(pair.second).front())[0];
    const auto from = router.snap(fromPoint, pair.first);
    const auto to = router.snap(toPoint, pair.second);
    ASSERT_TRUE(from && to);
    const auto route = router.route(*from, *to);
    ASSERT_TRUE(route.has_value()) << map.text(pair.first) << " to " << map.text(pair.second);
    EXPECT_GT(route->metres, farthest * 0.9);
    EXPECT_NEAR(route->seconds, referenceRoute(router.turnModel(), *from, *to)->seconds, 1e-6);
    expectSoundRoute(router, *route, *from, *to);
}

}  // namespace
}  // namespace tw::service
