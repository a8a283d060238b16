#include "service/generator/synthetic_region.h"

#include "service/generator/generator_error.h"
#include "service/generator/osm_file_writer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace tw::service {

namespace {

constexpr double kOriginLat = 38.5;
constexpr double kOriginLon = -97.25;
constexpr double kEarthRadius = 6371008.8;
constexpr double kBlock = 120.0;       // metres between grid crossings
constexpr double kJitter = 40.0;       // each crossing moves up to half this either way
constexpr double kTownGap = 1500.0;    // open country between towns
constexpr double kHouseOffset = 15.0;
constexpr int kMaxTownSide = 32;
constexpr std::int64_t kConnectorStride = 32; // node ids reserved per connector
constexpr int kCountyRoadShapePoints = 14;
constexpr int kCarriagewayShapePoints = 8;

const std::array<const char*, 32> kAvenueNames{
    "Ash", "Beech", "Chestnut", "Dale", "Ember", "Fern", "Garnet", "Heath", "Iris", "Jasper", "Knoll",
    "Laurel", "Maple", "Nettle", "Oak", "Poplar", "Quince", "Rowan", "Sage", "Teal", "Umber", "Vale",
    "Willow", "Yarrow", "Aspen", "Briar", "Cobble", "Dune", "Elder", "Flint", "Grove", "Hollow"};
const std::array<const char*, 32> kTownPrefixes{
    "Ash", "Bram", "Cor", "Dun", "Ell", "Fen", "Gar", "Hal", "Ivy", "Jor", "Kel", "Lan", "Mar", "Nor",
    "Oak", "Pen", "Quen", "Ros", "Sal", "Tor", "Ul", "Ver", "Wex", "Yar", "Zel", "Brin", "Cal", "Dor",
    "Esk", "Fal", "Gil", "Hol"};
const std::array<const char*, 32> kTownSuffixes{
    "ford", "ley", "wick", "ton", "by", "field", "mere", "stead", "worth", "dale", "bury", "combe",
    "haven", "hurst", "marsh", "moor", "ridge", "shaw", "thorpe", "vale", "well", "wood", "brook",
    "cliff", "croft", "gate", "holm", "ness", "port", "stow", "wold", "burn"};

std::uint64_t mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30U)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27U)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31U);
}

std::uint64_t hash(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d)
{
    return mix(mix(mix(mix(a) ^ b) ^ c) ^ d);
}

// A fraction in [0, 1) from a hash.
double unit(std::uint64_t h)
{
    return static_cast<double>(h >> 11U) / 9007199254740992.0;
}

std::string ordinal(int n)
{
    const int lastTwo = n % 100;
    const char* suffix = "th";
    if (lastTwo < 11 || lastTwo > 13) {
        switch (n % 10) {
        case 1: suffix = "st"; break;
        case 2: suffix = "nd"; break;
        case 3: suffix = "rd"; break;
        default: break;
        }
    }
    return std::to_string(n) + suffix;
}

struct Point {
    double x = 0.0;
    double y = 0.0;
};

enum class Axis { Row, Column };

