#include "service/map/osm_importer.h"

#include "service/map/geo.h"
#include "service/map/import_progress.h"

#include <osmium/io/any_input.hpp>
#include <osmium/osm/node.hpp>
#include <osmium/osm/relation.hpp>
#include <osmium/osm/way.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace tw::service {

namespace {

struct ClassInfo {
    const char* highway;
    RoadClass roadClass;
    int defaultKmh;
    bool impliedOneway;
};

// Default speeds are typical US urban/suburban driving speeds per class.
constexpr std::array<ClassInfo, kRoadClassCount> kClasses = {{
    {"motorway", RoadClass::Motorway, 105, true},
    {"trunk", RoadClass::Trunk, 85, false},
    {"primary", RoadClass::Primary, 65, false},
    {"secondary", RoadClass::Secondary, 55, false},
    {"tertiary", RoadClass::Tertiary, 45, false},
    {"unclassified", RoadClass::Unclassified, 40, false},
    {"residential", RoadClass::Residential, 35, false},
    {"living_street", RoadClass::LivingStreet, 10, false},
    {"service", RoadClass::Service, 15, false},
    {"motorway_link", RoadClass::MotorwayLink, 60, true},
    {"trunk_link", RoadClass::TrunkLink, 50, false},
    {"primary_link", RoadClass::PrimaryLink, 45, false},
    {"secondary_link", RoadClass::SecondaryLink, 40, false},
    {"tertiary_link", RoadClass::TertiaryLink, 35, false},
}};

const ClassInfo* classOf(const char* highway)
{
    if (highway == nullptr) {
        return nullptr;
    }
    for (const ClassInfo& info : kClasses) {
        if (std::strcmp(info.highway, highway) == 0) {
            return &info;
        }
    }
    return nullptr;
}

bool isOneOf(const char* value, std::initializer_list<const char*> list)
{
    if (value == nullptr) {
        return false;
    }
    for (const char* item : list) {
        if (std::strcmp(value, item) == 0) {
            return true;
        }
    }
    return false;
}

// The most specific access tag that is present decides.
bool closedToCars(const osmium::TagList& tags)
{
    for (const char* key : {"motorcar", "motor_vehicle", "vehicle", "access"}) {
        if (const char* value = tags[key]) {
            return isOneOf(value, {"no", "private", "agricultural", "forestry", "emergency", "military",
                                   "delivery", "permit"});
        }
    }
    return false;
}

bool yes(const char* value)
{
    return value != nullptr && !isOneOf(value, {"no", "false", "0"});
}

enum class Direction : std::uint8_t { Both, Forward, Backward, Closed };

Direction directionOf(const osmium::TagList& tags, const ClassInfo& info, bool roundabout)
{
    const char* oneway = tags["oneway"];
    if (isOneOf(oneway, {"yes", "1", "true"})) {
        return Direction::Forward;
    }
    if (isOneOf(oneway, {"-1", "reverse"})) {
        return Direction::Backward;
    }
    if (isOneOf(oneway, {"reversible", "alternating"})) {
        return Direction::Closed;
    }
    if (isOneOf(oneway, {"no", "false", "0"})) {
        return Direction::Both;
    }
    return (info.impliedOneway || roundabout) ? Direction::Forward : Direction::Both;
}

// The access tags of a barrier node, if any says yes or no to cars.
std::optional<bool> barrierOpenToCars(const osmium::TagList& tags)
{
    for (const char* key : {"motorcar", "motor_vehicle", "vehicle", "access"}) {
        if (const char* value = tags[key]) {
            return !isOneOf(value, {"no", "private", "agricultural", "forestry", "emergency", "military",
                                    "delivery", "permit"});
        }
    }
    return std::nullopt;
}

// Whether a node's barrier=* stops cars. Access tags on the barrier decide when
// present; a locked barrier is closed. Otherwise barriers built to let traffic
// through (gates, lift gates, toll booths, cattle grids ...) are open, and
// barriers built to keep vehicles out (bollards, blocks, chains, fences ...)
// are closed.
bool barrierStopsCars(const osmium::TagList& tags)
{
    const char* barrier = tags["barrier"];
    if (barrier == nullptr || isOneOf(barrier, {"no", "none"})) {
        return false;
    }
    if (const std::optional<bool> open = barrierOpenToCars(tags)) {
        return !*open;
    }
    if (isOneOf(tags["locked"], {"yes"})) {
        return true;
    }
    return !isOneOf(barrier, {"gate", "lift_gate", "swing_gate", "sliding_gate", "hampshire_gate", "toll_booth",
                              "border_control", "cattle_grid", "entrance", "height_restrictor", "sally_port",
                              "kerb", "speed_bump", "checkpoint", "yes"});
}

// The turn a restriction names, when it names one (no_entry and no_exit do not).
enum class TurnWord : std::uint8_t { Any, Left, Right, Straight, UTurn };

TurnWord turnWordOf(std::string_view value)
{
    if (value.find("left") != std::string_view::npos) {
        return TurnWord::Left;
    }
    if (value.find("right") != std::string_view::npos) {
        return TurnWord::Right;
    }
    if (value.find("straight") != std::string_view::npos) {
        return TurnWord::Straight;
    }
    if (value.find("u_turn") != std::string_view::npos) {
        return TurnWord::UTurn;
    }
    return TurnWord::Any;
}

// A restriction relation as read, members by OSM id.
struct RawRestriction {
    RestrictionKind kind = RestrictionKind::No;
    TurnWord word = TurnWord::Any;
    std::vector<std::int64_t> from;
    std::vector<std::int64_t> via;  // way ids; empty when via a node
    std::int64_t viaNode = 0;       // 0 when via ways
    std::vector<std::int64_t> to;
};

// A drivable way remembered from the first pass.
struct RoadWay {
    std::int64_t id = 0;
    std::uint32_t refFirst = 0;
    std::uint32_t refCount = 0;
    StringId name = 0;
    StringId ref = 0;
    StringId destination = 0;
    StringId destinationRef = 0;
    RoadClass roadClass = RoadClass::Residential;
    std::uint8_t flags = 0;
    std::uint8_t speedKmh = 0;
    Direction direction = Direction::Both;
};

struct AddressFields {
    StringId street = 0;
    StringId houseNumber = 0;
    StringId city = 0;
    StringId postcode = 0;
    StringId state = 0;
};

struct AreaAddress {
    std::uint32_t refFirst = 0;
    std::uint32_t refCount = 0;
    AddressFields fields;
};

struct InterpolationWay {
    std::uint32_t refFirst = 0;
    std::uint32_t refCount = 0;
    Parity parity = Parity::All;
    AddressFields fields;
};

class StringTable {
public:
    StringTable() { m_strings.emplace_back(); }

