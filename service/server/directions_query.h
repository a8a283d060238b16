#pragma once
// The four address fields of a directions request (/dd_result and /dd), read
// from the parsed query parameters, with the checks every request goes through
// before any lookup: each field at most once, well-formed UTF-8, no control
// characters, a bounded length.

#include <map>
#include <optional>
#include <string>
#include <string_view>

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

// Decodes an application/x-www-form-urlencoded query (the part of a request
// target after '?') into name -> value pairs, as browsers and servers read it:
// pairs are separated by '&', only the first '=' of a pair separates name and
// value ("a=b=c" is a -> "b=c"; a pair without '=' has an empty value), '+' is
// a space and %XX a byte, in names and values alike; empty pairs are skipped.
// Returns nothing when a '%' is not followed by two hex digits.
std::optional<std::multimap<std::string, std::string>> parseQueryString(std::string_view query);

// Returns the query string (without '?') that carries `query` as the form
// would send it: addr, csz, taddr, tcsz, getrte.
std::string encodeDirectionsQuery(const DirectionsQuery& query);

} // namespace tw::service