// The whole region's geometry and id scheme, computed from the town count alone,
// so the node pass and the way pass agree without storing anything.
class Region {
public:
    explicit Region(std::uint64_t minJunctions)
    {
        m_side = minJunctions >= static_cast<std::uint64_t>(kMaxTownSide) * kMaxTownSide
                     ? kMaxTownSide
                     : std::max(2, static_cast<int>(std::ceil(std::sqrt(static_cast<double>(minJunctions)))));
        const std::uint64_t perTown = static_cast<std::uint64_t>(m_side) * static_cast<std::uint64_t>(m_side);
        const std::uint64_t needed = (minJunctions + perTown - 1) / perTown;
        m_townsX = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(needed))));
        m_townsY = static_cast<int>((needed + static_cast<std::uint64_t>(m_townsX) - 1) / static_cast<std::uint64_t>(m_townsX));
        m_pitch = (m_side - 1) * kBlock + kTownGap;
        m_blocksPerTown = 2 * m_side * (m_side - 1);
        m_townStride = static_cast<std::int64_t>(perTown) + 4LL * m_blocksPerTown;
        m_metresPerDegreeLat = kEarthRadius * std::numbers::pi / 180.0;
        m_metresPerDegreeLon = m_metresPerDegreeLat * std::cos(kOriginLat * std::numbers::pi / 180.0);
    }

    int side() const { return m_side; }
    int middle() const { return m_side / 2; }
    int towns() const { return m_townsX * m_townsY; }
    int townsX() const { return m_townsX; }
    int townsY() const { return m_townsY; }
    int horizontalConnectors() const { return (m_townsX - 1) * m_townsY; }
    int verticalConnectors() const { return m_townsX * (m_townsY - 1); }
    int blocksPerStreet() const { return m_side - 1; }

    Point gridPoint(int town, int row, int column) const
    {
        const double ox = (town % m_townsX) * m_pitch;
        const double oy = (town / m_townsX) * m_pitch;
        const std::uint64_t h = hash(static_cast<std::uint64_t>(town), static_cast<std::uint64_t>(row),
                                     static_cast<std::uint64_t>(column), 1);
        const double jx = (unit(h) - 0.5) * kJitter;
        const double jy = (unit(mix(h)) - 0.5) * kJitter;
        return {ox + column * kBlock + jx, oy + row * kBlock + jy};
    }

    std::int64_t gridId(int town, int row, int column) const
    {
        return 1 + town * m_townStride + static_cast<std::int64_t>(row) * m_side + column;
    }

    // Street k of a town: rows 0 .. side-1, then columns.
    std::int64_t slotId(int town, int street, int block, int slot) const
    {
        return 1 + town * m_townStride + static_cast<std::int64_t>(m_side) * m_side +
               (static_cast<std::int64_t>(street) * blocksPerStreet() + block) * 4 + slot;
    }

    std::int64_t connectorId(int connector, int slot) const
    {
        return 1 + towns() * m_townStride + static_cast<std::int64_t>(connector) * kConnectorStride + slot;
    }

    std::pair<double, double> latLon(Point p) const
    {
        return {kOriginLat + p.y / m_metresPerDegreeLat, kOriginLon + p.x / m_metresPerDegreeLon};
    }

    OsmBounds bounds() const
    {
        const auto [minLat, minLon] = latLon({-kTownGap, -kTownGap});
        const auto [maxLat, maxLon] = latLon({m_townsX * m_pitch, m_townsY * m_pitch});
        return {minLat, minLon, maxLat, maxLon};
    }

    // Block b of street k: 0 none, 1 two address nodes, 2 an interpolation way.
    int blockAddressing(int town, int street, int block) const
    {
        const std::uint64_t h = hash(static_cast<std::uint64_t>(town), static_cast<std::uint64_t>(street),
                                     static_cast<std::uint64_t>(block), 2) % 8U;
        return h < 2 ? 1 : (h == 2 ? 2 : 0);
    }

    static std::string cityName(int town)
    {
        std::string name = std::string(kTownPrefixes[static_cast<std::size_t>(town) % 32]) +
                           kTownSuffixes[(static_cast<std::size_t>(town) / 32) % 32];
        if (town >= 1024) {
            name += " " + std::to_string(town / 1024 + 1);
        }
        return name;
    }

    static std::string postcode(int town) { return std::to_string(10000 + town); }

    std::string streetName(int street) const
    {
        if (street < m_side) {
            return ordinal(street + 1) + " Street";
        }
        const int column = street - m_side;
        std::string name = kAvenueNames[static_cast<std::size_t>(column) % kAvenueNames.size()];
        if (column >= static_cast<int>(kAvenueNames.size())) {
            name += " " + std::to_string(column / static_cast<int>(kAvenueNames.size()) + 1);
        }
        return name + " Avenue";
    }

    // Endpoints of the numbering direction of block b on street k.
    std::pair<Point, Point> blockEnds(int town, int street, int block) const
    {
        if (street < m_side) {
            return {gridPoint(town, street, block), gridPoint(town, street, block + 1)};
        }
        const int column = street - m_side;
        return {gridPoint(town, block, column), gridPoint(town, block + 1, column)};
    }

    bool motorwayRow(int townRow) const { return townRow % 3 == 0; }

private:
    int m_side = 2;
    int m_townsX = 1;
    int m_townsY = 1;
    double m_pitch = 0.0;
    int m_blocksPerTown = 0;
    std::int64_t m_townStride = 0;
    double m_metresPerDegreeLat = 0.0;
    double m_metresPerDegreeLon = 0.0;
};

Point lerp(Point a, Point b, double f)
{
    return {a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f};
}

// A house point `f` of the way along a block, on the left (odd) or right side.
Point besideBlock(Point a, Point b, double f, bool left)
{
    const double length = std::hypot(b.x - a.x, b.y - a.y);
    const double nx = -(b.y - a.y) / length;
    const double ny = (b.x - a.x) / length;
    const Point on = lerp(a, b, f);
    const double side = left ? kHouseOffset : -kHouseOffset;
    return {on.x + nx * side, on.y + ny * side};
}

// Geometry of the link between two neighbouring towns: a county road, or on
// motorway rows a divided motorway with a ramp at each end.
struct Connector {
    Point from;
    Point to;
    std::int64_t fromId = 0;
    std::int64_t toId = 0;
    bool motorway = false;
    int index = 0;
    double bend = 0.0;
};