    StringId intern(const char* text)
    {
        if (text == nullptr || *text == '\0') {
            return 0;
        }
        auto [it, inserted] = m_ids.try_emplace(text, static_cast<StringId>(m_strings.size()));
        if (inserted) {
            m_strings.emplace_back(text);
        }
        return it->second;
    }

    std::string_view view(StringId id) const { return m_strings[id]; }

    std::vector<std::string> take() { return std::move(m_strings); }

private:
    std::vector<std::string> m_strings;
    std::unordered_map<std::string, StringId> m_ids;
};

AddressFields addressFieldsOf(const osmium::TagList& tags, StringTable& strings)
{
    AddressFields f;
    const char* street = tags["addr:street"];
    if (street == nullptr) {
        street = tags["addr:place"];
    }
    f.street = strings.intern(street);
    f.houseNumber = strings.intern(tags["addr:housenumber"]);
    f.city = strings.intern(tags["addr:city"]);
    f.postcode = strings.intern(tags["addr:postcode"]);
    f.state = strings.intern(tags["addr:state"]);
    return f;
}

Coordinate toCoordinate(const osmium::Location& location)
{
    return Coordinate{location.lat(), location.lon()};
}

class Importer {
public:
    Importer(std::string path, ProgressReport progress)
        : m_path(std::move(path)), m_progress(progress)
    {
    }

    RoadMap run()
    {
        readWays();
        indexNodes();
        readNodes();
        RoadMap map;
        {
            ImportProgress progress(m_progress, "Building the road graph", m_start);
            progress.update(0, 1);
            buildGraph(map);
            buildRestrictions(map);
        }
        map.counts = m_counts;
        buildAddresses(map);
        map.strings = m_strings.take();
        map.finishIndexes();
        return map;
    }

private:
    void readWays()
    {
        ImportProgress progress(m_progress, "Reading roads", m_start);
        osmium::io::Reader reader(osmium::io::File(m_path),
                                  osmium::osm_entity_bits::way | osmium::osm_entity_bits::relation);
        while (osmium::memory::Buffer buffer = reader.read()) {
            for (const osmium::OSMObject& object : buffer.select<osmium::OSMObject>()) {
                if (object.type() == osmium::item_type::way) {
                    takeWay(static_cast<const osmium::Way&>(object));
                } else if (object.type() == osmium::item_type::relation) {
                    takeRelation(static_cast<const osmium::Relation&>(object));
                }
            }
            progress.update(reader.offset(), reader.file_size());
        }
        reader.close();
    }

    void appendRefs(const osmium::Way& way, std::uint32_t& first, std::uint32_t& count)
    {
        // Node positions are 32-bit: far beyond any extract a city service loads.
        if (m_refs.size() + way.nodes().size() >= kNoId) {
            throw MapError("Cannot import map file " + m_path + ": it is too large for this service");
        }
        first = static_cast<std::uint32_t>(m_refs.size());
        for (const osmium::NodeRef& ref : way.nodes()) {
            m_refs.push_back(ref.ref());
        }
        count = static_cast<std::uint32_t>(m_refs.size() - first);
    }

