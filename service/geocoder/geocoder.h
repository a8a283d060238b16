#pragma once
// Geocoder: turns a typed address (street line + "City ST 12345" line) into a
// place on a RoadMap, or says why it cannot.
//
// Contract:
// - The street is matched on its normalised key (address_text.h): any letter
//   case, St/Street, N/North, 9th/Ninth, extra blanks, a unit number. A typed
//   name that leaves out the suffix or a directional matches only when exactly
//   one street fits; if several do, the result is Ambiguous with those streets
//   as suggestions. A wrong street is never picked silently.
// - City, state and ZIP, when given, filter the streets: a street whose address
//   data all lies in another ZIP, city or state is not taken. Address data
//   without that field does not exclude the street.
// - The place is found by, in order: the exact house number; an interpolation
//   line covering it (right parity); the nearest number on that street; the
//   street itself. Every step but the first says so in Match::note.
// - A street that has addresses but no drivable road of its name (a footway,
//   a pedestrian zone, an addr:place) is found like any other; its match has
//   street 0, and the caller routes to the road nearest the place.
// - Not found: suggestions of similar street names (edit distance and prefix).
// - Built once per map; geocode() is const and safe to call from many threads.
//   Its street lists (a street's roads and addresses, sorted) take seconds to
//   make on a large map: cacheSections() keeps them in the map cache, and a
//   map read from a cache holding them takes them from there.

