// Guidance rules on small hand-made maps: turn words by angle, merged runs of
// one street, collapsed short pieces, roundabout exits, ramps.

#include "service/guidance/guidance.h"
#include "service/guidance/units.h"
#include "tests/service/guidance/test_map_builder.h"

#include <gtest/gtest.h>

#include <functional>

namespace tw::service {
namespace {

using test::Direction;
using test::RoadStyle;
using test::TestMapBuilder;

// The instruction lines for driving from (x1, y1) to (x2, y2), distances cut off.
std::vector<std::string> drive(const RoadMap& map, double x1, double y1, double x2, double y2)
{
    const Router router(map);
    const auto from = router.snap(TestMapBuilder::at(x1, y1));
    const auto to = router.snap(TestMapBuilder::at(x2, y2));
    if (!from || !to)
        return {"no snap"};
    const auto route = router.route(*from, *to);
    if (!route)
        return {"no route"};
    std::vector<std::string> lines;
    for (const Instruction& step : buildInstructions(map, *route, {"Here", "There", {}})) {
        std::string line = plainText(step);
        if (const auto cut = line.find(" - go "); cut != std::string::npos)
            line.resize(cut);
        lines.push_back(line);
    }
    return lines;
}

using Lines = std::vector<std::string>;

TEST(Guidance, turnWordFollowsTheAngle)
{
    // Main Street runs east; side roads leave it at x=400 at different angles.
    TestMapBuilder b;
    b.road({{0, 0}, {200, 0}, {400, 0}, {600, 0}}, "Main Street");
    b.road({{200, 0}, {200, 300}}, "Oak Avenue");          // north: left
    b.road({{200, 0}, {200, -300}}, "Elm Avenue");         // south: right
    b.road({{400, 0}, {600, -100}, {800, -200}}, "Slight Road"); // 27 degrees right
    b.road({{400, 0}, {300, -80}, {200, -160}}, "Sharp Road");   // 141 degrees right
    b.road({{600, 0}, {800, 70}}, "Bend Road");            // 19 degrees left: straight on
    const RoadMap map = b.build();

    struct Case {
        const char* name;
        double x1, y1, x2, y2;
        Lines expected;
    };
    const Case cases[] = {
        {"left", 50, 0, 200, 250, {"Start at Here heading east on Main St", "Turn LEFT onto Oak Ave", "Arrive at There"}},
        {"right", 50, 0, 200, -250, {"Start at Here heading east on Main St", "Turn RIGHT onto Elm Ave", "Arrive at There"}},
        {"slight", 50, 0, 700, -150, {"Start at Here heading east on Main St", "Turn SLIGHT RIGHT onto Slight Rd", "Arrive at There"}},
        {"sharp", 50, 0, 250, -120, {"Start at Here heading east on Main St", "Turn SHARP RIGHT onto Sharp Rd", "Arrive at There"}},
        {"straight on where only the name changes: one step", 50, 0, 750, 52, {"Start at Here heading east on Main St", "Arrive at There"}},
        {"same street past junctions", 50, 0, 550, 0, {"Start at Here heading east on Main St", "Arrive at There"}},
        {"start heading", 200, 250, 200, 50, {"Start at Here heading south on Oak Ave", "Arrive at There"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(drive(map, c.x1, c.y1, c.x2, c.y2), c.expected) << c.name;
}

TEST(Guidance, shortPiecesFoldIntoTheirNeighbours)
{
    struct Case {
        const char* name;
        std::function<void(TestMapBuilder&)> draw;
        double x1, y1, x2, y2;
        Lines expected;
    };
    const Case cases[] = {
        {"a 50 m name change driven straight through is not announced",
         [](TestMapBuilder& b) {
             b.road({{0, 0}, {300, 0}}, "Main Street");
             b.road({{300, 0}, {350, 0}}, "Short Way");
             b.road({{350, 0}, {800, 0}}, "Lake Road");
         },
         50, 0, 700, 0, {"Start at Here heading east on Main St", "Arrive at There"}},
        {"the same street after a short bridge of another name is one run",
         [](TestMapBuilder& b) {
             b.road({{0, 0}, {300, 0}}, "River Street");
             b.road({{300, 0}, {360, 0}}, "Stone Bridge");
             b.road({{360, 0}, {800, 0}}, "River Street");
         },
         50, 0, 700, 0, {"Start at Here heading east on River St", "Arrive at There"}},
        {"a 20 m jog onto a parallel street is one straight move",
         [](TestMapBuilder& b) {
             b.road({{0, 0}, {200, 0}}, "West Street");
             b.road({{200, 0}, {200, 20}}, "Jog Lane");
             b.road({{200, 20}, {600, 20}}, "East Street");
         },
         50, 0, 500, 20, {"Start at Here heading east on West St", "Arrive at There"}},
        {"left through a divided road's gap and left again is a U-turn",
         [](TestMapBuilder& b) {
             b.road({{0, 0}, {200, 0}, {400, 0}}, "Parkway", Direction::OneWay);
             b.road({{400, 20}, {200, 20}, {0, 20}}, "Parkway Return", Direction::OneWay);
             b.road({{200, 0}, {200, 20}}, "");
             b.road({{400, 0}, {400, 20}}, "", Direction::OneWay);
             b.road({{0, 20}, {0, 0}}, "", Direction::OneWay);
         },
         50, 0, 50, 20, {"Start at Here heading east on Parkway", "Make a U-TURN onto Parkway Return", "Arrive at There"}},
    };
    for (const auto& c : cases) {
        TestMapBuilder b;
        c.draw(b);
        EXPECT_EQ(drive(b.build(), c.x1, c.y1, c.x2, c.y2), c.expected) << c.name;
    }
}

TEST(Guidance, roundaboutExitsAreCountedCounterClockwise)
{
    TestMapBuilder b;
    RoadStyle ring;
    ring.flags = kEdgeRoundabout;
    b.road({{30, 0}, {0, 30}, {-30, 0}, {0, -30}, {30, 0}}, "", Direction::OneWay, ring);
    b.road({{300, 0}, {30, 0}}, "East Road");
    b.road({{0, 30}, {0, 300}}, "North Road");
    b.road({{-30, 0}, {-300, 0}}, "West Road");
    b.road({{0, -30}, {0, -300}}, "South Road");
    const RoadMap map = b.build();

    struct Case {
        double x2, y2;
        const char* expected;
    };
    const Case cases[] = {
        {0, 200, "At the roundabout, take the 1st exit onto North Rd"},
        {-200, 0, "At the roundabout, take the 2nd exit onto West Rd"},
        {0, -200, "At the roundabout, take the 3rd exit onto South Rd"},
    };
    for (const auto& c : cases) {
        const Lines lines = drive(map, 200, 0, c.x2, c.y2);
        ASSERT_EQ(lines.size(), 3u) << c.expected;
        EXPECT_EQ(lines[1], c.expected);
    }
}

TEST(Guidance, rampsOntoAndOffTheHighway)
{
    TestMapBuilder b;
    RoadStyle motorway{RoadClass::Motorway, 0, 100, "QZ 9"};
    RoadStyle ramp{RoadClass::MotorwayLink, kEdgeLink, 60, ""};
    b.road({{0, 0}, {500, 0}, {800, 0}, {2000, 0}}, "", Direction::OneWay, motorway);
    b.road({{300, -300}, {500, 0}}, "", Direction::OneWay, ramp);
    b.road({{800, 0}, {1000, -100}}, "", Direction::OneWay, ramp);
    b.road({{0, -300}, {300, -300}}, "Start Street");
    b.road({{1000, -100}, {1000, -500}}, "Exit Road");
    // Back from the highway's end, so every road can be reached from every other.
    b.road({{2000, 0}, {2000, -500}, {1000, -500}, {0, -500}, {0, -300}}, "Back Road");
    const RoadMap map = b.build();

    EXPECT_EQ(drive(map, 50, -300, 1500, 0),
              (Lines{"Start at Here heading east on Start St", "Take the ramp on the LEFT onto QZ 9 E", "Arrive at There"}));
    EXPECT_EQ(drive(map, 600, 0, 1000, -400),
              (Lines{"Start at Here heading east on QZ 9", "Take the exit on the RIGHT toward Exit Rd", "Turn RIGHT onto Exit Rd",
                     "Arrive at There"}));
}

TEST(Guidance, distancesAndNamesReadWellOnTheDevice)
{
    TestMapBuilder b;
    b.road({{0, 0}, {1000, 0}}, "Bread & Butter Street");
    b.road({{1000, 0}, {1000, 2000}}, "<b>\"Quoted\" Avenue</b>");
    const RoadMap map = b.build();
    const Router router(map);
    const auto route = router.route(*router.snap(TestMapBuilder::at(0, 0)), *router.snap(TestMapBuilder::at(1000, 1600)));
    ASSERT_TRUE(route);
    const auto steps = buildInstructions(map, *route, {"1 Bread & Butter Street", "9 <Quoted> Ave", {}});
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(plainText(steps[0]), "Start at 1 Bread and Butter St heading east - go 0.6 mi");
    EXPECT_EQ(plainText(steps[1]), "Turn LEFT onto b Quoted Avenue /b - go 1.0 mi");
    EXPECT_EQ(plainText(steps[2]), "Arrive at 9 Quoted Ave");

    // An ordinal street name is not a house number: it is shortened whole.
    const auto ordinal = buildInstructions(map, *route, {"7th Street", "12B North Main Street", {}});
    EXPECT_EQ(plainText(ordinal.front()).substr(0, 19), "Start at 7th St hea");
    EXPECT_EQ(plainText(ordinal.back()), "Arrive at 12B N Main St");
}

TEST(Units, distancesInFeetTenthsAndMiles)
{
    struct Case {
        double metres;
        const char* text;
    };
    const Case cases[] = {
        {0, "0 ft"},          {-5, "0 ft"},          {12, "40 ft"},       {25, "80 ft"},
        {60, "200 ft"},       {150, "500 ft"},       {160, "0.1 mi"},     {643.7, "0.4 mi"},
        {1609.344, "1.0 mi"}, {4023, "2.5 mi"},      {16000, "9.9 mi"},   {16100, "10 mi"},
        {59545, "37 mi"},     {1e300, "1000000000 mi"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatDistance(c.metres), c.text) << c.metres;
    EXPECT_EQ(formatDistance(std::nan("")), "0 ft");
}

TEST(Units, durationsInMinutesAndHours)
{
    EXPECT_EQ(formatDuration(0), "1 min");
    EXPECT_EQ(formatDuration(89), "1 min");
    EXPECT_EQ(formatDuration(91), "2 min");
    EXPECT_EQ(formatDuration(59 * 60), "59 min");
    EXPECT_EQ(formatDuration(3600), "1 h");
    EXPECT_EQ(formatDuration(3900), "1 h 5 min");
    EXPECT_EQ(formatDuration(-1), "1 min");
}

TEST(Guidance, turnForUsesTheAngleBands)
{
    EXPECT_EQ(turnFor(0), TurnDirection::Straight);
    EXPECT_EQ(turnFor(20), TurnDirection::Straight);
    EXPECT_EQ(turnFor(-21), TurnDirection::SlightLeft);
    EXPECT_EQ(turnFor(40), TurnDirection::SlightRight);
    EXPECT_EQ(turnFor(41), TurnDirection::Right);
    EXPECT_EQ(turnFor(-120), TurnDirection::Left);
    EXPECT_EQ(turnFor(-121), TurnDirection::SharpLeft);
    EXPECT_EQ(turnFor(179), TurnDirection::SharpRight);
}

} // namespace
} // namespace tw::service