    void takeRelation(const osmium::Relation& relation)
    {
        const osmium::TagList& tags = relation.tags();
        if (!isOneOf(tags["type"], {"restriction"})) {
            return;
        }
        const char* value = tags["restriction:motorcar"];
        bool forCars = true;
        if (value == nullptr) {
            value = tags["restriction"];
            if (const char* except = tags["except"]) {
                const std::string_view list(except);
                forCars = list.find("motorcar") == std::string_view::npos &&
                          list.find("motor_vehicle") == std::string_view::npos;
            }
        }
        if (value == nullptr) {
            // Only for other vehicles (restriction:hgv ...) or only at times.
            forCars = tags["restriction:conditional"] == nullptr;
            if (forCars) {
                ++m_counts.restrictionsNotForCars;
            } else {
                ++m_counts.restrictionsMalformed;
            }
            return;
        }
        if (!forCars) {
            ++m_counts.restrictionsNotForCars;
            return;
        }
        RawRestriction raw;
        raw.word = turnWordOf(value);
        if (std::strncmp(value, "no_", 3) == 0) {
            raw.kind = RestrictionKind::No;
        } else if (std::strncmp(value, "only_", 5) == 0) {
            raw.kind = RestrictionKind::Only;
        } else {
            ++m_counts.restrictionsMalformed;
            return;
        }
        bool wellFormed = true;
        for (const osmium::RelationMember& member : relation.members()) {
            const std::string_view role = member.role();
            const bool isWay = member.type() == osmium::item_type::way;
            if (role == "from" && isWay) {
                raw.from.push_back(member.ref());
            } else if (role == "to" && isWay) {
                raw.to.push_back(member.ref());
            } else if (role == "via" && isWay && raw.viaNode == 0) {
                raw.via.push_back(member.ref());
            } else if (role == "via" && member.type() == osmium::item_type::node && raw.viaNode == 0 &&
                       raw.via.empty()) {
                raw.viaNode = member.ref();
            } else if (role == "from" || role == "to" || role == "via") {
                wellFormed = false;
            }
        }
        // no_entry may have several "from" ways and no_exit several "to" ways;
        // an only_* restriction has one way out.
        if (!wellFormed || raw.from.empty() || raw.to.empty() || (raw.viaNode == 0 && raw.via.empty()) ||
            (raw.kind == RestrictionKind::Only && raw.to.size() > 1) || raw.via.size() > 8 ||
            raw.from.size() * raw.to.size() > 16) {
            ++m_counts.restrictionsMalformed;
            return;
        }
        m_rawRestrictions.push_back(std::move(raw));
    }

    void takeWay(const osmium::Way& way)
    {
        const osmium::TagList& tags = way.tags();
        m_wayIds.push_back(way.id());
        if (way.nodes().size() < 2) {
            return;
        }
        if (const ClassInfo* info = classOf(tags["highway"])) {
            takeRoad(way, *info);
        } else if (const char* interpolation = tags["addr:interpolation"]) {
            if (std::strcmp(interpolation, "alphabetic") == 0) {
                return;
            }
            InterpolationWay w;
            w.parity = std::strcmp(interpolation, "odd") == 0    ? Parity::Odd
                       : std::strcmp(interpolation, "even") == 0 ? Parity::Even
                                                                 : Parity::All;
            w.fields = addressFieldsOf(tags, m_strings);
            appendRefs(way, w.refFirst, w.refCount);
            m_interpolationWays.push_back(w);
            return;
        }
        if (tags["addr:housenumber"] != nullptr && tags["highway"] == nullptr) {
            AreaAddress a;
            a.fields = addressFieldsOf(tags, m_strings);
            if (a.fields.street != 0) {
                appendRefs(way, a.refFirst, a.refCount);
                m_areaAddresses.push_back(a);
            }
        }
    }

    void takeRoad(const osmium::Way& way, const ClassInfo& info)
    {
        const osmium::TagList& tags = way.tags();
        if (yes(tags["area"]) || closedToCars(tags)) {
            return;
        }
        const bool roundabout = isOneOf(tags["junction"], {"roundabout", "circular"});
        const Direction direction = directionOf(tags, info, roundabout);
        if (direction == Direction::Closed) {
            return;
        }
        RoadWay road;
        road.id = way.id();
        road.roadClass = info.roadClass;
        road.direction = direction;
        road.name = m_strings.intern(tags["name"]);
        road.ref = m_strings.intern(tags["ref"]);
        // Signs hold for the way's direction; a two-way road's backward sign
        // has its own key.
        road.destination = m_strings.intern(tags["destination"]);
        road.destinationRef = m_strings.intern(tags["destination:ref"]);
        int speed = 0;
        if (const char* maxspeed = tags["maxspeed"]) {
            speed = parseMaxspeed(maxspeed);
        }
        road.speedKmh = static_cast<std::uint8_t>(std::clamp(speed > 0 ? speed : info.defaultKmh, 5, 150));
        if (roundabout) {
            road.flags |= kEdgeRoundabout;
        }
        if (info.roadClass >= RoadClass::MotorwayLink) {
            road.flags |= kEdgeLink;
        }
        if (yes(tags["bridge"])) {
            road.flags |= kEdgeBridge;
        }
        if (yes(tags["tunnel"])) {
            road.flags |= kEdgeTunnel;
        }
        appendRefs(way, road.refFirst, road.refCount);
        m_roads.push_back(road);
    }

