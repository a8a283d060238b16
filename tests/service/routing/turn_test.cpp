// Turn restrictions, barriers and turn costs as a driver meets them: on small
// hand-made grids, each route against the legal way round.

#include "service/map/map_loader.h"
#include "service/routing/reference_router.h"
#include "service/routing/router.h"
#include "tests/service/map/osm_xml.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace tw::service {
namespace {

using test::OsmXml;
using test::Tags;
using test::TempFolder;

// A side x side grid of two-way residential blocks 130 m apart; node (r, c) is
// r * side + c + 1, row 0 the southmost, column 0 the westmost. Horizontal
// blocks are ways 1000 + node id of their west end ("Row r St"), vertical ones
// 2000 + node id of their south end ("Column c Ave").
struct Grid {
    int side;
    OsmXml xml;

    explicit Grid(int n, const std::vector<std::int64_t>& gates = {}) : side(n)
    {
        for (int r = 0; r < side; ++r) {
            for (int c = 0; c < side; ++c) {
                xml.node(node(r, c), 41.0 + r * 0.00117, -99.0 + c * 0.00156);
            }
        }
        for (std::int64_t gate : gates) {
            // A gate halfway along block `gate` (a horizontal way id).
            const std::int64_t west = gate - 1000;
            xml.node(9000 + west, 41.0 + ((west - 1) / side) * 0.00117, -99.0 + ((west - 1) % side + 0.5) * 0.00156,
                     {{"barrier", "gate"}, {"access", "private"}});
        }
        for (int r = 0; r < side; ++r) {
            for (int c = 0; c < side; ++c) {
                const Tags row = {{"highway", "residential"}, {"name", "Row " + std::to_string(r) + " St"}};
                const Tags column = {{"highway", "residential"}, {"name", "Column " + std::to_string(c) + " Ave"}};
                if (c + 1 < side) {
                    const std::int64_t id = 1000 + node(r, c);
                    const bool gated = std::find(gates.begin(), gates.end(), id) != gates.end();
                    xml.way(id, gated ? std::vector{node(r, c), 9000 + node(r, c), node(r, c + 1)}
                                      : std::vector{node(r, c), node(r, c + 1)},
                            row);
                }
                if (r + 1 < side) {
                    xml.way(2000 + node(r, c), {node(r, c), node(r + 1, c)}, column);
                }
            }
        }
    }

    std::int64_t node(int r, int c) const { return r * side + c + 1; }
    static std::int64_t row(std::int64_t westNode) { return 1000 + westNode; }
    static std::int64_t column(std::int64_t southNode) { return 2000 + southNode; }

