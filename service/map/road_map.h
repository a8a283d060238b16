#pragma once
// RoadMap: the in-memory road network and address data the directions service
// works on, imported from an OpenStreetMap file (see map_loader.h).
//
// Contract:
// - Nodes are junctions only: OSM nodes shared by two or more drivable ways, or
//   the ends of a way. Node ids are 0 .. nodeCount()-1.
// - The graph is a compact array (CSR) of directed edges: the edges leaving node
//   n are edges[firstEdge[n] .. firstEdge[n+1]). A two-way road gives two edges
//   (each other's twin); a one-way road gives one edge in its legal direction, so
//   following the CSR never breaks a one-way rule. Roads closed to cars
//   (access=no/private, footways, paths ...) are not in the graph at all.
// - Every edge owns a polyline in the shared `shape` array, from its source
//   junction to its target junction inclusive (use edgeShape()).
// - Text (street names, refs, cities, postcodes, states, house numbers as typed)
//   lives in one string table; id 0 is the empty string and means "none".
// - Every index stored in a RoadMap is in range; validate() checks that and the
//   loader calls it on everything it reads, so code using a loaded map may index
//   without checks.
// - Turn restrictions are stored on directed edges: a path of edges (from, the
//   via edges if any, to) that must not be driven in a row (No) or that must be
//   driven on once its first two edges have been (Only). Barriers that stop cars
//   are junctions (the importer splits roads there) listed in barrierNodes:
//   nothing drives through them. The routing layer's TurnModel turns these into
//   the cost of each turn; the map only holds the facts.
// - A RoadMap is immutable once built; concurrent readers need no locking.
// - The large arrays are MapArrays: a map read from its cache views them in
//   the mapped cache file (shared by every process on the same map) instead
//   of holding a copy; changing one (tests, the importer) copies it first.

#include "service/map/map_array.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tw::service {

class MappedFile;

using NodeId = std::uint32_t;
using EdgeId = std::uint32_t;
using StringId = std::uint32_t;

inline constexpr std::uint32_t kNoId = 0xFFFFFFFFu;

// WGS84 degrees.
struct Coordinate {
    double lat = 0.0;
    double lon = 0.0;
    friend bool operator==(const Coordinate&, const Coordinate&) = default;
};

// The OSM highway=* value an edge came from, most important first.
enum class RoadClass : std::uint8_t {
    Motorway,
    Trunk,
    Primary,
    Secondary,
    Tertiary,
    Unclassified,
    Residential,
    LivingStreet,
    Service,
    MotorwayLink,
    TrunkLink,
    PrimaryLink,
    SecondaryLink,
    TertiaryLink,
};
inline constexpr int kRoadClassCount = 14;

// Returns the OSM highway value for a class ("motorway", "trunk_link" ...).
std::string_view roadClassName(RoadClass roadClass);

// Bits of Edge::flags.
enum EdgeFlag : std::uint8_t {
    kEdgeRoundabout = 1u << 0,  // junction=roundabout (or circular)
    kEdgeLink = 1u << 1,        // a *_link way: ramp or slip road
    kEdgeBridge = 1u << 2,      // bridge=* other than no
    kEdgeTunnel = 1u << 3,      // tunnel=* other than no
    kEdgeOneway = 1u << 4,      // the road may only be driven in this direction
    kEdgeAgainstWay = 1u << 5,  // runs against the OSM way's node order
};

struct Edge {
    std::int64_t wayId = 0;        // OSM way the edge came from
    NodeId source = 0;
    NodeId target = 0;
    EdgeId twin = kNoId;        // the same road driven the other way, if allowed
    StringId name = 0;          // street name (0: unnamed)
    StringId ref = 0;           // route number such as "I 880" (0: none)
    StringId destination = 0;     // where a ramp or road leads, as signed ("Oakport;Lowtown")
    StringId destinationRef = 0;  // the route numbers signed there ("QZ 40 West")
    std::uint32_t shapeFirst = 0;  // polyline: shape[shapeFirst .. shapeFirst+shapeCount)
    std::uint32_t shapeCount = 0;  // >= 2, first = source, last = target
    float metres = 0.0f;           // length along the polyline
    std::uint32_t deciseconds = 0; // travel time, >= 1
    RoadClass roadClass = RoadClass::Residential;
    std::uint8_t flags = 0;        // EdgeFlag bits
    std::uint8_t speedKmh = 0;     // speed used for deciseconds
    std::uint8_t spare = 0;        // fills the record: a stored map has no padding bytes

    bool has(EdgeFlag flag) const { return (flags & flag) != 0; }
};

enum class Parity : std::uint8_t { All, Odd, Even };

// One addressed place: an addr:* node, or a building/area (its centroid).
struct AddressPoint {
    StringId street = 0;        // addr:street (same id space as Edge::name)
    StringId houseNumber = 0;   // addr:housenumber as typed ("12B", "1400-1402")
    std::int32_t number = -1;   // leading numeric value of houseNumber, -1 if none
    StringId city = 0;
    StringId postcode = 0;
    StringId state = 0;
    Coordinate location;
};