    // Replaces every OSM node id in m_refs by its index in the sorted list of
    // the node ids the ways use.
    void indexNodes()
    {
        m_nodeIds = m_refs;
        std::sort(m_nodeIds.begin(), m_nodeIds.end());
        m_nodeIds.erase(std::unique(m_nodeIds.begin(), m_nodeIds.end()), m_nodeIds.end());
        m_nodeIds.shrink_to_fit();
        m_refIndex.resize(m_refs.size());
        for (std::size_t i = 0; i < m_refs.size(); ++i) {
            m_refIndex[i] = static_cast<std::uint32_t>(
                std::lower_bound(m_nodeIds.begin(), m_nodeIds.end(), m_refs[i]) - m_nodeIds.begin());
        }
        std::vector<std::int64_t>().swap(m_refs);
        m_locations.assign(m_nodeIds.size(), osmium::Location());
        m_onInterpolation.assign(m_nodeIds.size(), false);
        m_barrier.assign(m_nodeIds.size(), false);
        for (const InterpolationWay& way : m_interpolationWays) {
            for (std::uint32_t i = way.refFirst; i < way.refFirst + way.refCount; ++i) {
                m_onInterpolation[m_refIndex[i]] = true;
            }
        }
    }

    // Files are nearly always sorted by id, so the answer usually lies where
    // the previous lookup ended: checked first, in constant time, before a
    // binary search.
    std::optional<std::uint32_t> nodeIndex(std::int64_t id)
    {
        std::size_t at = m_cursor;
        const bool here = at < m_nodeIds.size() && m_nodeIds[at] >= id && (at == 0 || m_nodeIds[at - 1] < id);
        if (!here) {
            at = static_cast<std::size_t>(std::lower_bound(m_nodeIds.begin(), m_nodeIds.end(), id) -
                                          m_nodeIds.begin());
        }
        if (at == m_nodeIds.size() || m_nodeIds[at] != id) {
            m_cursor = at;
            return std::nullopt;
        }
        m_cursor = at + 1;
        return static_cast<std::uint32_t>(at);
    }

    void readNodes()
    {
        ImportProgress progress(m_progress, "Reading junctions and addresses", m_start);
        osmium::io::Reader reader(osmium::io::File(m_path), osmium::osm_entity_bits::node);
        while (osmium::memory::Buffer buffer = reader.read()) {
            for (const osmium::Node& node : buffer.select<osmium::Node>()) {
                takeNode(node);
            }
            progress.update(reader.offset(), reader.file_size());
        }
        reader.close();
    }

    void takeNode(const osmium::Node& node)
    {
        const osmium::Location location = node.location();
        if (!location.valid()) {
            return;
        }
        const bool addressed = node.tags()["addr:housenumber"] != nullptr;
        const std::optional<std::uint32_t> index = nodeIndex(node.id());
        if (index) {
            m_locations[*index] = location;
            if (node.tags()["barrier"] != nullptr && barrierStopsCars(node.tags())) {
                m_barrier[*index] = true;
            }
        }
        if (!addressed) {
            return;
        }
        const AddressFields fields = addressFieldsOf(node.tags(), m_strings);
        if (index && m_onInterpolation[*index]) {
            m_nodeAddress[*index] = fields;  // numbers the ends of interpolation ways
        }
        if (fields.street != 0) {
            m_addresses.push_back(makeAddress(fields, toCoordinate(location)));
        }
    }

    AddressPoint makeAddress(const AddressFields& f, Coordinate where) const
    {
        AddressPoint a;
        a.street = f.street;
        a.houseNumber = f.houseNumber;
        a.number = parseHouseNumber(textOf(f.houseNumber));
        a.city = f.city;
        a.postcode = f.postcode;
        a.state = f.state;
        a.location = where;
        return a;
    }

    std::string_view textOf(StringId id) const { return m_strings.view(id); }

    // The node indexes of a way that have a location, without repeats of the
    // same node in a row.
    std::vector<std::uint32_t> locatedRefs(std::uint32_t first, std::uint32_t count) const
    {
        std::vector<std::uint32_t> out;
        out.reserve(count);
        for (std::uint32_t i = first; i < first + count; ++i) {
            const std::uint32_t n = m_refIndex[i];
            if (m_locations[n].valid() && (out.empty() || out.back() != n)) {
                out.push_back(n);
            }
        }
        return out;
    }