// Points of a county road (slots 0..13), or of the carriageways: slot 0 a1,
// 1 a2, 2 b1, 3 b2, 4.. eastbound shape, 4+8.. westbound shape.
Point connectorPoint(const Connector& c, int slot)
{
    if (!c.motorway) {
        const double f = static_cast<double>(slot + 1) / (kCountyRoadShapePoints + 1);
        const Point on = lerp(c.from, c.to, f);
        const double length = std::hypot(c.to.x - c.from.x, c.to.y - c.from.y);
        const double nx = -(c.to.y - c.from.y) / length;
        const double ny = (c.to.x - c.from.x) / length;
        const double offset = c.bend * std::sin(std::numbers::pi * f);
        return {on.x + nx * offset, on.y + ny * offset};
    }
    const Point a1{c.from.x + 200.0, c.from.y - 15.0};
    const Point a2{c.to.x - 200.0, c.to.y - 15.0};
    const Point b1{c.to.x - 200.0, c.to.y + 15.0};
    const Point b2{c.from.x + 200.0, c.from.y + 15.0};
    switch (slot) {
    case 0: return a1;
    case 1: return a2;
    case 2: return b1;
    case 3: return b2;
    default: break;
    }
    const int k = slot - 4;
    const double f = static_cast<double>(k % kCarriagewayShapePoints + 1) / (kCarriagewayShapePoints + 1);
    return k < kCarriagewayShapePoints ? lerp(a1, a2, f) : lerp(b1, b2, f);
}

int connectorSlots(const Connector& c)
{
    return c.motorway ? 4 + 2 * kCarriagewayShapePoints : kCountyRoadShapePoints;
}

std::vector<Connector> connectors(const Region& region)
{
    std::vector<Connector> result;
    const int s = region.side();
    const int m = region.middle();
    int index = 0;
    for (int ty = 0; ty < region.townsY(); ++ty) {
        for (int tx = 0; tx + 1 < region.townsX(); ++tx) {
            const int a = ty * region.townsX() + tx;
            Connector c{region.gridPoint(a, m, s - 1), region.gridPoint(a + 1, m, 0), region.gridId(a, m, s - 1),
                        region.gridId(a + 1, m, 0), region.motorwayRow(ty), index++, 0.0};
            result.push_back(c);
        }
    }
    for (int ty = 0; ty + 1 < region.townsY(); ++ty) {
        for (int tx = 0; tx < region.townsX(); ++tx) {
            const int a = ty * region.townsX() + tx;
            Connector c{region.gridPoint(a, s - 1, m), region.gridPoint(a + region.townsX(), 0, m),
                        region.gridId(a, s - 1, m), region.gridId(a + region.townsX(), 0, m), false, index++, 0.0};
            result.push_back(c);
        }
    }
    for (Connector& c : result) {
        c.bend = (unit(hash(static_cast<std::uint64_t>(c.index), 0, 0, 3)) - 0.5) * 400.0;
    }
    return result;
}

class RegionWriter {
public:
    RegionWriter(const Region& region, OsmFileWriter& writer) : m_region(region), m_writer(writer) {}

    void node(std::int64_t id, Point p, std::span<const OsmTag> tags = {})
    {
        const auto [lat, lon] = m_region.latLon(p);
        m_writer.addNode(id, lat, lon, tags);
    }

    void way(std::span<const std::int64_t> refs, std::span<const OsmTag> tags) { m_writer.addWay(++m_wayId, refs, tags); }

private:
    const Region& m_region;
    OsmFileWriter& m_writer;
    std::int64_t m_wayId = 0;
};

} // namespace