// An addr:interpolation way: house numbers between its two numbered ends are
// spread evenly along the polyline.
struct InterpolationLine {
    StringId street = 0;
    std::int32_t fromNumber = 0;  // number at shape[shapeFirst]
    std::int32_t toNumber = 0;    // number at the last shape point
    std::uint32_t shapeFirst = 0; // into RoadMap::shape
    std::uint32_t shapeCount = 0; // >= 2
    StringId city = 0;
    StringId postcode = 0;
    StringId state = 0;
    Parity parity = Parity::All;
    std::uint8_t spare[3] = {};
};

enum class RestrictionKind : std::uint8_t {
    No,    // restriction=no_*: the path is never driven
    Only,  // restriction=only_*: from the first edge, only this path
};

// A turn restriction as imported: restrictionEdges[first .. first+count) is the
// path of directed edges from the "from" edge through every via edge (none for
// a restriction via a node) to the "to" edge; consecutive edges meet (the
// target of one is the source of the next). count >= 2.
struct TurnRestriction {
    std::uint32_t first = 0;
    std::uint32_t count = 0;
    RestrictionKind kind = RestrictionKind::No;
    std::uint8_t spare[3] = {};
};

// What the importer made of the map's restriction relations and barrier nodes.
// A relation that cannot be used (members missing or cut off by the extract's
// edge, a via that does not join its ways, ways that are not roads for cars) is
// skipped and counted here, never an error.
struct ImportCounts {
    std::uint32_t restrictionsUsed = 0;        // relations that became TurnRestrictions
    std::uint32_t restrictionsIncomplete = 0;  // members missing from the file
    std::uint32_t restrictionsMalformed = 0;   // via does not join, unknown or odd type
    std::uint32_t restrictionsNotForCars = 0;  // members not drivable, or except=motorcar
    std::uint32_t barriers = 0;                // barrier nodes on roads that stop cars
};

// The records a map cache holds as they lie in memory: no padding, so a file
// written twice from one map is the same bytes.
static_assert(sizeof(Coordinate) == 16 && sizeof(Edge) == 56 && sizeof(AddressPoint) == 40
              && sizeof(InterpolationLine) == 36 && sizeof(TurnRestriction) == 12 && sizeof(ImportCounts) == 20);

struct RoadMap {
    // Graph.
    MapArray<Coordinate> nodes;          // junction coordinates
    MapArray<EdgeId> firstEdge;          // size nodes.size() + 1
    MapArray<Edge> edges;                // sorted by source
    MapArray<Coordinate> shape;          // edge and interpolation polylines

    // Reverse CSR (derived, built by finishIndexes()): the edges INTO node n are
    // inEdges[firstInEdge[n] .. firstInEdge[n+1]).
    MapArray<EdgeId> firstInEdge;
    MapArray<EdgeId> inEdges;

    // Text.
    std::vector<std::string> strings;       // strings[0] == ""

    // Addresses.
    MapArray<AddressPoint> addresses;
    MapArray<InterpolationLine> interpolations;

    // Turn restrictions and barriers (see the contract above).
    MapArray<TurnRestriction> restrictions;
    MapArray<EdgeId> restrictionEdges;
    MapArray<NodeId> barrierNodes;       // sorted, unique
    ImportCounts counts;

    // Street lookup (derived, built by finishIndexes()): the edges named n are
    // nameEdges[firstNameEdge[n] .. firstNameEdge[n+1]), for every StringId n.
    MapArray<EdgeId> firstNameEdge;      // size strings.size() + 1
    MapArray<EdgeId> nameEdges;

    // The mapped cache file the arrays view (null for a map only in memory).
    // It may also hold sections other layers added for themselves when the
    // cache was written (see CacheExtras).
    std::shared_ptr<const MappedFile> cacheFile;

    std::size_t nodeCount() const { return nodes.size(); }
    std::size_t edgeCount() const { return edges.size(); }

    // Returns the text of a string id ("" for 0 or an id out of range).
    const std::string& text(StringId id) const;

    // Returns the edges leaving / entering a node.
    std::span<const Edge> outEdges(NodeId node) const;
    std::span<const EdgeId> inEdgeIds(NodeId node) const;

    // Returns the id of an edge that lies in `outEdges` (pointer arithmetic helper).
    EdgeId edgeId(const Edge& edge) const { return static_cast<EdgeId>(&edge - edges.data()); }

    // Returns the polyline of an edge, source to target.
    std::span<const Coordinate> edgeShape(EdgeId edge) const;
    std::span<const Coordinate> interpolationShape(const InterpolationLine& line) const;

    // Returns the path of a restriction, from edge first.
    std::span<const EdgeId> restrictionPath(const TurnRestriction& restriction) const;

    // Returns whether cars cannot pass through the junction (a barrier).
    bool isBarrier(NodeId node) const;

    // Returns one line on the restrictions and barriers imported, for logs:
    // "turn restrictions: 12 obeyed, 2 skipped (1 incomplete, 1 malformed); 3 barriers".
    std::string restrictionSummary() const;

    // Returns the edge ids of the street with this name id (empty when none).
    std::span<const EdgeId> streetEdges(StringId name) const;

    // Rebuilds the derived indexes (reverse CSR, street lookup) from the rest.
    void finishIndexes();

    // Returns "" when every index and count is consistent, else a description of
    // the first fault found. The loader rejects a map that fails this.
    std::string validate() const;

private:
    std::string checkEdges(NodeId begin, NodeId end) const;
    std::string checkRestrictionsAndLines() const;
};

}  // namespace tw::service
