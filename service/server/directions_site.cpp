#include "service/server/directions_site.h"

#include "service/guidance/guidance.h"
#include "service/server/html_text.h"
#include "service/server/page_writer.h"

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

Reply badRequest(const std::string& problem)
{
    return {400, writeProblemPage("Bad request", problem), {}};
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
        if (!s.cityLine.empty())
            city = s.cityLine;
        std::string text = s.cityLine.empty() ? s.streetLine : s.streetLine + ", " + s.cityLine;
        links.push_back({std::move(text), "/dd_result?" + encodeDirectionsQuery(changed)});
    }
    return links;
}

} // namespace

DirectionsSite::DirectionsSite(const RoadMap& map)
    : m_map(map), m_router(map), m_geocoder(map)
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
        return {200, writeFormPage(page), {}};
    const QueryCheck check = checkDirectionsQuery(params);
    if (!check.query) {
        page.notice = check.problem;
        return {400, writeFormPage(page), {}};
    }
    const DirectionsQuery& query = *check.query;
    page.filled = query;
    if (query.isBlank()) {
        page.notice = "Please enter a starting address and a destination address.";
        return {200, writeFormPage(page), {}};
    }
    const GeocodeResult from = m_geocoder.geocode(query.addr, query.csz);
    const GeocodeResult to = m_geocoder.geocode(query.taddr, query.tcsz);
    if (!found(from))
        page.problems.push_back({kStartWhich, from.problem, suggestionLinks(from, query, true)});
    if (!found(to))
        page.problems.push_back({kDestWhich, to.problem, suggestionLinks(to, query, false)});
    return {200, writeFormPage(page), {}};
}

Reply DirectionsSite::result(const QueryParams& params) const
{
    const QueryCheck check = checkDirectionsQuery(params);
    if (!check.query)
        return badRequest(check.problem);
    const DirectionsQuery& query = *check.query;
    const std::string again = "/dd?" + encodeDirectionsQuery(query);

    const GeocodeResult from = m_geocoder.geocode(query.addr, query.csz);
    const GeocodeResult to = m_geocoder.geocode(query.taddr, query.tcsz);
    if (!found(from) || !found(to))
        return {302, {}, again};

    const GeocodeMatch& start = *from.match;
    const GeocodeMatch& dest = *to.match;
    const auto startSnap = snapOnto(start);
    const auto destSnap = snapOnto(dest);
    std::optional<Route> route;
    if (startSnap && destSnap)
        route = m_router.route(*startSnap, *destSnap);
    if (!route)
        return {200, writeNoRoutePage({fullLabel(start), fullLabel(dest), again}), {}};

    ResultPage page;
    page.fromLabel = fullLabel(start);
    page.toLabel = fullLabel(dest);
    page.metres = route->metres;
    page.seconds = route->seconds;
    for (const GeocodeMatch* match : {&start, &dest}) {
        if (!match->note.empty())
            page.notes.push_back(match->note);
    }
    page.steps = buildInstructions(m_map, *route, {start.label, dest.label});
    page.changeHref = again;
    return {200, writeResultPage(page), {}};
}

} // namespace tw::service
