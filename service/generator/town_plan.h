#pragma once
// TownPlan: a small town laid out in metres on a flat local plane, turned into
// OpenStreetMap nodes and ways. The sample town is described with it; it does
// the bookkeeping that makes the data sound:
// - vertices at the same spot (to the centimetre) become one shared node, so
//   streets meet exactly where their polylines share a point and nowhere else
//   (a road passing under another shares no point with it);
// - house numbers follow one rule on every street: a house d metres along the
//   street's numbering direction has number 100 + floor(d * 10 / 13), odd on one
//   side and even on the other; houses stand every `houseSpacing` metres from
//   25 m after a junction to 25 m before the next, 15 m beside the street;
// - ids are handed out in a fixed order, so the same plan gives the same file.
//
// Contract: write() throws GeneratorError when the file cannot be written, and
// leaves no partial file under the target name (see OsmFileWriter).

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tw::service {

// A point in metres east (x) and north (y) of the plan's origin.
struct LocalPoint {
    double x = 0.0;
    double y = 0.0;
};

// How the houses along a stretch of street are mapped.
enum class Addressing {
    None,          // no houses
    Nodes,         // one address node per house
    Buildings,     // one building outline (closed way) with the address per house
    Interpolation, // per block and side one addr:interpolation way between numbered end nodes
};

// Which side of the numbering direction holds the odd numbers.
enum class OddSide { Left, Right };

// Whether the OSM way runs along the street's points or against them (a one-way
// street drawn in its legal direction while numbered the other way).
enum class WayDirection { AlongPoints, AgainstPoints };

struct AddressStretch {
    double from = 0.0; // numbering distance, metres
    double to = 0.0;
    Addressing addressing = Addressing::None;
};

using TagList = std::vector<std::pair<std::string, std::string>>;

struct StreetSpec {
    std::string name;                 // may be empty (a roundabout, a motorway)
    std::vector<LocalPoint> points;   // in numbering direction
    TagList tags;                     // highway=* and the rest; `name` is added from `name`
    WayDirection wayDirection = WayDirection::AlongPoints;
    double startDistance = 0.0;       // numbering distance at points.front()
    std::vector<AddressStretch> addresses;
    OddSide oddSide = OddSide::Left;
    double houseSpacing = 20.0;
    bool turningCircleAtEnd = false;  // tag the last point highway=turning_circle
};

struct PlanPlace {
    std::string city;
    std::string state;
    // The postcode of a house at a point of the plan.
    std::function<std::string(LocalPoint)> postcodeAt;
};

class TownPlan {
public:
    TownPlan(double originLat, double originLon, PlanPlace place);

    // A street (or any highway way) with its houses. Returns its index for
    // addRestriction.
    std::size_t addStreet(StreetSpec street);
    // A turn restriction (restriction=`value`) from one street via the point
    // where they meet onto another; both ways should end at that point.
    void addRestriction(std::string value, std::size_t fromStreet, LocalPoint via, std::size_t toStreet);
    // Tags on the node at a point of a street (a gate, a bollard).
    void tagPoint(LocalPoint point, TagList tags);
    // A way without houses (a river, a footway); it shares nodes like a street.
    void addFeature(std::vector<LocalPoint> points, TagList tags);

    // Lays out the houses and writes every object to `path`.
    void write(const std::filesystem::path& path) const;

    // Number of the house `distance` metres along a street, on the given parity
    // (1 = odd, 0 = even).
    static int houseNumber(double distance, int parity);

private:
    struct Feature {
        std::vector<LocalPoint> points;
        TagList tags;
    };

    double m_originLat;
    double m_originLon;
    PlanPlace m_place;
    std::vector<StreetSpec> m_streets;
    std::vector<Feature> m_features;
    struct Restriction {
        std::string value;
        std::size_t from;
        LocalPoint via;
        std::size_t to;
    };
    std::vector<Restriction> m_restrictions;
    std::vector<std::pair<LocalPoint, TagList>> m_pointTags;
};

} // namespace tw::service