    void buildGraph(RoadMap& map)
    {
        // A node is a junction when ways meet there or a way ends there.
        std::vector<std::uint8_t> uses(m_nodeIds.size(), 0);
        std::vector<std::vector<std::uint32_t>> wayNodes(m_roads.size());
        for (std::size_t w = 0; w < m_roads.size(); ++w) {
            wayNodes[w] = locatedRefs(m_roads[w].refFirst, m_roads[w].refCount);
            const auto& nodes = wayNodes[w];
            if (nodes.size() < 2) {
                continue;
            }
            for (std::uint32_t n : nodes) {
                uses[n] = static_cast<std::uint8_t>(std::min(2, uses[n] + 1));
            }
            uses[nodes.front()] = 2;
            uses[nodes.back()] = 2;
        }
        // A barrier on a road is a junction: routes may reach it, never pass.
        std::vector<NodeId>& junctionOf = m_junctionOf;
        junctionOf.assign(m_nodeIds.size(), kNoId);
        for (std::size_t n = 0; n < m_nodeIds.size(); ++n) {
            const bool barrier = uses[n] >= 1 && m_barrier[n];
            if (uses[n] >= 2 || barrier) {
                junctionOf[n] = static_cast<NodeId>(map.nodes.size());
                if (barrier) {
                    map.barrierNodes.push_back(junctionOf[n]);
                }
                map.nodes.push_back(toCoordinate(m_locations[n]));
            }
        }
        m_counts.barriers = static_cast<std::uint32_t>(map.barrierNodes.size());
        std::vector<std::uint8_t>().swap(uses);

        std::vector<Edge> edges;
        for (std::size_t w = 0; w < m_roads.size(); ++w) {
            const RoadWay& road = m_roads[w];
            const auto& nodes = wayNodes[w];
            std::size_t start = 0;
            for (std::size_t i = 1; i < nodes.size(); ++i) {
                if (junctionOf[nodes[i]] == kNoId) {
                    continue;
                }
                addSegment(map, edges, road, std::span(nodes).subspan(start, i - start + 1), junctionOf);
                start = i;
            }
            std::vector<std::uint32_t>().swap(wayNodes[w]);
        }

        // Order the edges by source (counting sort) and renumber the twins.
        const std::size_t nodeCount = map.nodes.size();
        std::vector<EdgeId> firstEdge(nodeCount + 1, 0);
        for (const Edge& e : edges) {
            ++firstEdge[e.source + 1];
        }
        for (std::size_t i = 0; i < nodeCount; ++i) {
            firstEdge[i + 1] += firstEdge[i];
        }
        map.firstEdge = std::move(firstEdge);
        std::vector<EdgeId> position(edges.size());
        {
            std::vector<EdgeId> fill(map.firstEdge.begin(), map.firstEdge.end() - 1);
            for (std::size_t i = 0; i < edges.size(); ++i) {
                position[i] = fill[edges[i].source]++;
            }
        }
        // Move every edge to its place by following permutation cycles: no
        // second copy of the edge array at the peak of the import.
        for (Edge& e : edges) {
            if (e.twin != kNoId) {
                e.twin = position[e.twin];
            }
        }
        for (std::size_t i = 0; i < edges.size(); ++i) {
            while (position[i] != i) {
                const EdgeId to = position[i];
                std::swap(edges[i], edges[to]);
                std::swap(position[i], position[to]);
            }
        }
        map.edges = std::move(edges);
    }

    // Turns the restriction relations read into paths of directed edges.
    void buildRestrictions(RoadMap& map)
    {
        std::sort(m_wayIds.begin(), m_wayIds.end());
        std::unordered_map<std::int64_t, std::vector<EdgeId>> edgesOfWay;
        for (const RawRestriction& raw : m_rawRestrictions) {
            for (const auto* list : {&raw.from, &raw.via, &raw.to}) {
                for (std::int64_t id : *list) {
                    edgesOfWay.try_emplace(id);
                }
            }
        }
        for (EdgeId id = 0; id < map.edges.size(); ++id) {
            if (auto it = edgesOfWay.find(map.edges[id].wayId); it != edgesOfWay.end()) {
                it->second.push_back(id);
            }
        }
        for (const RawRestriction& raw : m_rawRestrictions) {
            addRestriction(map, raw, edgesOfWay);
        }
        std::vector<RawRestriction>().swap(m_rawRestrictions);
    }

    enum class Outcome { Used, Incomplete, Malformed, NotForCars };

    // Why a member way gives no edge: not in the file, or not a road for cars.
    Outcome missingWay(std::int64_t id) const
    {
        return std::binary_search(m_wayIds.begin(), m_wayIds.end(), id) ? Outcome::NotForCars
                                                                         : Outcome::Incomplete;
    }

    void addRestriction(RoadMap& map, const RawRestriction& raw,
                        const std::unordered_map<std::int64_t, std::vector<EdgeId>>& edgesOfWay)
    {
        const Outcome outcome = resolveRestriction(map, raw, edgesOfWay);
        switch (outcome) {
        case Outcome::Used: ++m_counts.restrictionsUsed; break;
        case Outcome::Incomplete: ++m_counts.restrictionsIncomplete; break;
        case Outcome::Malformed: ++m_counts.restrictionsMalformed; break;
        case Outcome::NotForCars: ++m_counts.restrictionsNotForCars; break;
        }
    }

