#pragma once
// DirectionsSite: what the service answers to each page request, apart from
// HTTP itself (http_server.h carries the bytes). Holds the map, the router and
// the geocoder; every method is const and safe to call from many threads.
//
// Pages:
// - form(): /dd. Without a query, the empty form. With one (the application
//   comes back here after a failed lookup), the form filled in again, which
//   address failed and why, and links to try instead.
// - result(): /dd_result. Both addresses found and connected: the directions.
//   An address missing, not found or ambiguous: 302 to /dd? with the same
//   query. Found but not connected: a page without directions that says so.
// A request that is malformed (repeated fields, not UTF-8, control characters,
// too long) is sent back to the form: /dd_result answers 302 to /dd? with a
// short, safe copy of its fields, and /dd shows the form with a notice that says
// what is wrong. The application then lands on its "Search Again" state with the
// reason on the page, rather than on a failed page load.

#include "service/geocoder/geocoder.h"
#include "service/map/road_map.h"
#include "service/routing/router.h"

#include <future>
#include <map>
#include <string>
#include <vector>

namespace tw::service {

// An answer, ready to be sent.
struct Reply {
    int status = 200;
    std::string body;     // text/html; charset=utf-8
    std::string location; // for 302: where to go
    std::vector<GeocodeStatus> lookups; // outcomes of the address lookups made, for the metrics
};

using QueryParams = std::multimap<std::string, std::string>;

class DirectionsSite {
public:
    // Indexes `map` for addresses and routing; `map` must outlive the site.
    // Throws MapError when `routing` names a damaged prepared file.
    explicit DirectionsSite(const RoadMap& map, const RouterOptions& routing = {});

    Reply form(const QueryParams& params) const;
    Reply result(const QueryParams& params) const;

    const Geocoder& geocoder() const { return m_geocoder; }
    const Router& router() const { return m_router; }

private:
    // The geocoder is indexed on another thread while the router indexes.
    DirectionsSite(const RoadMap& map, const RouterOptions& routing, std::future<Geocoder> geocoder);

    // Returns the point on the found street nearest the place, or nothing when
    // that street is cut off from the main road network.
    std::optional<Snap> snapOnto(const GeocodeMatch& match) const;

    const RoadMap& m_map;
    Router m_router;
    Geocoder m_geocoder;
};

} // namespace tw::service
