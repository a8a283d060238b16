// The command line of tarnwickley-mapgen, and its exit codes.

#include "service/generator/mapgen_options.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace tw::service {
namespace {

struct ArgumentCase {
    const char* name;
    std::vector<std::string_view> arguments;
    MapgenAction action;
    std::uint64_t junctions;
    const char* out;
    const char* errorPart; // empty when the line is valid
};

class MapgenArguments : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(MapgenArguments, parseAsExpected)
{
    const ArgumentCase& c = GetParam();
    const MapgenParseResult result = parseMapgenArguments(c.arguments);
    if (*c.errorPart != '\0') {
        EXPECT_NE(result.error.find(c.errorPart), std::string::npos) << result.error;
        return;
    }
    ASSERT_EQ(result.error, "");
    EXPECT_EQ(result.options.action, c.action);
    EXPECT_EQ(result.options.junctions, c.junctions);
    EXPECT_EQ(result.options.out.string(), c.out);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, MapgenArguments,
    ::testing::Values(
        ArgumentCase{"sample", {"--sample", "--out", "t.osm.pbf"}, MapgenAction::Sample, 0, "t.osm.pbf", ""},
        ArgumentCase{"junctionsWithEquals", {"--out=big.osm.pbf", "--junctions=1000000"}, MapgenAction::Synthetic, 1000000, "big.osm.pbf", ""},
        ArgumentCase{"help", {"--help"}, MapgenAction::Help, 0, "", ""},
        ArgumentCase{"nothing", {}, MapgenAction::Help, 0, "", "exactly one of"},
        ArgumentCase{"both", {"--sample", "--junctions", "5", "--out", "a.pbf"}, MapgenAction::Help, 0, "", "exactly one of"},
        ArgumentCase{"noOut", {"--sample"}, MapgenAction::Help, 0, "", "--out"},
        ArgumentCase{"outWithoutValue", {"--sample", "--out"}, MapgenAction::Help, 0, "", "--out needs"},
        ArgumentCase{"notPbf", {"--sample", "--out", "town.osm"}, MapgenAction::Help, 0, "", "must end in .pbf"},
        ArgumentCase{"zero", {"--junctions", "0", "--out", "a.pbf"}, MapgenAction::Help, 0, "", "from 1 to"},
        ArgumentCase{"negative", {"--junctions", "-5", "--out", "a.pbf"}, MapgenAction::Help, 0, "", "from 1 to"},
        ArgumentCase{"trailingJunk", {"--junctions", "12k", "--out", "a.pbf"}, MapgenAction::Help, 0, "", "\"12k\""},
        ArgumentCase{"tooMany", {"--junctions", "99999999999999999999999", "--out", "a.pbf"}, MapgenAction::Help, 0, "", "from 1 to"},
        ArgumentCase{"junctionsMissingValue", {"--out", "a.pbf", "--junctions"}, MapgenAction::Help, 0, "", "needs a number"},
        ArgumentCase{"twice", {"--sample", "--sample", "--out", "a.pbf"}, MapgenAction::Help, 0, "", "twice"},
        ArgumentCase{"unknown", {"--sample", "--out", "a.pbf", "--fast"}, MapgenAction::Help, 0, "", "unknown argument \"--fast\""}),
    [](const auto& param) { return std::string(param.param.name); });

struct ExitCase {
    const char* name;
    std::string arguments;
    int exitCode;
};

// The build relies on these exit codes to notice a failed map.
TEST(Mapgen, exitCodesSayWhatHappened)
{
    const std::string scratch = ::testing::TempDir();
    const ExitCase cases[] = {
        {"written", "--sample --out " + scratch + "/tw-mapgen-exit.osm.pbf", 0},
        {"badLine", "--junctions nine --out " + scratch + "/x.osm.pbf", 2},
        {"cannotWrite", "--sample --out " + scratch + "/no-such-folder/x.osm.pbf", 1},
    };
    for (const ExitCase& c : cases) {
        const std::string command = std::string(TW_MAPGEN_PROGRAM) + " " + c.arguments + " 2>/dev/null";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << c.name;
        EXPECT_EQ(WEXITSTATUS(status), c.exitCode) << c.name;
    }
    std::remove((scratch + "/tw-mapgen-exit.osm.pbf").c_str());
}

} // namespace
} // namespace tw::service