    Outcome resolveRestriction(RoadMap& map, const RawRestriction& raw,
                               const std::unordered_map<std::int64_t, std::vector<EdgeId>>& edgesOfWay)
    {
        for (const auto* list : {&raw.from, &raw.via, &raw.to}) {
            for (std::int64_t id : *list) {
                if (edgesOfWay.at(id).empty()) {
                    return missingWay(id);
                }
            }
        }
        std::vector<std::vector<EdgeId>> paths;
        for (std::int64_t fromWay : raw.from) {
            for (std::int64_t toWay : raw.to) {
                std::vector<std::vector<EdgeId>> found;
                if (raw.viaNode != 0) {
                    const std::optional<std::uint32_t> index = lookupNode(raw.viaNode);
                    if (!index) {
                        return Outcome::Incomplete;
                    }
                    const NodeId via = m_junctionOf[*index];
                    if (via == kNoId) {
                        return Outcome::Malformed;
                    }
                    for (EdgeId from : edgesOfWay.at(fromWay)) {
                        for (EdgeId to : edgesOfWay.at(toWay)) {
                            if (map.edges[from].target == via && map.edges[to].source == via) {
                                found.push_back({from, to});
                            }
                        }
                    }
                    // A way that runs on through the via node gives two
                    // candidates; the turn the restriction names picks one.
                    if (found.size() > 1 && raw.word != TurnWord::Any) {
                        std::erase_if(found, [&](const std::vector<EdgeId>& pair) {
                            return !turnMatches(map, pair[0], pair[1], raw.word);
                        });
                    }
                } else {
                    found = viaWayPaths(map, raw.via, edgesOfWay.at(fromWay), edgesOfWay.at(toWay));
                }
                // A way that runs on through the via point and a turn that
                // does not tell which side: not used rather than guessed.
                if (found.size() != 1) {
                    return Outcome::Malformed;
                }
                paths.push_back(std::move(found.front()));
            }
        }
        for (const std::vector<EdgeId>& path : paths) {
            TurnRestriction r;
            r.first = static_cast<std::uint32_t>(map.restrictionEdges.size());
            r.count = static_cast<std::uint32_t>(path.size());
            r.kind = raw.kind;
            map.restrictionEdges.append(path.begin(), path.end());
            map.restrictions.push_back(r);
        }
        return Outcome::Used;
    }

    // Whether turning from edge `from` onto `to` is the turn `word` names:
    // left or right beyond 30 degrees, straight within 45, a U-turn back
    // along the road or beyond 150 degrees.
    static bool turnMatches(const RoadMap& map, EdgeId from, EdgeId to, TurnWord word)
    {
        const auto in = map.edgeShape(from);
        const auto out = map.edgeShape(to);
        const auto heading = [](Coordinate a, Coordinate b) {
            const double x = (b.lon - a.lon) * std::cos((a.lat + b.lat) * 3.14159265358979323846 / 360.0);
            return std::atan2(x, b.lat - a.lat) * 180.0 / 3.14159265358979323846;
        };
        double delta = heading(out[0], out[1]) - heading(in[in.size() - 2], in[in.size() - 1]);
        delta = std::remainder(delta, 360.0);
        switch (word) {
        case TurnWord::Left: return delta < -30.0 && delta > -170.0;
        case TurnWord::Right: return delta > 30.0 && delta < 170.0;
        case TurnWord::Straight: return std::abs(delta) <= 45.0;
        case TurnWord::UTurn: return to == map.edges[from].twin || std::abs(delta) >= 150.0;
        case TurnWord::Any: break;
        }
        return true;
    }

    // Every path from an edge of the "from" way along edges of the via ways
    // (each used, no junction twice) to an edge of the "to" way.
    static std::vector<std::vector<EdgeId>> viaWayPaths(const RoadMap& map, const std::vector<std::int64_t>& viaWays,
                                                        const std::vector<EdgeId>& fromEdges,
                                                        const std::vector<EdgeId>& toEdges)
    {
        std::vector<std::vector<EdgeId>> found;
        std::vector<EdgeId> path;
        auto viaIndex = [&](EdgeId e) {
            const auto it = std::find(viaWays.begin(), viaWays.end(), map.edges[e].wayId);
            return it == viaWays.end() ? -1 : static_cast<int>(it - viaWays.begin());
        };
        const std::uint32_t allVias = (1u << viaWays.size()) - 1;
        std::function<void(std::uint32_t)> extend = [&](std::uint32_t used) {
            const Edge& last = map.edges[path.back()];
            if (used == allVias) {
                for (EdgeId to : toEdges) {
                    if (map.edges[to].source == last.target && to != last.twin) {
                        found.push_back(path);
                        found.back().push_back(to);
                    }
                }
            }
            if (path.size() > 64 || found.size() > 1) {
                return;
            }
            for (const Edge& next : map.outEdges(last.target)) {
                const int index = viaIndex(map.edgeId(next));
                const bool revisits = std::any_of(path.begin(), path.end(), [&](EdgeId e) {
                    return map.edges[e].source == next.target;
                });
                if (index >= 0 && map.edgeId(next) != last.twin && !revisits) {
                    path.push_back(map.edgeId(next));
                    extend(used | (1u << index));
                    path.pop_back();
                }
            }
        };
        for (EdgeId from : fromEdges) {
            path.assign(1, from);
            for (const Edge& next : map.outEdges(map.edges[from].target)) {
                const int index = viaIndex(map.edgeId(next));
                if (index >= 0 && map.edgeId(next) != map.edges[from].twin) {
                    path.push_back(map.edgeId(next));
                    extend(1u << index);
                    path.pop_back();
                }
            }
        }
        return found;
    }

