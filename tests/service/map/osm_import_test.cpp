// Importing hand-written OSM files: which ways become roads in which
// directions, speeds, junction splitting, addresses, and damaged input.

#include "service/map/geo.h"
#include "service/map/map_loader.h"
#include "service/map/osm_importer.h"
#include "tests/service/map/osm_xml.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace tw::service {
namespace {

using test::OsmXml;
using test::Tags;
using test::TempFolder;

RoadMap importText(const TempFolder& folder, const OsmXml& xml, const std::string& name = "map.osm")
{
    return loadMap(xml.save(folder / name), {ProgressReport::Quiet, CacheUse::Ignore});
}

// A plain two-way street far from the way under test, so that a map whose test
// way is dropped still holds a road.
OsmXml withAnchorRoad()
{
    OsmXml xml;
    xml.node(900, 10.0, 10.0).node(901, 10.0, 10.01);
    xml.way(9000, {900, 901}, {{"highway", "residential"}, {"name", "Anchor Street"}});
    return xml;
}

struct DirectionCase {
    const char* name;
    Tags tags;
    int forward;   // edges of way 1 running with its node order
    int backward;  // edges of way 1 running against it
};

TEST(OsmImport, KeepsCarRoadsInTheirLegalDirectionsOnly)
{
    const DirectionCase cases[] = {
        {"two-way residential", {{"highway", "residential"}}, 1, 1},
        {"oneway yes", {{"highway", "residential"}, {"oneway", "yes"}}, 1, 0},
        {"oneway 1", {{"highway", "tertiary"}, {"oneway", "1"}}, 1, 0},
        {"oneway -1", {{"highway", "residential"}, {"oneway", "-1"}}, 0, 1},
        {"oneway reversible", {{"highway", "primary"}, {"oneway", "reversible"}}, 0, 0},
        {"motorway implies oneway", {{"highway", "motorway"}}, 1, 0},
        {"motorway link implies oneway", {{"highway", "motorway_link"}}, 1, 0},
        {"motorway oneway no", {{"highway", "motorway"}, {"oneway", "no"}}, 1, 1},
        {"roundabout implies oneway", {{"highway", "residential"}, {"junction", "roundabout"}}, 1, 0},
        {"service road", {{"highway", "service"}}, 1, 1},
        {"living street", {{"highway", "living_street"}}, 1, 1},
        {"footway", {{"highway", "footway"}}, 0, 0},
        {"cycleway", {{"highway", "cycleway"}}, 0, 0},
        {"track", {{"highway", "track"}}, 0, 0},
        {"path", {{"highway", "path"}}, 0, 0},
        {"no highway tag", {{"waterway", "river"}}, 0, 0},
        {"access private", {{"highway", "residential"}, {"access", "private"}}, 0, 0},
        {"access no", {{"highway", "residential"}, {"access", "no"}}, 0, 0},
        {"motor_vehicle no", {{"highway", "residential"}, {"motor_vehicle", "no"}}, 0, 0},
        {"motorcar private", {{"highway", "residential"}, {"motorcar", "private"}}, 0, 0},
        {"access destination", {{"highway", "residential"}, {"access", "destination"}}, 1, 1},
        {"access no but motorcar yes", {{"highway", "residential"}, {"access", "no"}, {"motorcar", "yes"}}, 1, 1},
        {"access yes but motor_vehicle no", {{"highway", "residential"}, {"access", "yes"}, {"motor_vehicle", "no"}}, 0, 0},
        {"pedestrian area", {{"highway", "service"}, {"area", "yes"}}, 0, 0},
    };
    for (const DirectionCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        OsmXml xml = withAnchorRoad();
        xml.node(1, 0.0, 0.0).node(2, 0.0, 0.001).node(3, 0.0, 0.002);
        xml.way(1, {1, 2, 3}, c.tags);
        const RoadMap map = importText(folder, xml);
        int forward = 0;
        int backward = 0;
        for (const Edge& e : map.edges) {
            if (e.wayId == 1) {
                (e.has(kEdgeAgainstWay) ? backward : forward) += 1;
                EXPECT_EQ(e.has(kEdgeOneway), c.forward + c.backward == 1);
            }
        }
        EXPECT_EQ(forward, c.forward);
        EXPECT_EQ(backward, c.backward);
    }
}

TEST(OsmImport, ReadsMaxspeedValues)
{
    const std::pair<const char*, int> cases[] = {
        {"50", 50},     {"30 mph", 48},  {"30mph", 48}, {"50 km/h", 50}, {"10 knots", 19},
        {"50;30", 50},  {" 40", 40},     {"none", 0},   {"signals", 0},  {"walk", 0},
        {"US:urban", 0}, {"", 0},        {"-5", 0},     {"0", 0},        {"1e400", 0},
        {"50 furlongs", 0}, {"9999", 0}, {"nan", 0}, {"35 MPH", 56}, {"25 mph ", 40},
    };
    for (const auto& [text, kmh] : cases) {
        EXPECT_EQ(parseMaxspeed(text), kmh) << '"' << text << '"';
    }
}

TEST(OsmImport, TravelTimeFollowsMaxspeedElseTheRoadClass)
{
    TempFolder folder;
    OsmXml xml;
    // Three parallel 1 km roads (0.009 degrees of latitude is about 1000 m).
    xml.node(1, 0.0, 0.0).node(2, 0.008993, 0.0);
    xml.node(3, 0.0, 0.1).node(4, 0.008993, 0.1);
    xml.node(5, 0.0, 0.2).node(6, 0.008993, 0.2);
    xml.way(1, {1, 2}, {{"highway", "residential"}, {"maxspeed", "36"}, {"oneway", "yes"}});
    xml.way(2, {3, 4}, {{"highway", "residential"}, {"maxspeed", "none"}, {"oneway", "yes"}});
    xml.way(3, {5, 6}, {{"highway", "motorway"}, {"maxspeed", "60 mph"}});
    const RoadMap map = importText(folder, xml);
    ASSERT_EQ(map.edges.size(), 3u);
    for (const Edge& e : map.edges) {
        EXPECT_NEAR(e.metres, 1000.0, 2.0);
        const double seconds = e.deciseconds / 10.0;
        if (e.wayId == 1) {
            EXPECT_NEAR(seconds, 100.0, 0.5);  // 36 km/h = 10 m/s
        } else if (e.wayId == 2) {
            EXPECT_GT(seconds, 60.0);  // a residential default, well below motorway speed
        } else {
            EXPECT_NEAR(seconds, 1000.0 / (60 * 1.609344 / 3.6), 0.5);
        }
    }
}

TEST(OsmImport, SplitsWaysAtJunctionsAndKeepsShapePoints)
{
    TempFolder folder;
    OsmXml xml;
    // Way 1 runs west to east through 2 (bend 5 between), way 2 crosses at 2.
    xml.node(1, 0.0, 0.0).node(5, 0.0005, 0.0005).node(2, 0.0, 0.001).node(3, 0.0, 0.002);
    xml.node(4, 0.001, 0.001).node(6, -0.001, 0.001);
    xml.way(1, {1, 5, 2, 3}, {{"highway", "residential"}, {"name", "Elm Street"}, {"bridge", "yes"}});
    xml.way(2, {4, 2, 6}, {{"highway", "secondary"}, {"ref", "CR 7"}, {"oneway", "yes"}});
    const RoadMap map = importText(folder, xml);
    // Junctions: 1, 2, 3 (ends and the crossing), 4, 6; the bend 5 is only shape.
    EXPECT_EQ(map.nodes.size(), 5u);
    EXPECT_EQ(map.edges.size(), 2u * 2u + 2u);
    ASSERT_TRUE(map.validate().empty()) << map.validate();
    int bent = 0;
    for (EdgeId id = 0; id < map.edges.size(); ++id) {
        const Edge& e = map.edges[id];
        const auto shape = map.edgeShape(id);
        EXPECT_EQ(shape.front(), map.nodes[e.source]);
        EXPECT_EQ(shape.back(), map.nodes[e.target]);
        EXPECT_NEAR(e.metres, polylineMetres(shape), 0.01);
        if (e.wayId == 1) {
            EXPECT_EQ(map.text(e.name), "Elm Street");
            EXPECT_TRUE(e.has(kEdgeBridge));
            bent += shape.size() == 3 ? 1 : 0;
        } else {
            EXPECT_EQ(map.text(e.ref), "CR 7");
            EXPECT_EQ(e.twin, kNoId);
        }
    }
    EXPECT_EQ(bent, 2);  // both directions of the bent piece keep the bend
    std::size_t elmEdges = 0;
    for (StringId s = 1; s < map.strings.size(); ++s) {
        if (map.strings[s] == "Elm Street") {
            elmEdges = map.streetEdges(s).size();
        }
    }
    EXPECT_EQ(elmEdges, 4u);
}

TEST(OsmImport, SkipsNodesMissingFromTheFile)
{
    TempFolder folder;
    OsmXml xml = withAnchorRoad();
    xml.node(1, 0.0, 0.0).node(3, 0.0, 0.002);
    xml.way(1, {1, 2, 3}, {{"highway", "residential"}});  // node 2 is not in the file
    xml.way(2, {77, 78}, {{"highway", "residential"}});   // no node at all
    const RoadMap map = importText(folder, xml);
    EXPECT_TRUE(map.validate().empty());
    EXPECT_EQ(std::count_if(map.edges.begin(), map.edges.end(), [](const Edge& e) { return e.wayId == 1; }), 2);
    EXPECT_EQ(std::count_if(map.edges.begin(), map.edges.end(), [](const Edge& e) { return e.wayId == 2; }), 0);
}

TEST(OsmImport, ReadsHouseNumbers)
{
    const std::pair<const char*, int> cases[] = {
        {"12", 12}, {"12B", 12}, {"1400-1402", 1400}, {"7 1/2", 7}, {"B12", -1}, {"", -1},
        {"99999999999999999999", -1}, {"0", 0},
    };
    for (const auto& [text, number] : cases) {
        EXPECT_EQ(parseHouseNumber(text), number) << '"' << text << '"';
    }
}

TEST(OsmImport, TakesAddressesFromNodesBuildingsAndInterpolationWays)
{
    TempFolder folder;
    OsmXml xml = withAnchorRoad();
    const Tags common = {{"addr:street", "Birch Avenue"}, {"addr:city", "Halverby"}, {"addr:postcode", "58911"},
                         {"addr:state", "QZ"}};
    auto with = [&](Tags extra) {
        Tags t = common;
        t.insert(t.end(), extra.begin(), extra.end());
        return t;
    };
    xml.node(1, 1.0, 1.0, with({{"addr:housenumber", "12B"}}));
    // A square building: its centroid is the mean of its four corners.
    xml.node(10, 2.0, 2.0).node(11, 2.0, 2.002).node(12, 2.002, 2.002).node(13, 2.002, 2.0);
    xml.way(10, {10, 11, 12, 13, 10}, with({{"building", "house"}, {"addr:housenumber", "40"}}));
    // An interpolation way with a numbered node in the middle gives two lines.
    xml.node(20, 3.0, 3.0, with({{"addr:housenumber", "101"}}));
    xml.node(21, 3.0, 3.001);
    xml.node(22, 3.0, 3.002, with({{"addr:housenumber", "121"}}));
    xml.node(23, 3.0, 3.003, with({{"addr:housenumber", "131"}}));
    xml.way(20, {20, 21, 22, 23}, {{"addr:interpolation", "odd"}});
    // Without a numbered end there is nothing to interpolate.
    xml.node(30, 4.0, 4.0).node(31, 4.0, 4.001, with({{"addr:housenumber", "2"}}));
    xml.way(30, {30, 31}, {{"addr:interpolation", "even"}, {"addr:street", "Birch Avenue"}});
    // A house number without any street is of no use to anyone.
    xml.node(40, 5.0, 5.0, {{"addr:housenumber", "5"}});
    const RoadMap map = importText(folder, xml);

    auto find = [&](const char* number) -> const AddressPoint* {
        for (const AddressPoint& a : map.addresses) {
            if (map.text(a.houseNumber) == number) {
                return &a;
            }
        }
        return nullptr;
    };
    const AddressPoint* node = find("12B");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->number, 12);
    EXPECT_EQ(map.text(node->street), "Birch Avenue");
    EXPECT_EQ(map.text(node->city), "Halverby");
    EXPECT_EQ(map.text(node->postcode), "58911");
    EXPECT_EQ(map.text(node->state), "QZ");
    const AddressPoint* building = find("40");
    ASSERT_NE(building, nullptr);
    EXPECT_NEAR(building->location.lat, 2.001, 1e-9);
    EXPECT_NEAR(building->location.lon, 2.001, 1e-9);
    EXPECT_EQ(find("5"), nullptr);

