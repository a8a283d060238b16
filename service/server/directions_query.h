#pragma once
// The four address fields of a directions request (/dd_result and /dd), read
// from the parsed query parameters, with the checks every request goes through
// before any lookup: each field at most once, well-formed UTF-8, no control
// characters, a bounded length.

#include <map>
#include <optional>
#include <string>

namespace tw::service {

struct DirectionsQuery {
    std::string addr; // starting street line ("120 Main St")
    std::string csz;  // starting "City ST 12345", as the application joins it
    std::string taddr;
    std::string tcsz;

    // Returns true when no field holds anything but blanks.
    bool isBlank() const;
};

// The longest field accepted, in bytes. Real addresses are far shorter.
inline constexpr size_t kMaxFieldBytes = 200;

struct QueryCheck {
    std::optional<DirectionsQuery> query; // set when the request is usable
    std::string problem;                  // otherwise: a sentence for the page (plain text)
};

// Reads addr, csz, taddr and tcsz from `params` (decoded name -> value pairs,
// names may repeat). Absent fields read as empty. Other parameters (such as the
// submit button's getrte) are ignored. Fails with a plain sentence when a field
// repeats with different values, is not UTF-8, holds a control character
// (NUL included), or is longer than kMaxFieldBytes.
QueryCheck checkDirectionsQuery(const std::multimap<std::string, std::string>& params);

// Returns the query string (without '?') that carries `query` as the form
// would send it: addr, csz, taddr, tcsz, getrte.
std::string encodeDirectionsQuery(const DirectionsQuery& query);

} // namespace tw::service