    std::optional<std::uint32_t> lookupNode(std::int64_t id) const
    {
        const auto it = std::lower_bound(m_nodeIds.begin(), m_nodeIds.end(), id);
        if (it == m_nodeIds.end() || *it != id) {
            return std::nullopt;
        }
        const auto index = static_cast<std::uint32_t>(it - m_nodeIds.begin());
        return m_locations[index].valid() ? std::optional(index) : std::nullopt;
    }

    void addSegment(RoadMap& map, std::vector<Edge>& edges, const RoadWay& road,
                    std::span<const std::uint32_t> nodes, const std::vector<NodeId>& junctionOf)
    {
        double metres = 0.0;
        for (std::size_t i = 1; i < nodes.size(); ++i) {
            metres += distanceMetres(toCoordinate(m_locations[nodes[i - 1]]),
                                      toCoordinate(m_locations[nodes[i]]));
        }
        const double seconds = metres / (road.speedKmh / 3.6);
        const auto deciseconds = static_cast<std::uint32_t>(std::max(1.0, std::round(seconds * 10.0)));
        auto makeEdge = [&](bool forward) {
            Edge e;
            e.source = junctionOf[forward ? nodes.front() : nodes.back()];
            e.target = junctionOf[forward ? nodes.back() : nodes.front()];
            e.name = road.name;
            e.ref = road.ref;
            if (forward || road.direction == Direction::Backward) {
                e.destination = road.destination;
                e.destinationRef = road.destinationRef;
            }
            e.shapeFirst = static_cast<std::uint32_t>(map.shape.size());
            e.shapeCount = static_cast<std::uint32_t>(nodes.size());
            if (forward) {
                for (std::uint32_t n : nodes) {
                    map.shape.push_back(toCoordinate(m_locations[n]));
                }
            } else {
                for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) {
                    map.shape.push_back(toCoordinate(m_locations[*it]));
                }
            }
            e.metres = static_cast<float>(metres);
            e.deciseconds = deciseconds;
            e.wayId = road.id;
            e.roadClass = road.roadClass;
            e.speedKmh = road.speedKmh;
            e.flags = road.flags;
            if (road.direction != Direction::Both) {
                e.flags |= kEdgeOneway;
            }
            if (!forward) {
                e.flags |= kEdgeAgainstWay;
            }
            return e;
        };
        const bool forward = road.direction == Direction::Both || road.direction == Direction::Forward;
        const bool backward = road.direction == Direction::Both || road.direction == Direction::Backward;
        const auto first = static_cast<EdgeId>(edges.size());
        if (forward) {
            edges.push_back(makeEdge(true));
        }
        if (backward) {
            edges.push_back(makeEdge(false));
        }
        if (forward && backward) {
            edges[first].twin = first + 1;
            edges[first + 1].twin = first;
        }
    }

    void buildAddresses(RoadMap& map)
    {
        map.addresses = std::move(m_addresses);
        for (const AreaAddress& area : m_areaAddresses) {
            std::vector<std::uint32_t> nodes = locatedRefs(area.refFirst, area.refCount);
            if (nodes.size() > 1 && nodes.front() == nodes.back()) {
                nodes.pop_back();
            }
            if (nodes.empty()) {
                continue;
            }
            double lat = 0.0;
            double lon = 0.0;
            for (std::uint32_t n : nodes) {
                lat += m_locations[n].lat();
                lon += m_locations[n].lon();
            }
            const auto count = static_cast<double>(nodes.size());
            map.addresses.push_back(makeAddress(area.fields, Coordinate{lat / count, lon / count}));
        }
        for (const InterpolationWay& way : m_interpolationWays) {
            addInterpolation(map, way);
        }
    }

    AddressFields interpolationEnd(std::uint32_t node) const
    {
        auto it = m_nodeAddress.find(node);
        return it == m_nodeAddress.end() ? AddressFields() : it->second;
    }