    void restrict(std::int64_t id, const char* value, std::int64_t from, std::vector<std::int64_t> via,
                  std::int64_t to, bool viaNode)
    {
        std::vector<OsmXml::Member> members = {{"way", from, "from"}};
        for (std::int64_t v : via) {
            members.push_back({viaNode ? "node" : "way", v, "via"});
        }
        members.push_back({"way", to, "to"});
        xml.relation(id, members, {{"type", "restriction"}, {"restriction", value}});
    }
};

struct Routed {
    RoadMap map;
    std::optional<Route> route;
    std::vector<std::int64_t> ways;  // the OSM ways driven, in order, repeats folded
};

// Routes between the middles of two blocks (named by their way ids).
Routed routeBetween(const OsmXml& xml, std::int64_t fromWay, std::int64_t toWay)
{
    TempFolder folder;
    Routed out{loadMap(xml.save(folder / "grid.osm"), {ProgressReport::Quiet, CacheUse::Ignore}), {}, {}};
    const Router router(out.map);
    auto middleOf = [&](std::int64_t way) {
        for (EdgeId e = 0; e < out.map.edges.size(); ++e) {
            if (out.map.edges[e].wayId == way && router.isConnected(e)) {
                return Snap{e, 0.5, {}, 0.0};
            }
        }
        ADD_FAILURE() << "no edge of way " << way;
        return Snap{};
    };
    const Snap from = middleOf(fromWay);
    const Snap to = middleOf(toWay);
    out.route = router.route(from, to);
    if (out.route) {
        const std::optional<Route> reference = referenceRoute(router.turnModel(), from, to);
        EXPECT_NEAR(out.route->seconds, reference->seconds, 1e-6);
        EXPECT_NEAR(routeCost(router.turnModel(), *out.route), out.route->seconds * 10, 1e-6);
        for (EdgeId e : out.route->edges) {
            if (out.ways.empty() || out.ways.back() != out.map.edges[e].wayId) {
                out.ways.push_back(out.map.edges[e].wayId);
            }
        }
    }
    return out;
}

bool drives(const std::vector<std::int64_t>& ways, std::vector<std::int64_t> sequence)
{
    return std::search(ways.begin(), ways.end(), sequence.begin(), sequence.end()) != ways.end();
}

TEST(Turns, RestrictionsAreObeyedAndOnlyWhereTheyApply)
{
    // 3 x 3 grid, centre node 5. From the block south of the centre (2002,
    // driven north) the shortest way to the block west of it (1004) is a left
    // turn at the centre; to the block east (1005) a right turn.
    struct Case {
        const char* name;
        const char* value;
        std::vector<std::int64_t> via;
        bool viaNode;
        std::int64_t fromWay;  // restriction's from way
        std::int64_t toWay;    // restriction's to way
        std::int64_t routeTo;
        std::vector<std::int64_t> forbidden;  // a way sequence the route must not drive
        std::vector<std::int64_t> taken;      // ... or must drive
    };
    const Case cases[] = {
        {"no left turn: round the block instead", "no_left_turn", {5}, true, 2002, 1004, 1004, {2002, 1004}, {}},
        {"no left turn leaves the right turn", "no_left_turn", {5}, true, 2002, 1004, 1005, {}, {2002, 1005}},
        {"only straight on: no right turn", "only_straight_on", {5}, true, 2002, 2005, 1005, {2002, 1005}, {}},
        {"via way: no left from 2002 after 2005", "no_left_turn", {2005}, false, 2002, 1007, 1007,
         {2002, 2005, 1007}, {}},
        {"no restriction: the left turn", "no_left_turn", {5}, true, 1005, 2005, 1004, {}, {2002, 1004}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Grid grid(3);
        grid.restrict(1, c.value, c.fromWay, c.via, c.toWay, c.viaNode);
        const Routed routed = routeBetween(grid.xml, 2002, c.routeTo);
        ASSERT_TRUE(routed.route.has_value());
        EXPECT_EQ(routed.map.counts.restrictionsUsed, 1u);
        if (!c.forbidden.empty()) {
            EXPECT_FALSE(drives(routed.ways, c.forbidden));
        }
        if (!c.taken.empty()) {
            EXPECT_TRUE(drives(routed.ways, c.taken));
        }
    }
    // A route entering the via block from elsewhere may still turn left.
    Grid grid(3);
    grid.restrict(1, "no_left_turn", 2002, {2005}, 1007, false);
    const Routed routed = routeBetween(grid.xml, 1005, 1007);
    EXPECT_TRUE(drives(routed.ways, {1005, 2005, 1007}));
}

TEST(Turns, AGateClosesAShortcut)
{
    // From the block west of the middle of the bottom row to the block east of
    // it: straight through is shortest, but a private gate sits on 1002.
    Grid open(4);
    EXPECT_TRUE(drives(routeBetween(open.xml, 1001, 1003).ways, {1001, 1002}));
    Grid gated(4, {1002});
    const Routed routed = routeBetween(gated.xml, 1001, 1003);
    ASSERT_TRUE(routed.route.has_value());
    EXPECT_EQ(routed.map.counts.barriers, 1u);
    EXPECT_FALSE(drives(routed.ways, {1002})) << "drove through the gate";
}

TEST(Turns, AStraightRouteAcrossAGridTurnsOnce)
{
    // Equal blocks: without turn costs any staircase is as fast as one corner.
    Grid grid(12);
    const Routed routed = routeBetween(grid.xml, Grid::row(grid.node(0, 0)), Grid::column(grid.node(10, 11)));
    ASSERT_TRUE(routed.route.has_value());
    int turns = 0;
    for (std::size_t i = 1; i < routed.route->edges.size(); ++i) {
        turns += routed.map.edges[routed.route->edges[i]].name != routed.map.edges[routed.route->edges[i - 1]].name;
    }
    EXPECT_EQ(turns, 1);
}

TEST(Turns, ARestrictionOntoAWayRunningThroughTheJunctionTakesTheSideItNames)
{
    // South St ends at the centre (1); Cross St runs on through it, west to east.
    OsmXml xml;
    xml.node(1, 41.0, -99.0).node(2, 40.999, -99.0).node(3, 41.0, -99.0013).node(4, 41.0, -98.9987);
    xml.way(10, {2, 1}, {{"highway", "residential"}});
    xml.way(11, {3, 1, 4}, {{"highway", "residential"}});
    xml.relation(1, {{"way", 10, "from"}, {"node", 1, "via"}, {"way", 11, "to"}},
                 {{"type", "restriction"}, {"restriction", "no_left_turn"}});
    TempFolder folder;
    const RoadMap map = loadMap(xml.save(folder / "cross.osm"), {ProgressReport::Quiet, CacheUse::Ignore});
    ASSERT_EQ(map.counts.restrictionsUsed, 1u);
    const TurnModel model(map);
    auto edge = [&](std::int64_t way, double towardLat, double towardLon) {
        for (EdgeId e = 0; e < map.edges.size(); ++e) {
            const Coordinate to = map.nodes[map.edges[e].target];
            if (map.edges[e].wayId == way && std::abs(to.lat - towardLat) < 1e-6 && std::abs(to.lon - towardLon) < 1e-6)
                return e;
        }
        return kNoId;
    };
    const EdgeId north = edge(10, 41.0, -99.0);
    EXPECT_EQ(model.turnCost(north, edge(11, 41.0, -99.0013)), TurnModel::kForbidden) << "left, to the west";
    EXPECT_EQ(model.turnCost(north, edge(11, 41.0, -98.9987)), TurnModel::kRightTurn) << "right, to the east";
}

TEST(Turns, BrokenRelationsAreSkippedAndCounted)
{
    Grid grid(3);
    grid.restrict(1, "no_left_turn", 2002, {5}, 1004, true);        // sound
    grid.restrict(2, "no_left_turn", 2002, {5}, 77777, true);       // to way not in the file
    grid.restrict(3, "no_left_turn", 2002, {1}, 1004, true);        // via node not where they meet
    grid.restrict(4, "no_left_turn", 2002, {1001}, 1004, false);    // via way that joins neither
    grid.restrict(5, "fly_over", 2002, {5}, 1004, true);            // unknown kind
    grid.xml.relation(6, {{"way", 2002, "from"}, {"node", 5, "via"}, {"way", 1004, "to"}},
                      {{"type", "restriction"}, {"restriction", "no_left_turn"}, {"except", "bicycle;motorcar"}});
    grid.xml.relation(7, {{"node", 5, "via"}, {"way", 1004, "to"}}, {{"type", "restriction"}, {"restriction", "no_left_turn"}});
    TempFolder folder;
    const RoadMap map = loadMap(grid.xml.save(folder / "grid.osm"), {ProgressReport::Quiet, CacheUse::Ignore});
    EXPECT_EQ(map.counts.restrictionsUsed, 1u);
    EXPECT_EQ(map.counts.restrictionsIncomplete, 1u);
    EXPECT_EQ(map.counts.restrictionsMalformed, 4u);
    EXPECT_EQ(map.counts.restrictionsNotForCars, 1u);
}

}  // namespace
}  // namespace tw::service
