// The writer never leaves a half-written map under the target name.

#include "osm_snapshot.h"

#include "service/generator/generator_error.h"
#include "service/generator/osm_file_writer.h"
#include "service/generator/sample_town.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tw::service {
namespace {

using testing::ScratchDir;

const OsmBounds kBounds{41.0, -100.0, 42.0, -99.0};

TEST(OsmFileWriter, abandonedWriteKeepsTheOldFileAndLeavesNoLeftovers)
{
    ScratchDir dir;
    const auto target = dir.path() / "map.osm.pbf";
    std::ofstream(target) << "old map";
    {
        OsmFileWriter writer(target, kBounds);
        writer.addNode(1, 41.5, -99.5);
    } // destroyed without commit, as when generation throws half way
    EXPECT_EQ(testing::readFileBytes(target), "old map");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1);
}

TEST(OsmFileWriter, objectsOutOfOrderAreRefused)
{
    ScratchDir dir;
    OsmFileWriter writer(dir.path() / "map.osm.pbf", kBounds);
    writer.addNode(5, 41.5, -99.5);
    EXPECT_THROW(writer.addNode(5, 41.5, -99.5), GeneratorError);
    const std::int64_t refs[] = {5};
    writer.addWay(1, refs, {});
    EXPECT_THROW(writer.addNode(6, 41.5, -99.5), GeneratorError) << "nodes after ways";
}

TEST(OsmFileWriter, unwritableTargetGivesAnErrorNamingIt)
{
    ScratchDir dir;
    const auto target = dir.path() / "missing-folder" / "town.osm.pbf";
    try {
        writeSampleTown(target);
        FAIL() << "expected an error";
    } catch (const GeneratorError& error) {
        EXPECT_NE(std::string(error.what()).find(target.string()), std::string::npos) << error.what();
    }
}

} // namespace
} // namespace tw::service
