// Large synthetic maps: enough junctions, drivable end to end, reproducible.

#include "osm_snapshot.h"

#include "service/generator/generator_error.h"
#include "service/generator/synthetic_region.h"

#include <gtest/gtest.h>

namespace tw::service {
namespace {

using testing::OsmSnapshot;
using testing::ScratchDir;

struct SizeCase {
    const char* name;
    std::uint64_t junctions;
    std::uint64_t towns;
};

class SyntheticRegionSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SyntheticRegionSize, holdsAtLeastTheJunctionsAskedForAndIsConnected)
{
    const SizeCase& size = GetParam();
    ScratchDir dir;
    const auto path = dir.path() / "region.osm.pbf";
    const SyntheticRegionStats stats = writeSyntheticRegion(path, size.junctions);
    const OsmSnapshot region = OsmSnapshot::read(path);

    EXPECT_EQ(stats.towns, size.towns);
    EXPECT_GE(stats.junctions, size.junctions);
    EXPECT_EQ(region.junctionCount(), stats.junctions) << "the reported count is what a router will see";
    EXPECT_EQ(region.nodes.size(), stats.nodes);
    EXPECT_EQ(region.ways.size(), stats.ways);
    EXPECT_TRUE(region.stronglyConnected());
}

INSTANTIATE_TEST_SUITE_P(Sizes, SyntheticRegionSize,
                         ::testing::Values(SizeCase{"one", 1, 1}, SizeCase{"oneSmallTown", 500, 1},
                                           SizeCase{"exactlyOneFullTown", 1024, 1},
                                           SizeCase{"justOverOneTown", 1025, 2},
                                           SizeCase{"twoByTwoTowns", 3000, 4}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(SyntheticRegion, hasMotorwaysOneWaysAndAddresses)
{
    ScratchDir dir;
    const auto path = dir.path() / "region.osm.pbf";
    const SyntheticRegionStats stats = writeSyntheticRegion(path, 5000);
    const OsmSnapshot region = OsmSnapshot::read(path);
    std::map<std::string, int> highways;
    int oneways = 0;
    int interpolations = 0;
    for (const auto& way : region.ways) {
        ++highways[way.tag("highway")];
        oneways += way.tag("oneway") == "yes" ? 1 : 0;
        if (!way.tag("addr:interpolation").empty()) {
            ++interpolations;
            const int from = std::stoi(region.nodes.at(way.refs.front()).tags.at("addr:housenumber"));
            const int to = std::stoi(region.nodes.at(way.refs.back()).tags.at("addr:housenumber"));
            EXPECT_LT(from, to);
        }
    }
    EXPECT_GT(highways["motorway"], 0);
    EXPECT_GT(highways["motorway_link"], 0);
    EXPECT_GT(highways["secondary"], 0);
    EXPECT_GT(oneways, highways["motorway"] + highways["motorway_link"]) << "town streets are one-way too";
    EXPECT_GT(interpolations, 0);
    EXPECT_GT(stats.addresses, 0U);
}

TEST(SyntheticRegion, isTheSameFileOnEveryRun)
{
    ScratchDir dir;
    writeSyntheticRegion(dir.path() / "a.osm.pbf", 3000);
    writeSyntheticRegion(dir.path() / "b.osm.pbf", 3000);
    EXPECT_EQ(testing::readFileBytes(dir.path() / "a.osm.pbf"), testing::readFileBytes(dir.path() / "b.osm.pbf"));
}

TEST(SyntheticRegion, refusesCountsOutOfRangeAndLeavesNoFile)
{
    ScratchDir dir;
    for (const std::uint64_t count : {std::uint64_t{0}, kMaxSyntheticJunctions + 1}) {
        EXPECT_THROW(writeSyntheticRegion(dir.path() / "x.osm.pbf", count), GeneratorError) << count;
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

} // namespace
} // namespace tw::service