    ASSERT_EQ(map.interpolations.size(), 2u);
    const InterpolationLine& first = map.interpolations[0];
    EXPECT_EQ(first.fromNumber, 101);
    EXPECT_EQ(first.toNumber, 121);
    EXPECT_EQ(first.parity, Parity::Odd);
    EXPECT_EQ(map.text(first.street), "Birch Avenue");
    EXPECT_EQ(map.text(first.postcode), "58911");
    EXPECT_EQ(map.interpolationShape(first).size(), 3u);
    EXPECT_EQ(map.interpolations[1].fromNumber, 121);
    EXPECT_EQ(map.interpolations[1].toNumber, 131);
}

TEST(OsmImport, RefusesMissingDamagedAndRoadlessFilesWithAClearMessage)
{
    TempFolder folder;
    const std::string good = withAnchorRoad().text();
    struct Case {
        const char* name;
        std::string file;     // written unless empty name
        std::string content;
        const char* message;  // part of the error
    };
    const Case cases[] = {
        {"missing", "absent.osm", "", "no such file"},
        {"empty", "empty.osm", "", "damaged"},
        {"cut short", "short.osm", good.substr(0, good.size() / 2), "damaged"},
        {"garbage pbf", "junk.osm.pbf", std::string(500, '\x7f'), "damaged"},
        {"garbage bz2", "junk.osm.bz2", "BZh9 not really", "damaged"},
        {"no roads", "roadless.osm", OsmXml().node(1, 0, 0).text(), "no road"},
        {"unknown suffix", "map.txt", good, "damaged"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = folder / c.file;
        if (std::string(c.name) != "missing") {
            std::ofstream(path, std::ios::binary) << c.content;
        }
        try {
            loadMap(path.string(), {ProgressReport::Quiet, CacheUse::Ignore});
            ADD_FAILURE() << "no error";
        } catch (const MapError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(loadMap(folder.path().string()), MapError);
    EXPECT_THROW(loadMap(""), MapError);
}

TEST(OsmImport, ImportsTheRealWestOaklandExtract)
{
    const std::string path = "/usr/share/doc/python-osmnx-doc/examples/tests/input_data/West-Oakland.osm.bz2";
    if (!std::filesystem::exists(path)) {
        GTEST_SKIP() << "West Oakland extract not installed";
    }
    const RoadMap map = loadMap(path, {ProgressReport::Quiet, CacheUse::Ignore});
    EXPECT_TRUE(map.validate().empty());
    EXPECT_GT(map.nodes.size(), 20u);
    std::size_t named = 0;
    for (StringId s = 1; s < map.strings.size(); ++s) {
        named += map.streetEdges(s).empty() ? 0 : 1;
    }
    EXPECT_GT(named, 3u);
}

}  // namespace
}  // namespace tw::service
