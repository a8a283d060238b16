// The sample town holds what TOWN.md promises, and is the same file every run.

#include "osm_snapshot.h"

#include "service/generator/sample_town.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <cctype>
#include <cstdio>
#include <set>

namespace tw::service {
namespace {

using testing::OsmSnapshot;
using testing::ScratchDir;
using testing::SnapshotWay;

struct Flat {
    double x = 0.0;
    double y = 0.0;
};

// Metres east and north of the town's origin; plenty for sides and crossings.
Flat flat(const testing::SnapshotNode& node)
{
    constexpr double kMetresPerDegree = 111195.0;
    return {(node.lon - kSampleTownOriginLon) * kMetresPerDegree * std::cos(kSampleTownOriginLat * 3.14159265 / 180.0),
            (node.lat - kSampleTownOriginLat) * kMetresPerDegree};
}

double cross(Flat o, Flat a, Flat b)
{
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

bool segmentsCross(Flat a, Flat b, Flat c, Flat d)
{
    // Touching counts: a bridge right over a vertex of the river still crosses it.
    return cross(a, b, c) * cross(a, b, d) <= 0 && cross(c, d, a) * cross(c, d, b) <= 0;
}

// An addressed object: an address node, or a building with addr:*.
struct Address {
    int number = 0;
    std::string street;
    const testing::Tags* tags = nullptr;
    Flat where;
};

// The trimmed cells of a Markdown table row ("| a | b |" gives {"a", "b"}).
std::vector<std::string> tableCells(const std::string& line)
{
    std::vector<std::string> cells;
    if (line.empty() || line.front() != '|') {
        return cells;
    }
    std::size_t start = 1;
    for (std::size_t bar = line.find('|', start); bar != std::string::npos; bar = line.find('|', start)) {
        std::string cell = line.substr(start, bar - start);
        cell.erase(0, cell.find_first_not_of(' '));
        cell.erase(cell.find_last_not_of(' ') + 1);
        cells.push_back(cell);
        start = bar + 1;
    }
    return cells;
}

class SampleTown : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = std::make_unique<ScratchDir>();
        writeSampleTown(s_dir->path() / "town.osm.pbf");
        s_town = std::make_unique<OsmSnapshot>(OsmSnapshot::read(s_dir->path() / "town.osm.pbf"));
    }
    static void TearDownTestSuite()
    {
        s_town.reset();
        s_dir.reset();
    }

    static const OsmSnapshot& town() { return *s_town; }
    static Flat at(std::int64_t node) { return flat(s_town->nodes.at(node)); }

    static std::vector<const SnapshotWay*> waysWhere(const std::string& key, const std::string& value)
    {
        std::vector<const SnapshotWay*> result;
        for (const SnapshotWay& way : s_town->ways) {
            if (way.tag(key) == value) {
                result.push_back(&way);
            }
        }
        return result;
    }

    static std::set<std::int64_t> nodesOf(const std::vector<const SnapshotWay*>& ways)
    {
        std::set<std::int64_t> result;
        for (const SnapshotWay* way : ways) {
            result.insert(way->refs.begin(), way->refs.end());
        }
        return result;
    }

    static std::vector<Address> allAddresses()
    {
        std::vector<Address> addresses;
        for (const auto& [id, node] : s_town->nodes) {
            if (node.tags.contains("addr:housenumber")) {
                addresses.push_back({std::stoi(node.tags.at("addr:housenumber")), node.tags.at("addr:street"), &node.tags, flat(node)});
            }
        }
        for (const SnapshotWay& way : s_town->ways) {
            if (way.tag("building") == "yes" && way.tags.contains("addr:housenumber")) {
                Flat centre;
                for (std::size_t i = 1; i < way.refs.size(); ++i) {
                    centre.x += at(way.refs[i]).x / static_cast<double>(way.refs.size() - 1);
                    centre.y += at(way.refs[i]).y / static_cast<double>(way.refs.size() - 1);
                }
                addresses.push_back({std::stoi(way.tag("addr:housenumber")), way.tag("addr:street"), &way.tags, centre});
            }
        }
        return addresses;
    }