SyntheticRegionStats writeSyntheticRegion(const std::filesystem::path& path, std::uint64_t minJunctions)
{
    if (minJunctions == 0 || minJunctions > kMaxSyntheticJunctions) {
        throw GeneratorError("the junction count must be between 1 and " + std::to_string(kMaxSyntheticJunctions));
    }
    const Region region(minJunctions);
    const std::vector<Connector> links = connectors(region);
    const int s = region.side();
    SyntheticRegionStats stats;
    stats.towns = static_cast<std::uint64_t>(region.towns());
    stats.junctions = stats.towns * static_cast<std::uint64_t>(s) * static_cast<std::uint64_t>(s);

    OsmFileWriter file(path, region.bounds());
    RegionWriter out(region, file);
    static const std::string kState = "QZ";

    // Nodes: each town's crossings, then its address nodes; then the connectors.
    for (int t = 0; t < region.towns(); ++t) {
        for (int r = 0; r < s; ++r) {
            for (int c = 0; c < s; ++c) {
                out.node(region.gridId(t, r, c), region.gridPoint(t, r, c));
            }
        }
        const std::string city = Region::cityName(t);
        const std::string postcode = Region::postcode(t);
        for (int k = 0; k < 2 * s; ++k) {
            const std::string street = region.streetName(k);
            for (int b = 0; b < region.blocksPerStreet(); ++b) {
                const int kind = region.blockAddressing(t, k, b);
                if (kind == 0) {
                    continue;
                }
                const auto [a, z] = region.blockEnds(t, k, b);
                const int hundred = 100 * (b + 1);
                const auto house = [&](int slot, int number, double f, bool left) {
                    const std::string text = std::to_string(number);
                    const std::array<OsmTag, 5> tags{{{"addr:housenumber", text},
                                                      {"addr:street", street},
                                                      {"addr:city", city},
                                                      {"addr:postcode", postcode},
                                                      {"addr:state", kState}}};
                    out.node(region.slotId(t, k, b, slot), besideBlock(a, z, f, left), tags);
                    ++stats.addresses;
                };
                if (kind == 1) {
                    house(0, hundred + 51, 0.5, true);
                    house(1, hundred + 50, 0.5, false);
                } else {
                    house(2, hundred + 11, 0.1, true);
                    house(3, hundred + 89, 0.9, true);
                }
            }
        }
    }
    for (const Connector& c : links) {
        for (int slot = 0; slot < connectorSlots(c); ++slot) {
            out.node(region.connectorId(c.index, slot), connectorPoint(c, slot));
        }
        if (c.motorway) {
            stats.junctions += 4;
        }
    }

    // Ways: each town's streets and interpolation ways, then the connectors.
    std::vector<std::int64_t> refs;
    for (int t = 0; t < region.towns(); ++t) {
        for (int k = 0; k < 2 * s; ++k) {
            const bool row = k < s;
            const int line = row ? k : k - s;
            refs.clear();
            for (int i = 0; i < s; ++i) {
                refs.push_back(row ? region.gridId(t, line, i) : region.gridId(t, i, line));
            }
            const std::string name = region.streetName(k);
            const bool main = line == region.middle();
            std::vector<OsmTag> tags{{"highway", main ? "tertiary" : "residential"}, {"name", name}};
            if (main) {
                tags.emplace_back("maxspeed", "35 mph");
            } else if (row && line % 4 == 1) {
                tags.emplace_back("oneway", "yes"); // eastbound
            } else if (row && line % 4 == 3) {
                std::reverse(refs.begin(), refs.end());
                tags.emplace_back("oneway", "yes"); // westbound
            }
            out.way(refs, tags);
        }
        for (int k = 0; k < 2 * s; ++k) {
            const std::string street = region.streetName(k);
            for (int b = 0; b < region.blocksPerStreet(); ++b) {
                if (region.blockAddressing(t, k, b) != 2) {
                    continue;
                }
                const std::array<std::int64_t, 2> ends{region.slotId(t, k, b, 2), region.slotId(t, k, b, 3)};
                const std::array<OsmTag, 2> tags{{{"addr:interpolation", "odd"}, {"addr:street", street}}};
                out.way(ends, tags);
            }
        }
    }
    for (const Connector& c : links) {
        const std::string ref = (c.motorway ? "QZ " : "CR ") + std::to_string(c.motorway ? 100 + c.index : c.index + 1);
        if (!c.motorway) {
            refs.assign({c.fromId});
            for (int slot = 0; slot < kCountyRoadShapePoints; ++slot) {
                refs.push_back(region.connectorId(c.index, slot));
            }
            refs.push_back(c.toId);
            const std::array<OsmTag, 3> tags{{{"highway", "secondary"}, {"ref", ref}, {"maxspeed", "55 mph"}}};
            out.way(refs, tags);
            continue;
        }
        const std::array<OsmTag, 4> motorway{{{"highway", "motorway"}, {"ref", ref}, {"oneway", "yes"}, {"maxspeed", "65 mph"}}};
        const std::array<OsmTag, 2> ramp{{{"highway", "motorway_link"}, {"oneway", "yes"}}};
        const auto slot = [&](int i) { return region.connectorId(c.index, i); };
        out.way(std::array<std::int64_t, 2>{c.fromId, slot(0)}, ramp);
        refs.assign({slot(0)});
        for (int i = 0; i < kCarriagewayShapePoints; ++i) {
            refs.push_back(slot(4 + i));
        }
        refs.push_back(slot(1));
        out.way(refs, motorway);
        out.way(std::array<std::int64_t, 2>{slot(1), c.toId}, ramp);
        out.way(std::array<std::int64_t, 2>{c.toId, slot(2)}, ramp);
        refs.assign({slot(2)});
        for (int i = 0; i < kCarriagewayShapePoints; ++i) {
            refs.push_back(slot(4 + kCarriagewayShapePoints + i));
        }
        refs.push_back(slot(3));
        out.way(refs, motorway);
        out.way(std::array<std::int64_t, 2>{slot(3), c.fromId}, ramp);
    }
    file.commit();
    stats.nodes = file.nodeCount();
    stats.ways = file.wayCount();
    return stats;
}

} // namespace tw::service