    // One line between each pair of consecutive numbered nodes of the way.
    void addInterpolation(RoadMap& map, const InterpolationWay& way)
    {
        const std::vector<std::uint32_t> nodes = locatedRefs(way.refFirst, way.refCount);
        std::optional<std::size_t> previous;
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            const AddressFields end = interpolationEnd(nodes[i]);
            const std::int32_t number = parseHouseNumber(textOf(end.houseNumber));
            if (number < 0) {
                continue;
            }
            if (previous) {
                const AddressFields start = interpolationEnd(nodes[*previous]);
                InterpolationLine line;
                line.street = way.fields.street != 0 ? way.fields.street : start.street;
                line.fromNumber = parseHouseNumber(textOf(start.houseNumber));
                line.toNumber = number;
                line.parity = way.parity;
                line.city = way.fields.city != 0 ? way.fields.city : start.city;
                line.postcode = way.fields.postcode != 0 ? way.fields.postcode : start.postcode;
                line.state = way.fields.state != 0 ? way.fields.state : start.state;
                line.shapeFirst = static_cast<std::uint32_t>(map.shape.size());
                line.shapeCount = static_cast<std::uint32_t>(i - *previous + 1);
                for (std::size_t k = *previous; k <= i; ++k) {
                    map.shape.push_back(toCoordinate(m_locations[nodes[k]]));
                }
                if (line.street != 0) {
                    map.interpolations.push_back(line);
                }
            }
            previous = i;
        }
    }

    std::string m_path;
    ProgressReport m_progress;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    StringTable m_strings;

    std::vector<RoadWay> m_roads;
    std::vector<AreaAddress> m_areaAddresses;
    std::vector<InterpolationWay> m_interpolationWays;
    std::vector<std::int64_t> m_refs;        // OSM node ids, first pass
    std::vector<std::uint32_t> m_refIndex;   // the same as indexes into m_nodeIds
    std::vector<std::int64_t> m_nodeIds;     // sorted ids of every node a kept way uses
    std::size_t m_cursor = 0;                // where the last id lookup ended
    std::vector<osmium::Location> m_locations;  // per m_nodeIds entry
    std::vector<bool> m_onInterpolation;        // per m_nodeIds entry
    std::vector<bool> m_barrier;                // per m_nodeIds entry: a barrier that stops cars
    std::vector<NodeId> m_junctionOf;           // per m_nodeIds entry: its junction, or kNoId
    std::vector<std::int64_t> m_wayIds;         // every way in the file (sorted once read)
    std::vector<RawRestriction> m_rawRestrictions;
    ImportCounts m_counts;
    std::unordered_map<std::uint32_t, AddressFields> m_nodeAddress;  // numbered nodes on those
    std::vector<AddressPoint> m_addresses;
};

}  // namespace

int parseMaxspeed(std::string_view value)
{
    // The first of several values ("50;30") counts.
    value = value.substr(0, value.find(';'));
    while (!value.empty() && value.front() == ' ') {
        value.remove_prefix(1);
    }
    double number = 0.0;
    const char* begin = value.data();
    const char* end = value.data() + value.size();
    auto [rest, error] = std::from_chars(begin, end, number);
    if (error != std::errc() || !(number > 0.0) || !std::isfinite(number)) {
        return 0;
    }
    std::string unit(rest, static_cast<std::size_t>(end - rest));
    unit.erase(0, unit.find_first_not_of(' '));
    unit.erase(unit.find_last_not_of(' ') + 1);
    for (char& c : unit) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    double kmh = number;
    if (unit == "mph") {
        kmh = number * 1.609344;
    } else if (unit == "knots") {
        kmh = number * 1.852;
    } else if (!unit.empty() && unit != "km/h" && unit != "kmh" && unit != "kph") {
        return 0;
    }
    if (kmh > 300.0) {
        return 0;
    }
    return static_cast<int>(std::lround(kmh));
}

std::int32_t parseHouseNumber(std::string_view value)
{
    std::int64_t number = 0;
    std::size_t digits = 0;
    while (digits < value.size() && value[digits] >= '0' && value[digits] <= '9') {
        if (number < 100000000) {
            number = number * 10 + (value[digits] - '0');
        }
        ++digits;
    }
    if (digits == 0 || number >= 100000000) {
        return -1;
    }
    return static_cast<std::int32_t>(number);
}

RoadMap importOsm(const std::string& path, ProgressReport progress)
{
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (error || !std::filesystem::exists(status)) {
        throw MapError("Cannot read map file " + path + ": no such file");
    }
    if (std::filesystem::is_directory(status)) {
        throw MapError("Cannot read map file " + path + ": it is a folder, not a file");
    }
    RoadMap map;
    try {
        map = Importer(path, progress).run();
    } catch (const MapError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw MapError("Cannot import map file " + path + ": not enough memory");
    } catch (const std::exception& e) {
        throw MapError("Cannot read map file " + path + ": it is damaged or not an OpenStreetMap file (" +
                       e.what() + ")");
    }
    if (map.edges.empty()) {
        throw MapHasNoRoads("Map file " + path + " holds no road that can be driven by car");
    }
    if (std::string fault = map.validate(); !fault.empty()) {
        throw MapError("Cannot import map file " + path + ": " + fault);
    }
    return map;
}

}  // namespace tw::service