    // Where an address stands from the nearest point of its street, and how far.
    static std::pair<Flat, double> offsetFromStreet(const Address& address, int* side)
    {
        double nearest = 1e9;
        Flat offset;
        for (const SnapshotWay& way : s_town->ways) {
            if (way.tag("name") != address.street || way.tag("highway").empty()) {
                continue;
            }
            for (std::size_t i = 1; i < way.refs.size(); ++i) {
                const Flat a = at(way.refs[i - 1]);
                const Flat b = at(way.refs[i]);
                const double length2 = (b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y);
                const double t = std::clamp(((address.where.x - a.x) * (b.x - a.x) + (address.where.y - a.y) * (b.y - a.y)) / length2, 0.0, 1.0);
                const Flat foot{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};
                const double distance = std::hypot(foot.x - address.where.x, foot.y - address.where.y);
                if (distance < nearest) {
                    nearest = distance;
                    offset = {address.where.x - foot.x, address.where.y - foot.y};
                    *side = cross(a, b, address.where) > 0 ? 1 : -1;
                }
            }
        }
        return {offset, nearest};
    }

    static std::unique_ptr<ScratchDir> s_dir;
    static std::unique_ptr<OsmSnapshot> s_town;
};

std::unique_ptr<ScratchDir> SampleTown::s_dir;
std::unique_ptr<OsmSnapshot> SampleTown::s_town;

TEST_F(SampleTown, isTheSameFileOnEveryRun)
{
    writeSampleTown(s_dir->path() / "again.osm.pbf");
    EXPECT_EQ(testing::readFileBytes(s_dir->path() / "town.osm.pbf"),
              testing::readFileBytes(s_dir->path() / "again.osm.pbf"));
}

TEST_F(SampleTown, hasOneCounterClockwiseRoundaboutWithFourExits)
{
    const auto rings = waysWhere("junction", "roundabout");
    ASSERT_EQ(rings.size(), 1U);
    const SnapshotWay& ring = *rings.front();
    ASSERT_EQ(ring.refs.front(), ring.refs.back()) << "the roundabout must be closed";
    EXPECT_EQ(ring.tag("oneway"), "") << "junction=roundabout implies one-way, as in real data";

    double twiceArea = 0.0;
    for (std::size_t i = 1; i < ring.refs.size(); ++i) {
        const Flat a = at(ring.refs[i - 1]);
        const Flat b = at(ring.refs[i]);
        twiceArea += a.x * b.y - b.x * a.y;
    }
    EXPECT_GT(twiceArea, 0.0) << "traffic keeps right, so the ring runs counter-clockwise";

    std::set<std::int64_t> exits;
    for (const SnapshotWay* road : town().drivableWays()) {
        if (road == &ring) {
            continue;
        }
        for (const std::int64_t ref : road->refs) {
            if (std::find(ring.refs.begin(), ring.refs.end(), ref) != ring.refs.end()) {
                exits.insert(ref);
            }
        }
    }
    EXPECT_EQ(exits.size(), 4U);
}

TEST_F(SampleTown, riverIsCrossedByTheOneBridgeAndNothingElse)
{
    const auto rivers = waysWhere("waterway", "river");
    ASSERT_EQ(rivers.size(), 1U);
    const SnapshotWay& river = *rivers.front();
    std::vector<const SnapshotWay*> crossing;
    for (const SnapshotWay& way : town().ways) {
        if (&way == &river) {
            continue;
        }
        bool crosses = false;
        for (std::size_t i = 1; i < way.refs.size() && !crosses; ++i) {
            for (std::size_t j = 1; j < river.refs.size() && !crosses; ++j) {
                crosses = segmentsCross(at(way.refs[i - 1]), at(way.refs[i]), at(river.refs[j - 1]), at(river.refs[j]));
            }
        }
        if (crosses) {
            crossing.push_back(&way);
        }
        for (const std::int64_t ref : way.refs) {
            EXPECT_EQ(std::count(river.refs.begin(), river.refs.end(), ref), 0) << "way " << way.id << " touches the river";
        }
    }
    ASSERT_EQ(crossing.size(), 1U);
    EXPECT_EQ(crossing.front()->tag("bridge"), "yes");
    EXPECT_EQ(crossing.front()->tag("layer"), "1");
    EXPECT_EQ(crossing.front()->tag("name"), "South Main Street");
    EXPECT_EQ(crossing.front()->tag("highway"), "tertiary");
}

TEST_F(SampleTown, oneWayPairRunsEastOnSecondAndWestOnThird)
{
    const auto second = waysWhere("name", "2nd Street");
    const auto third = waysWhere("name", "3rd Street");
    ASSERT_EQ(second.size(), 1U);
    ASSERT_EQ(third.size(), 1U);
    EXPECT_EQ(second.front()->tag("oneway"), "yes");
    EXPECT_EQ(third.front()->tag("oneway"), "yes");
    const Flat secondStart = at(second.front()->refs.front());
    const Flat secondEnd = at(second.front()->refs.back());
    const Flat thirdStart = at(third.front()->refs.front());
    const Flat thirdEnd = at(third.front()->refs.back());
    EXPECT_GT(secondEnd.x - secondStart.x, 1000.0);
    EXPECT_LT(thirdEnd.x - thirdStart.x, -1000.0);
    EXPECT_NEAR(std::abs(thirdStart.y - secondStart.y), 130.0, 1.0) << "a pair: neighbouring parallel streets";
}

TEST_F(SampleTown, highwayHasOneWayCarriagewaysAndFourRampsToNorthMainStreet)
{
    const auto motorway = waysWhere("highway", "motorway");
    const auto ramps = waysWhere("highway", "motorway_link");
    const auto northMain = waysWhere("name", "North Main Street");
    ASSERT_FALSE(motorway.empty());
    ASSERT_EQ(ramps.size(), 4U);
    ASSERT_EQ(northMain.size(), 1U);
    for (const SnapshotWay* way : motorway) {
        EXPECT_EQ(way->tag("oneway"), "yes");
        EXPECT_EQ(way->tag("ref"), kSampleTownHighwayRef);
    }
    const std::set<std::int64_t> motorwayNodes = nodesOf(motorway);
    const std::set<std::int64_t> mainNodes = nodesOf(northMain);
    for (const SnapshotWay* ramp : ramps) {
        EXPECT_EQ(ramp->tag("oneway"), "yes");
        const bool fromMotorway = motorwayNodes.contains(ramp->refs.front());
        const std::int64_t townEnd = fromMotorway ? ramp->refs.back() : ramp->refs.front();
        const std::int64_t highwayEnd = fromMotorway ? ramp->refs.front() : ramp->refs.back();
        EXPECT_TRUE(motorwayNodes.contains(highwayEnd)) << "ramp " << ramp->id;
        EXPECT_TRUE(mainNodes.contains(townEnd)) << "ramp " << ramp->id;
    }
    for (const std::int64_t node : mainNodes) {
        EXPECT_FALSE(motorwayNodes.contains(node)) << "North Main Street passes under the highway";
    }
}

TEST_F(SampleTown, carsCanGetEverywhereButNotOntoThePrivateLaneOrTheFootway)
{
    EXPECT_TRUE(town().stronglyConnected());
    const std::size_t junctions = town().junctionCount();
    EXPECT_GT(junctions, 100U);
    EXPECT_LT(junctions, 1000U);

    const auto lane = waysWhere("name", "Fallow Lane");
    ASSERT_EQ(lane.size(), 1U);
    EXPECT_EQ(lane.front()->tag("access"), "private");
    const auto footways = waysWhere("highway", "footway");
    ASSERT_EQ(footways.size(), 1U);
    // Both are shortcuts between roads, which is what makes routing them a fault.
    for (const SnapshotWay* shortcut : {lane.front(), footways.front()}) {
        int joined = 0;
        for (const std::int64_t end : {shortcut->refs.front(), shortcut->refs.back()}) {
            joined += nodesOf(town().drivableWays()).contains(end) ? 1 : 0;
        }
        EXPECT_EQ(joined, 2) << shortcut->tag("name");
    }
}

TEST_F(SampleTown, everyStreetHasOddNumbersOnOneSideAndEvenOnTheOther)
{
    const std::vector<Address> addresses = allAddresses();
    EXPECT_GT(std::count_if(addresses.begin(), addresses.end(), [](const Address& a) { return a.tags->contains("building"); }), 0);

    std::map<std::string, std::set<int>> sideByStreetAndParity; // "street/parity" -> sides seen
    std::set<std::string> postcodes;
    for (const Address& address : addresses) {
        EXPECT_EQ(address.tags->at("addr:city"), kSampleTownCity);
        EXPECT_EQ(address.tags->at("addr:state"), kSampleTownState);
        const std::string& postcode = address.tags->at("addr:postcode");
        postcodes.insert(postcode);
        // Nothing is addressed within 100 m of the river, so the sign of y tells the side.
        EXPECT_EQ(postcode, address.where.y > 0 ? kSampleTownNorthZip : kSampleTownSouthZip) << address.street;

        int side = 0;
        const double nearest = offsetFromStreet(address, &side).second;
        ASSERT_LT(nearest, 25.0) << address.number << " " << address.street << " stands beside its street";
        sideByStreetAndParity[address.street + (address.number % 2 ? "/odd" : "/even")].insert(side);
    }
    EXPECT_EQ(postcodes, (std::set<std::string>{std::string(kSampleTownNorthZip), std::string(kSampleTownSouthZip)}));

    std::set<std::string> addressedStreets;
    for (const auto& [key, sides] : sideByStreetAndParity) {
        EXPECT_EQ(sides.size(), 1U) << key << " has houses on both sides";
        const std::string street = key.substr(0, key.find('/'));
        addressedStreets.insert(street);
        const auto odd = sideByStreetAndParity.find(street + "/odd");
        const auto even = sideByStreetAndParity.find(street + "/even");
        ASSERT_TRUE(odd != sideByStreetAndParity.end() && even != sideByStreetAndParity.end()) << street;
        EXPECT_NE(*odd->second.begin(), *even->second.begin()) << street << ": odd and even on the same side";
    }
    for (const SnapshotWay* road : town().drivableWays()) {
        const std::string name = road->tag("name");
        if (!name.empty()) {
            EXPECT_TRUE(addressedStreets.contains(name)) << name << " has no house numbers";
        }
    }
}

TEST_F(SampleTown, interpolationOnlyStreetsHaveNumbersOnlyAtInterpolationEnds)
{
    const std::set<std::string> interpolated{"Birch Avenue", "5th Street", "Osprey Lane"};
    std::set<std::int64_t> ends;
    std::map<std::string, std::set<std::string>> kinds;
    for (const SnapshotWay* way : waysWhere("addr:interpolation", "odd")) {
        ends.insert(way->refs.begin(), way->refs.end());
    }
    for (const SnapshotWay* way : waysWhere("addr:interpolation", "even")) {
        ends.insert(way->refs.begin(), way->refs.end());
    }
    for (const SnapshotWay& way : town().ways) {
        const std::string kind = way.tag("addr:interpolation");
        if (kind.empty()) {
            continue;
        }
        ASSERT_EQ(way.refs.size(), 2U);
        const int first = std::stoi(town().nodes.at(way.refs.front()).tags.at("addr:housenumber"));
        const int last = std::stoi(town().nodes.at(way.refs.back()).tags.at("addr:housenumber"));
        EXPECT_LT(first, last);
        EXPECT_EQ(first % 2, kind == "odd" ? 1 : 0);
        EXPECT_EQ(last % 2, kind == "odd" ? 1 : 0);
        EXPECT_EQ(town().nodes.at(way.refs.front()).tags.at("addr:street"), way.tag("addr:street"));
        kinds[way.tag("addr:street")].insert(kind);
    }
    for (const std::string& street : interpolated) {
        EXPECT_EQ(kinds[street], (std::set<std::string>{"odd", "even"})) << street;
    }
    for (const auto& [id, node] : town().nodes) {
        const auto street = node.tags.find("addr:street");
        if (street != node.tags.end() && interpolated.contains(street->second)) {
            EXPECT_TRUE(ends.contains(id)) << street->second << " " << node.tags.at("addr:housenumber");
        }
    }
}

// Each row of TOWN.md's street table: the odd side and the number ranges hold.
TEST_F(SampleTown, streetTableInTownDocumentMatchesTheMap)
{
    std::ifstream doc(std::filesystem::path(TW_SOURCE_DIR) / "service/generator/TOWN.md");
    ASSERT_TRUE(doc) << "TOWN.md not found";
    std::map<std::string, std::pair<int, int>> odd;
    std::map<std::string, std::pair<int, int>> even;
    std::map<std::string, std::set<std::string>> oddSides;
    for (const Address& address : allAddresses()) {
        auto& range = (address.number % 2 ? odd : even).try_emplace(address.street, 1 << 30, 0).first->second;
        range = {std::min(range.first, address.number), std::max(range.second, address.number)};
        if (address.number % 2) {
            int side = 0;
            const Flat offset = offsetFromStreet(address, &side).first;
            oddSides[address.street].insert(std::abs(offset.x) > std::abs(offset.y) ? (offset.x > 0 ? "east" : "west")
                                                                                  : (offset.y > 0 ? "north" : "south"));
        }
    }
    int rows = 0;
    std::string line;
    while (std::getline(doc, line)) {
        // | Street | Class | From -> to | Odd side | How addressed | 119-881 / 120-880 | ZIP |
        const std::vector<std::string> cells = tableCells(line);
        int oddFrom = 0;
        int oddTo = 0;
        int evenFrom = 0;
        int evenTo = 0;
        if (cells.size() != 7 || std::sscanf(cells[5].c_str(), "%d-%d / %d-%d", &oddFrom, &oddTo, &evenFrom, &evenTo) != 4) {
            continue;
        }
        ++rows;
        const std::string& street = cells[0];
        EXPECT_EQ(odd[street], std::make_pair(oddFrom, oddTo)) << street << " odd numbers";
        EXPECT_EQ(even[street], std::make_pair(evenFrom, evenTo)) << street << " even numbers";
        const std::string& side = cells[3];
        if (side == "north" || side == "south" || side == "east" || side == "west") {
            EXPECT_EQ(oddSides[street], std::set<std::string>{side}) << street << " odd side";
        }
    }
    EXPECT_EQ(rows, static_cast<int>(odd.size())) << "every addressed street has its row";
}

// The golden-route addresses TOWN.md suggests must really be on the map.
TEST_F(SampleTown, suggestedAddressesInTownDocumentExist)
{
    std::ifstream doc(std::filesystem::path(TW_SOURCE_DIR) / "service/generator/TOWN.md");
    ASSERT_TRUE(doc) << "TOWN.md not found";
    int checked = 0;
    std::string line;
    while (std::getline(doc, line)) {
        // | # | 735 2nd Street, Halverby, QZ 58911 | 235 2nd Street, ... | what it exercises |
        const std::vector<std::string> cells = tableCells(line);
        if (cells.size() != 4 || cells[0].empty() || !std::isdigit(static_cast<unsigned char>(cells[0][0]))) {
            continue;
        }
        for (const std::string& text : {cells[1], cells[2]}) {
            const std::size_t space = text.find(' ');
            const std::size_t comma = text.find(", ");
            const std::size_t secondComma = text.find(", ", comma + 2);
            ASSERT_TRUE(space != std::string::npos && comma != std::string::npos && secondComma != std::string::npos) << text;
            const int number = std::stoi(text.substr(0, space));
            const std::string street = text.substr(space + 1, comma - space - 1);
            EXPECT_EQ(text.substr(comma + 2, secondComma - comma - 2), kSampleTownCity) << text;
            const std::string stateAndZip = text.substr(secondComma + 2);
            EXPECT_EQ(stateAndZip.substr(0, 3), std::string(kSampleTownState) + " ") << text;
            const std::string zip = stateAndZip.substr(3);
            const std::string numberText = std::to_string(number);
            bool found = false;
            for (const auto& [id, node] : town().nodes) {
                const auto& tags = node.tags;
                found = found || (tags.contains("addr:housenumber") && tags.at("addr:housenumber") == numberText &&
                                  tags.at("addr:street") == street && tags.at("addr:postcode") == zip);
            }
            for (const SnapshotWay& way : town().ways) {
                found = found || (way.tag("addr:housenumber") == numberText && way.tag("addr:street") == street &&
                                  way.tag("addr:postcode") == zip);
                if (!way.tag("addr:interpolation").empty() && way.tag("addr:street") == street) {
                    const auto& first = town().nodes.at(way.refs.front()).tags;
                    const int from = std::stoi(first.at("addr:housenumber"));
                    const int to = std::stoi(town().nodes.at(way.refs.back()).tags.at("addr:housenumber"));
                    found = found || (number >= from && number <= to && number % 2 == from % 2 &&
                                      first.at("addr:postcode") == zip);
                }
            }
            EXPECT_TRUE(found) << text;
            ++checked;
        }
    }
    EXPECT_GE(checked, 12);
}

} // namespace
} // namespace tw::service