#include "service/geocoder/address_text.h"
#include "service/map/map_cache.h"
#include "service/map/road_map.h"

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace tw::service {

enum class Precision {
    ExactNumber,   // an address point with that number
    Interpolated,  // placed along an interpolation line
    NearestNumber, // another number on that street (note says which)
    Street,        // the street only (no number typed, or none known)
};

struct GeocodeMatch {
    Coordinate location;
    StringId street = 0;     // the street's name id on the map (for snapping); 0 when no road has it
    std::string streetName;  // as the map spells it ("Main Street")
    std::string label;       // what was found, short: "120 Main Street"
    std::string place;       // "Tarnwickley ST 12345" as far as known, else ""
    Precision precision = Precision::Street;
    std::string note;        // plain sentence on any approximation, else ""
};

enum class GeocodeStatus { Found, Empty, NotFound, Ambiguous };

// Something to try instead: a street line ("120 Main St") and, when the place
// matters (the same street in two towns), a city line ("Lowtown ST 12345").
struct Suggestion {
    std::string streetLine;
    std::string cityLine; // empty: keep what was typed
};

struct GeocodeResult {
    GeocodeStatus status = GeocodeStatus::NotFound;
    std::optional<GeocodeMatch> match;      // set when Found
    std::string problem;                    // plain sentence when not Found
    std::vector<Suggestion> suggestions;    // at most five
};

class Geocoder {
public:
    // Indexes the streets and addresses of `map`, which must outlive this object.
    explicit Geocoder(const RoadMap& map);
    // The streets view the lists this object holds: a move keeps them where
    // they are, a copy would not.
    Geocoder(Geocoder&&) = default;
    Geocoder(const Geocoder&) = delete;
    Geocoder& operator=(const Geocoder&) = delete;

    // Returns where `streetLine` (in the place `cityLine`) lies. Never throws for
    // any text; blank input gives Empty.
    GeocodeResult geocode(std::string_view streetLine, std::string_view cityLine) const;

    // Returns the number of distinct streets known (for logs).
    std::size_t streetCount() const { return m_streets.size(); }

    // Returns whether the street lists were taken from the map's cache file.
    bool listsMapped() const { return m_lists.firstName.mapped(); }

    // Adds the street lists of `map` to a map cache being written (a
    // CacheExtras for loadMap).
    static std::shared_ptr<const void> cacheSections(const RoadMap& map, MappedFileWriter& writer);

    // Every street's lists, flat, in the order the streets were found:
    // street s's map spellings are names[firstName[s] .. firstName[s + 1]),
    // its roads edges[firstEdge[s] ..), its addresses (sorted by number)
    // addresses[firstAddress[s] ..), the same positions by city class in
    // byCity (same ranges), its interpolation lines likewise.
    struct Lists {
        MapArray<std::uint32_t> firstName;
        MapArray<StringId> names;
        MapArray<std::uint32_t> firstEdge;
        MapArray<EdgeId> edges;
        MapArray<std::uint32_t> firstAddress;
        MapArray<std::uint32_t> addresses;
        MapArray<std::uint32_t> byCity;
        MapArray<std::uint32_t> firstInterpolation;
        MapArray<std::uint32_t> interpolations;
    };

private:
    struct Street {
        StreetKey key;
        std::string name;                  // display spelling
        std::span<const StringId> nameIds;         // map spellings with this key
        std::span<const std::uint32_t> addresses;  // into map.addresses, sorted by number
        std::span<const std::uint32_t> byCity;     // positions in `addresses` by city class, then position
        std::span<const std::uint32_t> interpolations; // into map.interpolations
        std::span<const EdgeId> edges;
    };
    struct Filter;

    // The simplified text of a string (simplifyText), and a postcode's first five characters.
    const std::string& simple(StringId id) const;
    std::string_view zipOf(StringId id) const;
    // Equal numbers for equal simplified texts (and for equal postcode starts).
    static constexpr std::uint32_t kNoClass = 0xFFFFFFFFu;      // not a string of the map
    static constexpr std::uint32_t kUnknownClass = 0xFFFFFFFEu; // typed text no string has
    // Sorts a street's addresses by city: 0 without one, else its class + 1.
    static constexpr std::uint32_t kNoCityKey = 0;
    std::uint32_t cityKeyOf(StringId city) const;
    std::uint32_t textClass(StringId id) const;
    std::uint32_t zipClass(StringId id) const;
    std::vector<std::size_t> candidates(const StreetKey& typed) const;
    // Positions in street.addresses of those in the city typed (or without
    // one; all when no city is typed), in number order.
    std::vector<std::uint32_t> positionsInCity(const Street& street, const Filter& filter) const;
    bool fitsPlace(const Street& street, const Filter& filter) const;
    GeocodeMatch locate(const Street& street, const AddressLine& line, const Filter& filter) const;
    // Whether a place fits the one typed (a part not given, or not known for
    // the address, fits).
    bool inPlace(StringId city, StringId state, StringId postcode, const Filter& filter) const;
    struct Interpolated {
        Coordinate location;
        const InterpolationLine* line;
    };
    // Returns where `number` lies on an interpolation line of the street in
    // the place typed.
    std::optional<Interpolated> interpolate(const Street& street, std::int32_t number, const Filter& filter) const;
    Coordinate streetMiddle(const Street& street) const;
    std::string placeOf(StringId city, StringId state, StringId postcode) const;
    std::vector<Suggestion> similarStreets(const StreetKey& typed, const AddressLine& line) const;

    // Makes the street lists from the map (the string classes first).
    Lists buildLists() const;
    // Takes the street lists from the map's cache file; false when it holds
    // none, of another version, or ones that do not fit the map.
    bool readLists(Lists& lists) const;
    // Makes the streets and their lookup from the lists.
    void adopt(Lists lists);

    const RoadMap& m_map;
    Lists m_lists;
    std::vector<std::string> m_simple; // per string id
    std::vector<std::uint32_t> m_textClass; // per string id
    std::vector<std::uint32_t> m_zipClass;  // per string id
    std::unordered_map<std::string, std::uint32_t> m_textClasses;
    std::unordered_map<std::string, std::uint32_t> m_zipClasses;
    std::vector<Street> m_streets;
    std::unordered_map<std::string, std::size_t> m_byFullKey; // StreetKey::full() -> street
    std::unordered_map<std::string, std::vector<std::size_t>> m_byCore;
};


} // namespace tw::service
