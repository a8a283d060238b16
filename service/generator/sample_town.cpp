#include "service/generator/sample_town.h"

#include "service/generator/town_plan.h"

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace tw::service {

namespace {

// Downtown grid: avenues run north-south at these x, streets east-west at these y.
const std::vector<double> kAvenueX{-520, -390, -260, -130, 0, 130, 260, 390, 520};
const std::vector<double> kStreetY{200, 330, 460, 590, 720, 850, 980};
constexpr double kGridWidth = 1040.0;  // Alder Avenue to Juniper Avenue
constexpr double kGridHeight = 780.0;  // Front Street to 6th Street
constexpr double kEverywhere = 1.0e6;

const std::string kMotorwayRef{kSampleTownHighwayRef};

LocalPoint bezier(LocalPoint p0, LocalPoint p1, LocalPoint p2, LocalPoint p3, double t)
{
    const double u = 1.0 - t;
    const double a = u * u * u;
    const double b = 3.0 * u * u * t;
    const double c = 3.0 * u * t * t;
    const double d = t * t * t;
    return {a * p0.x + b * p1.x + c * p2.x + d * p3.x, a * p0.y + b * p1.y + c * p2.y + d * p3.y};
}

// A smooth curve as a polyline with a vertex about every `step` metres; the end
// points are exactly p0 and p3 so that they join other ways.
std::vector<LocalPoint> curve(LocalPoint p0, LocalPoint p1, LocalPoint p2, LocalPoint p3, double step)
{
    constexpr int kSamples = 2000;
    std::vector<LocalPoint> fine;
    std::vector<double> length{0.0};
    for (int i = 0; i <= kSamples; ++i) {
        fine.push_back(bezier(p0, p1, p2, p3, static_cast<double>(i) / kSamples));
        if (i > 0) {
            length.push_back(length.back() + std::hypot(fine[static_cast<std::size_t>(i)].x - fine[static_cast<std::size_t>(i) - 1].x,
                                                        fine[static_cast<std::size_t>(i)].y - fine[static_cast<std::size_t>(i) - 1].y));
        }
    }
    const int pieces = std::max(1, static_cast<int>(std::lround(length.back() / step)));
    std::vector<LocalPoint> result{p0};
    std::size_t j = 0;
    for (int k = 1; k < pieces; ++k) {
        const double target = length.back() * k / pieces;
        while (length[j + 1] < target) {
            ++j;
        }
        const double f = (target - length[j]) / (length[j + 1] - length[j]);
        result.push_back({fine[j].x + (fine[j + 1].x - fine[j].x) * f, fine[j].y + (fine[j + 1].y - fine[j].y) * f});
    }
    result.push_back(p3);
    return result;
}

// Points of a circle around `centre` from angle `from` to `to` (degrees) in `step` steps.
std::vector<LocalPoint> arc(LocalPoint centre, double radius, int from, int to, int step)
{
    std::vector<LocalPoint> result;
    for (int angle = from; step > 0 ? angle <= to : angle >= to; angle += step) {
        const double radians = angle * std::numbers::pi / 180.0;
        result.push_back({centre.x + radius * std::cos(radians), centre.y + radius * std::sin(radians)});
    }
    return result;
}

std::vector<LocalPoint> join(std::vector<std::vector<LocalPoint>> parts)
{
    std::vector<LocalPoint> result;
    for (auto& part : parts) {
        result.insert(result.end(), part.begin(), part.end());
    }
    return result;
}

TagList roadTags(const std::string& highway, const std::string& maxspeed = {})
{
    TagList tags{{"highway", highway}};
    if (!maxspeed.empty()) {
        tags.emplace_back("maxspeed", maxspeed);
    }
    return tags;
}

StreetSpec street(std::string name, std::vector<LocalPoint> points, TagList tags, Addressing addressing,
                  OddSide oddSide = OddSide::Left)
{
    StreetSpec planned;
    planned.name = std::move(name);
    planned.points = std::move(points);
    planned.tags = std::move(tags);
    if (addressing != Addressing::None) {
        planned.addresses.push_back({0.0, kEverywhere, addressing});
    }
    planned.oddSide = oddSide;
    return planned;
}

StreetSpec culDeSac(std::string name, LocalPoint from, LocalPoint to)
{
    StreetSpec planned = street(std::move(name), {from, to}, roadTags("residential"), Addressing::Nodes);
    planned.turningCircleAtEnd = true;
    return planned;
}

// Returns the index of 4th Street, where Kestrel Parkway joins downtown.
std::size_t addDowntown(TownPlan& plan)
{
    std::size_t fourthStreet = 0;
    const std::vector<std::string> streetNames{"Front Street", "1st Street", "2nd Street", "3rd Street",
                                               "4th Street", "5th Street", "6th Street"};
    for (std::size_t i = 0; i < kStreetY.size(); ++i) {
        std::vector<LocalPoint> points;
        for (const double x : kAvenueX) {
            points.push_back({x, kStreetY[i]});
        }
        const std::string& name = streetNames[i];
        Addressing addressing = Addressing::Nodes;
        if (name == "Front Street") {
            addressing = Addressing::Buildings;
        } else if (name == "5th Street") {
            addressing = Addressing::Interpolation;
        }
        StreetSpec planned = street(name, std::move(points), roadTags("residential"), addressing);
        planned.addresses = {{0.0, kGridWidth, addressing}};
        // The one-way pair: 2nd Street eastbound, 3rd Street westbound. Both are
        // numbered from the west end; 3rd Street's way is drawn westward.
        if (name == "2nd Street" || name == "3rd Street") {
            planned.tags = roadTags("tertiary", "25 mph");
            planned.tags.emplace_back("oneway", "yes");
            if (name == "3rd Street") {
                planned.wayDirection = WayDirection::AgainstPoints;
            }
        }
        const std::size_t index = plan.addStreet(std::move(planned));
        if (name == "4th Street") {
            fourthStreet = index;
        }
    }

    const std::vector<std::string> avenueNames{"Alder Avenue", "Birch Avenue", "Cedar Avenue",
                                               "Dogwood Avenue", "", "Elm Avenue",
                                               "Fir Avenue", "Hazel Avenue", "Juniper Avenue"};
    for (std::size_t i = 0; i < kAvenueX.size(); ++i) {
        if (avenueNames[i].empty()) {
            continue; // North Main Street, below
        }
        std::vector<LocalPoint> points;
        for (const double y : kStreetY) {
            points.push_back({kAvenueX[i], y});
        }
        const Addressing addressing =
            avenueNames[i] == "Birch Avenue" ? Addressing::Interpolation : Addressing::Nodes;
        StreetSpec planned = street(avenueNames[i], std::move(points), roadTags("residential"), addressing);
        planned.addresses = {{0.0, kGridHeight, addressing}};
        plan.addStreet(std::move(planned));
    }
    return fourthStreet;
}

void addNorthSide(TownPlan& plan, std::size_t fourthStreet)
{
    // North Main Street: from the bridge through downtown (shops, mapped as
    // buildings), past two cul-de-sacs, to the interchange and under the highway.
    std::vector<LocalPoint> mainPoints{{0, 60}};
    for (const double y : kStreetY) {
        mainPoints.push_back({0, y});
    }
    for (const double y : {1200.0, 1350.0, 1640.0, 1760.0}) {
        mainPoints.push_back({0, y});
    }
    StreetSpec northMain = street("North Main Street", std::move(mainPoints), roadTags("tertiary", "30 mph"),
                                  Addressing::None);
    northMain.startDistance = -140.0; // numbered from Front Street
    northMain.addresses = {{0.0, kGridHeight, Addressing::Buildings}, {kGridHeight, 1440.0, Addressing::Nodes}};
    plan.addStreet(std::move(northMain));

    plan.addStreet(culDeSac("Wren Court", {0, 1200}, {180, 1200}));
    plan.addStreet(culDeSac("Heron Court", {0, 1350}, {-160, 1350}));

    // Kestrel Parkway: the curving arterial from downtown to the highway's west end.
    StreetSpec kestrel = street("Kestrel Parkway", curve({-520, 720}, {-1400, 720}, {-2300, 1000}, {-2300, 1500}, 20.0),
                                roadTags("secondary", "45 mph"), Addressing::None);
    kestrel.addresses = {{0.0, kEverywhere, Addressing::Nodes}};
    kestrel.houseSpacing = 40.0;
    const std::size_t kestrelIndex = plan.addStreet(std::move(kestrel));
    // Where the parkway meets Alder Avenue it may only go straight on into 4th Street.
    plan.addRestriction("only_straight_on", kestrelIndex, {-520, 720}, fourthStreet);

    // QZ 40: two carriageways from the end of Kestrel Parkway, bending east, over
    // North Main Street, to where they merge into the two-way trunk road.
    const LocalPoint split{-2300, 1500};
    const LocalPoint bend{-2100, 1500};
    const auto motorway = [](TagList extra) {
        TagList tags = roadTags("motorway", "65 mph");
        tags.emplace_back("ref", kMotorwayRef);
        tags.emplace_back("oneway", "yes");
        tags.emplace_back("lanes", "2");
        tags.insert(tags.end(), extra.begin(), extra.end());
        return tags;
    };
    const TagList overpass{{"bridge", "yes"}, {"layer", "1"}};
    plan.addStreet(street("", join({{split}, arc(bend, 190.0, 170, 100, -10), {{-2100, 1690}, {-450, 1690}, {-20, 1690}}}),
                          motorway({}), Addressing::None));
    plan.addStreet(street("", {{-20, 1690}, {20, 1690}}, motorway(overpass), Addressing::None));
    plan.addStreet(street("", {{20, 1690}, {450, 1690}, {1400, 1690}, {1500, 1700}}, motorway({}), Addressing::None));
    plan.addStreet(street("", {{1500, 1700}, {1400, 1710}, {450, 1710}, {20, 1710}}, motorway({}), Addressing::None));
    plan.addStreet(street("", {{20, 1710}, {-20, 1710}}, motorway(overpass), Addressing::None));
    plan.addStreet(street("", join({{{-20, 1710}, {-450, 1710}, {-2100, 1710}}, arc(bend, 210.0, 100, 170, 10), {split}}),
                          motorway({}), Addressing::None));
    TagList trunk = roadTags("trunk", "55 mph");
    trunk.emplace_back("ref", kMotorwayRef);
    plan.addStreet(street("", {{1500, 1700}, {2200, 1700}, {3000, 1700}}, trunk, Addressing::None));

    // The diamond interchange with North Main Street.
    // Each ramp is signed: the on-ramps with the highway's direction and the
    // next town that way, the off-ramps with Halverby.
    TagList ramp = roadTags("motorway_link", "35 mph");
    ramp.emplace_back("oneway", "yes");
    const auto signed_ = [&ramp](const char* destination, const char* destinationRef) {
        TagList tags = ramp;
        tags.emplace_back("destination", destination);
        if (destinationRef != nullptr) {
            tags.emplace_back("destination:ref", destinationRef);
        }
        return tags;
    };
    plan.addStreet(street("", {{-450, 1690}, {-300, 1682}, {-150, 1665}, {-60, 1648}, {0, 1640}},
                          signed_("Halverby", nullptr), Addressing::None));
    plan.addStreet(street("", {{0, 1640}, {60, 1648}, {150, 1665}, {300, 1682}, {450, 1690}},
                          signed_("Marlow Springs", "QZ 40 E"), Addressing::None));
    plan.addStreet(street("", {{450, 1710}, {300, 1718}, {150, 1735}, {60, 1752}, {0, 1760}},
                          signed_("Halverby", nullptr), Addressing::None));
    plan.addStreet(street("", {{0, 1760}, {-60, 1752}, {-150, 1735}, {-300, 1718}, {-450, 1710}},
                          signed_("Oakport", "QZ 40 W"), Addressing::None));

    // Quarry Road: north of the highway, bending east to the quarry gate.
    StreetSpec quarry = street("Quarry Road", curve({0, 1760}, {0, 2150}, {200, 2300}, {500, 2300}, 20.0),
                               roadTags("unclassified"), Addressing::Nodes);
    quarry.houseSpacing = 30.0;
    quarry.turningCircleAtEnd = true;
    plan.addStreet(std::move(quarry));
}

void addSouthSide(TownPlan& plan)
{
    // The one bridge over the river carries South Main Street.
    TagList bridge = roadTags("tertiary", "30 mph");
    bridge.insert(bridge.end(), {{"bridge", "yes"}, {"layer", "1"}, {"bridge:name", std::string(kSampleTownBridge)}});
    plan.addStreet(street("South Main Street", {{0, 60}, {0, -60}}, bridge, Addressing::None));

    // South Main Street is numbered southward from y = -100; odd numbers east.
    StreetSpec mainNorth = street("South Main Street", {{0, -60}, {0, -300}, {0, -670}}, roadTags("tertiary", "30 mph"),
                                  Addressing::Nodes, OddSide::Left);
    mainNorth.startDistance = -40.0;
    plan.addStreet(std::move(mainNorth));
    StreetSpec mainSouth = street("South Main Street", {{0, -730}, {0, -1100}, {0, -1500}}, roadTags("tertiary", "30 mph"),
                                  Addressing::Nodes, OddSide::Left);
    mainSouth.startDistance = 630.0;
    plan.addStreet(std::move(mainSouth));

    // The roundabout, counter-clockwise from its north exit, closed.
    std::vector<LocalPoint> ring;
    for (int angle = 90; angle <= 450; angle += 30) {
        switch (angle % 360) { // the four exits exactly on the roads' ends
        case 90: ring.push_back({0, -670}); break;
        case 180: ring.push_back({-30, -700}); break;
        case 270: ring.push_back({0, -730}); break;
        case 0: ring.push_back({30, -700}); break;
        default: {
            const double radians = angle * std::numbers::pi / 180.0;
            ring.push_back({30.0 * std::cos(radians), -700.0 + 30.0 * std::sin(radians)});
        }
        }
    }
    TagList roundabout = roadTags("tertiary");
    roundabout.emplace_back("junction", "roundabout");
    plan.addStreet(street("", std::move(ring), roundabout, Addressing::None));

    plan.addStreet(street("Millbrook Road", {{-30, -700}, {-300, -700}, {-600, -700}, {-1400, -700}},
                          roadTags("tertiary"), Addressing::Nodes));
    plan.addStreet(street("Larkspur Road", {{30, -700}, {300, -700}, {600, -700}, {1000, -700}, {1400, -700}},
                          roadTags("tertiary"), Addressing::Nodes));
    plan.addStreet(street("Osprey Lane", {{-600, -300}, {-300, -300}, {0, -300}, {600, -300}},
                          roadTags("residential"), Addressing::Interpolation));
    const std::size_t thistle =
        plan.addStreet(street("Thistle Lane", {{-600, -1100}, {0, -1100}, {300, -1100}, {600, -1100}, {1000, -1100}},
                              roadTags("residential"), Addressing::Nodes));
    const std::size_t copperfield = plan.addStreet(street("Copperfield Drive", {{-600, -300}, {-600, -700}, {-600, -1100}},
                                                          roadTags("residential"), Addressing::Nodes));
    // At the corner where Copperfield Drive ends in Thistle Lane, no left turn.
    plan.addRestriction("no_left_turn", copperfield, {-600, -1100}, thistle);
    plan.addStreet(street("Sorrel Drive", {{600, -300}, {600, -700}, {600, -1100}},
                          roadTags("residential"), Addressing::Nodes));
    plan.addStreet(culDeSac("Plover Court", {-300, -300}, {-300, -450}));
    plan.addStreet(culDeSac("Bramble Court", {300, -1100}, {300, -950}));

    // A private lane: a shortcut between Larkspur Road and Thistle Lane that cars
    // may not use.
    TagList privateRoad = roadTags("residential");
    privateRoad.emplace_back("access", "private");
    plan.addStreet(street("Fallow Lane", {{1000, -700}, {1000, -1100}}, privateRoad, Addressing::None));

    // A service lane from the end of Bramble Court to Larkspur Road, closed by
    // a private gate halfway: the shortcut a route must not take.
    plan.addStreet(street("", {{300, -950}, {300, -825}, {300, -700}}, roadTags("service"), Addressing::None));
    plan.tagPoint({300, -825}, {{"barrier", "gate"}, {"access", "private"}});

    // A footpath from the end of Plover Court to Millbrook Road, Plover Walk,
    // with a few houses that no car can reach on the path itself.
    StreetSpec walk = street("Plover Walk", {{-300, -450}, {-300, -700}}, {{"highway", "footway"}}, Addressing::Nodes);
    walk.houseSpacing = 100.0;
    plan.addStreet(std::move(walk));
}

void addRiver(TownPlan& plan)
{
    std::vector<LocalPoint> points;
    for (int x = -3025; x <= 3025; x += 50) {
        points.push_back({static_cast<double>(x), 60.0 * std::sin(x / 500.0)});
    }
    plan.addFeature(std::move(points), {{"waterway", "river"}, {"name", std::string(kSampleTownRiver)}});
}

} // namespace

void writeSampleTown(const std::filesystem::path& path)
{
    PlanPlace place{std::string(kSampleTownCity), std::string(kSampleTownState), [](LocalPoint point) {
                        return std::string(point.y > 0.0 ? kSampleTownNorthZip : kSampleTownSouthZip);
                    }};
    TownPlan plan(kSampleTownOriginLat, kSampleTownOriginLon, std::move(place));
    const std::size_t fourthStreet = addDowntown(plan);
    addNorthSide(plan, fourthStreet);
    addSouthSide(plan);
    addRiver(plan);
    plan.write(path);
}

} // namespace tw::service
