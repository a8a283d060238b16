#pragma once
// Address text as people type it, brought to one comparable form.
//
// A street name is split into words (blanks, commas and periods separate them),
// ASCII letters are lower-cased, and each word is mapped to its USPS short form:
// suffixes (Street -> st, Avenue -> ave ...), directionals (North -> n,
// Southwest -> sw ...) and spelled ordinals (Ninth -> 9th). The result is a
// StreetKey: an optional leading directional, the core words, an optional
// suffix and an optional trailing directional. Two spellings of one street give
// equal keys; a typed name that omits the suffix or a directional still matches
// through StreetKey::loosely().

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tw::service {

struct StreetKey {
    std::string leadingDirection; // "n", "sw" ... or empty
    std::string core;             // the name words, joined by one space ("martin luther king jr")
    std::string suffix;           // "st", "ave" ... or empty
    std::string trailingDirection;

    // Returns all parts joined by single spaces: the key two spellings share.
    std::string full() const;

    // Returns true when `typed` names this street leaving parts out: the cores
    // are equal and every part `typed` has equals this key's part.
    bool loosely(const StreetKey& typed) const;

    friend bool operator==(const StreetKey&, const StreetKey&) = default;
};

// Returns the key of a street name as typed or as stored in the map.
StreetKey streetKey(std::string_view name);

// The street line of an address as typed: "120 N Main St Apt 4".
struct AddressLine {
    std::string houseNumber; // as typed, lower case ("120", "12b", "1400-1402"); empty if none
    std::int32_t number = -1; // leading numeric value of houseNumber, -1 if none
    std::string street;      // the street words as typed, unit removed, blanks collapsed
    std::string unit;        // "apt 4", "#12", "unit b" ... (only reported, never matched)
};

// Splits a typed street line into house number, street and unit. A leading word
// counts as a house number when it starts with digits and is not an ordinal
// ("9th St" has none). A unit is a trailing "apt/apartment/unit/suite/ste/
// room/rm/floor/fl/bldg/building X" or "#X".
AddressLine parseAddressLine(std::string_view line);

// The "City ST 12345" line the application sends (city, one space, state, one
// space, ZIP; empty parts keep their blanks). Read from the end: a ZIP of five
// digits (optionally -dddd), then a two-letter state, then the rest as the city.
struct CityLine {
    std::string city;  // lower case, blanks collapsed, commas dropped
    std::string state; // lower case two letters, or empty
    std::string zip;   // five digits, or empty
};
CityLine parseCityLine(std::string_view line);

// Returns text lower-cased (ASCII letters only) with runs of blanks, commas and
// periods collapsed to one space and no blank at either end.
std::string simplifyText(std::string_view text);

// Returns the Levenshtein distance between a and b, or limit + 1 when it
// exceeds `limit` (the search stops early).
std::size_t editDistance(std::string_view a, std::string_view b, std::size_t limit);

} // namespace tw::service

namespace tw::service {

// Returns a street name shortened the USPS way for a small screen: a trailing
// suffix word and leading or trailing direction words become their short forms
// in title case ("North Main Street" -> "N Main St"). Other words are kept as
// written; a one-word name is returned unchanged.
std::string shortStreetName(std::string_view name);

} // namespace tw::service
