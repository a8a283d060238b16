#include "service/server/directions_site.h"

#include "service/guidance/guidance.h"
#include "service/server/html_text.h"
#include "service/server/page_writer.h"

#include <cctype>
#include <tuple>
#include <string_view>

namespace tw::service {
namespace {

constexpr const char* kStartWhich = "starting address";
constexpr const char* kDestWhich = "destination address";

// "120 Main Street, Halverby QZ 58911", or the label alone when the place is unknown.
std::string fullLabel(const GeocodeMatch& match)
{
    return match.place.empty() ? match.label : match.label + ", " + match.place;
}

bool found(const GeocodeResult& result)
{
    return result.status == GeocodeStatus::Found && result.match.has_value();
}

// The query of a request that failed its checks, carried to the form page so
// that the page can say what is wrong: the four fields only, at most two values
// each, every value cut to a little over the longest accepted field (at a
// character boundary, so a value that was too long stays too long and one that
// was well-formed stays well-formed), every byte but the unreserved ones
// percent-encoded. The result is always a short, plain-ASCII address.
std::string refusedQueryForForm(const QueryParams& params)
{
    static const char* const kFields[] = {"addr", "csz", "taddr", "tcsz"};
    constexpr std::size_t kKeptBytes = kMaxFieldBytes + 16;
    constexpr int kKeptValues = 2;
    std::string out;
    const auto append = [&out](std::string_view text) {
        static const char kHex[] = "0123456789ABCDEF";
        for (const char ch : text) {
            const auto c = static_cast<unsigned char>(ch);
            if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
                out.push_back(ch);
            } else {
                out.push_back('%');
                out.push_back(kHex[c >> 4U]);
                out.push_back(kHex[c & 15U]);
            }
        }
    };
    for (const char* field : kFields) {
        const auto [first, last] = params.equal_range(field);
        int taken = 0;
        for (auto it = first; it != last && taken < kKeptValues; ++it, ++taken) {
            std::string_view value = it->second;
            if (value.size() > kKeptBytes) {
                std::size_t cut = kKeptBytes;
                while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0U) == 0x80U)
                    --cut;
                value = value.substr(0, cut);
            }
            if (!out.empty())
                out.push_back('&');
            append(field);
            out.push_back('=');
            append(value);
        }
    }
    return out;
}

// The links that replace one side's address with each suggestion.
std::vector<PageLink> suggestionLinks(const GeocodeResult& result, const DirectionsQuery& query, bool start)
{
    std::vector<PageLink> links;
    for (const Suggestion& s : result.suggestions) {
        DirectionsQuery changed = query;
        std::string& line = start ? changed.addr : changed.taddr;
        std::string& city = start ? changed.csz : changed.tcsz;
        line = s.streetLine;
        std::vector<std::pair<std::string, std::string>> fills{{start ? "addr" : "taddr", s.streetLine}};
        if (!s.cityLine.empty()) {
            city = s.cityLine;
            fills.emplace_back(start ? "csz" : "tcsz", s.cityLine);
        }
        std::string text = s.cityLine.empty() ? s.streetLine : s.streetLine + ", " + s.cityLine;
        links.push_back({std::move(text), "/dd_result?" + encodeDirectionsQuery(changed), std::move(fills)});
    }
    return links;
}

} // namespace

DirectionsSite::DirectionsSite(const RoadMap& map, const RouterOptions& routing)
    : DirectionsSite(map, routing, std::async(std::launch::async, [&map] { return Geocoder(map); }))
{
}

DirectionsSite::DirectionsSite(const RoadMap& map, const RouterOptions& routing, std::future<Geocoder> geocoder)
    : m_map(map), m_router(map, routing), m_geocoder(geocoder.get())
{
}

std::optional<Snap> DirectionsSite::snapOnto(const GeocodeMatch& match) const
{
    // Most places lie nearest their own street: take the plain nearest road when
    // it carries the street's name (fast), else search that street only.
    if (auto nearest = m_router.snap(match.location)) {
        const StringId name = m_map.edges[nearest->edge].name;
        if (name == match.street || (name != 0 && m_map.text(name) == match.streetName))
            return nearest;
    }
    return m_router.snap(match.location, match.street);
}

Reply DirectionsSite::form(const QueryParams& params) const
{
    FormPage page;
    if (params.empty())
        return {200, writeFormPage(page), {}, {}};
    const QueryCheck check = checkDirectionsQuery(params);
    if (!check.query) {
        // The form page itself answers (not an error status), so that a
        // browser shows it and the user can correct the addresses.
        page.notice = check.problem;
        return {200, writeFormPage(page), {}, {}};
    }
    const DirectionsQuery& query = *check.query;
    page.filled = query;
    if (query.isBlank()) {
        page.notice = "Please enter a starting address and a destination address.";
        return {200, writeFormPage(page), {}, {}};
    }
    const GeocodeResult from = m_geocoder.geocode(query.addr, query.csz);
    const GeocodeResult to = m_geocoder.geocode(query.taddr, query.tcsz);
    if (!found(from))
        page.problems.push_back({kStartWhich, from.problem, suggestionLinks(from, query, true)});
    if (!found(to))
        page.problems.push_back({kDestWhich, to.problem, suggestionLinks(to, query, false)});
    return {200, writeFormPage(page), {}, {from.status, to.status}};
}

Reply DirectionsSite::result(const QueryParams& params) const
{
    const QueryCheck check = checkDirectionsQuery(params);
    if (!check.query)
        return {302, {}, "/dd?" + refusedQueryForForm(params), {}};
    const DirectionsQuery& query = *check.query;
    const std::string again = "/dd?" + encodeDirectionsQuery(query);

    const GeocodeResult from = m_geocoder.geocode(query.addr, query.csz);
    const GeocodeResult to = m_geocoder.geocode(query.taddr, query.tcsz);
    if (!found(from) || !found(to))
        return {302, {}, again, {from.status, to.status}};

    const GeocodeMatch& start = *from.match;
    const GeocodeMatch& dest = *to.match;
    const auto startSnap = snapOnto(start);
    const auto destSnap = snapOnto(dest);
    std::optional<Route> route;
    if (startSnap && destSnap)
        route = m_router.route(*startSnap, *destSnap);
    if (!route)
        return {200, writeNoRoutePage({fullLabel(start), fullLabel(dest), again}), {}, {from.status, to.status}};

    ResultPage page;
    page.fromLabel = fullLabel(start);
    page.toLabel = fullLabel(dest);
    page.metres = route->metres;
    page.seconds = route->seconds;
    for (const GeocodeMatch* match : {&start, &dest}) {
        if (!match->note.empty())
            page.notes.push_back(match->note);
    }
    for (const auto& [match, snap, end] : {std::tuple{&start, &*startSnap, RouteEnd::Start},
                                           std::tuple{&dest, &*destSnap, RouteEnd::Destination}}) {
        std::string moved = movedEndNote(m_map, match->label, match->street != 0, match->location, *snap, end);
        if (!moved.empty())
            page.notes.push_back(std::move(moved));
    }
    page.steps = buildInstructions(m_map, *route, {start.label, dest.label, dest.location});
    page.changeHref = again;
    return {200, writeResultPage(page), {}, {from.status, to.status}};
}

} // namespace tw::service
