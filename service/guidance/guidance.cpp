#include "service/guidance/guidance.h"

#include "service/geocoder/address_text.h"
#include "service/guidance/units.h"
#include "service/map/geo.h"
#include "service/map/prefetch.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tw::service {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kBearingProbeMetres = 5.0;
// A street that bends less than this where it keeps its name needs no instruction.
constexpr double kSameStreetBendDegrees = 45.0;

// A run of the route along one road (or one roundabout, or one ramp).
struct Piece {
    std::size_t firstIndex = 0; // into route.edges
    std::size_t lastIndex = 0;
    std::uint64_t identity = 0; // name id, else ref id tagged, 0 when unnamed
    StringId name = 0;
    StringId ref = 0;
    StringId destination = 0;    // signs on the piece's first edge
    StringId destinationRef = 0;
    RoadClass roadClass = RoadClass::Residential;
    bool roundabout = false;
    bool link = false;
    double metres = 0;
    double seconds = 0;
    double entryBearing = 0;
    double exitBearing = 0;
};

double flatMetres(Coordinate a, Coordinate b)
{
    const double x = (b.lon - a.lon) * std::cos((a.lat + b.lat) * kPi / 360.0);
    const double y = b.lat - a.lat;
    return std::sqrt(x * x + y * y) * 111195.0;
}

double entryBearing(std::span<const Coordinate> shape)
{
    for (std::size_t k = 1; k < shape.size(); ++k) {
        if (flatMetres(shape[0], shape[k]) >= kBearingProbeMetres || k + 1 == shape.size())
            return bearingDegrees(shape[0], shape[k]);
    }
    return 0;
}

// The part of `shape` that lies after `fraction` of its length, starting with
// the point at that fraction. A route that starts partway along its first road
// heads the way that road runs there, not at the road's beginning.
std::vector<Coordinate> shapeAfter(std::span<const Coordinate> shape, double fraction)
{
    std::vector<Coordinate> rest;
    if (shape.size() < 2 || !(fraction > 0.0))
        return {shape.begin(), shape.end()};
    double total = 0;
    for (std::size_t k = 1; k < shape.size(); ++k)
        total += flatMetres(shape[k - 1], shape[k]);
    double remaining = std::min(fraction, 1.0) * total;
    for (std::size_t k = 1; k < shape.size(); ++k) {
        const double length = flatMetres(shape[k - 1], shape[k]);
        if (remaining < length) {
            const double t = length > 0 ? remaining / length : 0.0;
            rest.push_back({shape[k - 1].lat + (shape[k].lat - shape[k - 1].lat) * t,
                            shape[k - 1].lon + (shape[k].lon - shape[k - 1].lon) * t});
            rest.insert(rest.end(), shape.begin() + static_cast<std::ptrdiff_t>(k), shape.end());
            return rest;
        }
        remaining -= length;
    }
    // At (or rounding past) the end: keep the last segment for a bearing.
    return {shape.end() - 2, shape.end()};
}

double exitBearing(std::span<const Coordinate> shape)
{
    const std::size_t n = shape.size();
    for (std::size_t k = n - 1; k-- > 0;) {
        if (flatMetres(shape[k], shape[n - 1]) >= kBearingProbeMetres || k == 0)
            return bearingDegrees(shape[k], shape[n - 1]);
    }
    return 0;
}

double headingChange(double from, double to)
{
    double delta = std::fmod(to - from, 360.0);
    if (delta > 180)
        delta -= 360;
    if (delta <= -180)
        delta += 360;
    return delta;
}

bool isHighway(RoadClass c)
{
    return c == RoadClass::Motorway || c == RoadClass::Trunk;
}

bool straight(double delta)
{
    return std::fabs(delta) <= 20.0;
}

const char* compassWord(double bearing)
{
    static const char* const kWords[] = {"north", "northeast", "east", "southeast",
                                         "south", "southwest", "west", "northwest"};
    const double b = std::fmod(std::fmod(bearing, 360.0) + 360.0 + 22.5, 360.0);
    return kWords[static_cast<int>(b / 45.0) % 8];
}

std::string ordinal(int n)
{
    const int lastTwo = n % 100;
    const char* suffix = "th";
    if (lastTwo < 11 || lastTwo > 13) {
        switch (n % 10) {
        case 1: suffix = "st"; break;
        case 2: suffix = "nd"; break;
        case 3: suffix = "rd"; break;
        default: break;
        }
    }
    return std::to_string(n) + suffix;
}

// The first of several signed values ("Oakport;Lowtown" -> "Oakport").
std::string firstSign(std::string_view value)
{
    return std::string(value.substr(0, value.find(';')));
}

class Builder {
public:
    Builder(const RoadMap& map, const Route& route)
        : m_map(map), m_route(route)
    {
    }

    std::vector<Piece> pieces()
    {
        std::vector<Piece> out;
        const auto& edges = m_route.edges;
        // On a country-size map every road of a route is a cache miss of
        // its own: its record is asked for well ahead, and the start of its
        // shape (read where a piece begins) once the record is near.
        constexpr std::size_t kRecordAhead = 64;
        constexpr std::size_t kShapeAhead = 32;
        for (std::size_t i = 0; i < edges.size(); ++i) {
            if (i + kRecordAhead < edges.size() && edges[i + kRecordAhead] < m_map.edges.size())
                prefetch(&m_map.edges[edges[i + kRecordAhead]]);
            if (i + kShapeAhead < edges.size() && edges[i + kShapeAhead] < m_map.edges.size())
                prefetch(m_map.edgeShape(edges[i + kShapeAhead]).data());
            if (edges[i] >= m_map.edges.size())
                continue;
            const Edge& edge = m_map.edges[edges[i]];
            double fraction = 1.0;
            if (edges.size() == 1)
                fraction = m_route.lastFraction - m_route.firstFraction;
            else if (i == 0)
                fraction = 1.0 - m_route.firstFraction;
            else if (i + 1 == edges.size())
                fraction = m_route.lastFraction;
            fraction = std::clamp(fraction, 0.0, 1.0);
            const bool roundabout = edge.has(kEdgeRoundabout);
            const bool link = edge.has(kEdgeLink);
            const std::uint64_t identity = edge.name != 0 ? edge.name
                : edge.ref != 0                           ? (std::uint64_t{1} << 32) | edge.ref
                                                          : 0;
            const bool joins = !out.empty() && out.back().roundabout == roundabout && out.back().link == link
                && (roundabout || link || out.back().identity == identity);
            if (!joins) {
                Piece piece;
                piece.firstIndex = i;
                piece.identity = identity;
                piece.name = edge.name;
                piece.ref = edge.ref;
                piece.destination = edge.destination;
                piece.destinationRef = edge.destinationRef;
                piece.roadClass = edge.roadClass;
                piece.roundabout = roundabout;
                piece.link = link;
                const auto shape = m_map.edgeShape(edges[i]);
                piece.entryBearing = i == 0 ? entryBearing(shapeAfter(shape, m_route.firstFraction))
                                            : entryBearing(shape);
                out.push_back(piece);
            }
            Piece& piece = out.back();
            piece.lastIndex = i;
            piece.metres += edge.metres * fraction;
            piece.seconds += edge.deciseconds / 10.0 * fraction;
        }
        // Only a piece's last road says how it is left; a long route has
        // thousands of roads and a few dozen pieces.
        for (std::size_t k = 0; k < out.size(); ++k) {
            if (k + kShapeAhead < out.size()) {
                const auto ahead = m_map.edgeShape(edges[out[k + kShapeAhead].lastIndex]);
                prefetch(&ahead.back());
            }
            out[k].exitBearing = exitBearing(m_map.edgeShape(edges[out[k].lastIndex]));
        }
        collapse(out);
        foldEnds(out);
        return out;
    }

    // Returns "LEFT" or "RIGHT": the side `piece` leaves `before` on. Nearly
    // straight on, the side is where it lies against the other road ahead.
    const char* sideOf(const Piece& before, const Piece& piece) const
    {
        const double delta = headingChange(before.exitBearing, piece.entryBearing);
        if (std::fabs(delta) < 5.0) {
            const EdgeId last = m_route.edges[before.lastIndex];
            const EdgeId taken = m_route.edges[piece.firstIndex];
            double other = 0;
            double nearest = 360;
            for (const Edge& e : m_map.outEdges(m_map.edges[last].target)) {
                const EdgeId id = m_map.edgeId(e);
                if (id == taken || id == m_map.edges[last].twin)
                    continue;
                const double d = headingChange(before.exitBearing, entryBearing(m_map.edgeShape(id)));
                if (std::fabs(d) < nearest) {
                    nearest = std::fabs(d);
                    other = d;
                }
            }
            if (nearest < 90)
                return other > delta ? "LEFT" : "RIGHT";
        }
        return delta < 0 ? "LEFT" : "RIGHT";
    }

    // Returns the signed direction of a highway driven as `highway` after the
    // ramp `ramp`: the ramp's destination:ref, else the highway's ref and the
    // compass letter of its heading ("QZ 40 W").
    std::string directionOf(const Piece& ramp, const Piece& highway) const
    {
        if (ramp.destinationRef != 0)
            return deviceStreetName(firstSign(m_map.text(ramp.destinationRef)));
        const std::string& ref = m_map.text(highway.ref);
        if (ref.empty())
            return streetOf(highway);
        const Coordinate a = m_map.edgeShape(m_route.edges[highway.firstIndex]).front();
        const Coordinate b = m_map.edgeShape(m_route.edges[highway.lastIndex]).back();
        static const char* const kLetters[] = {"N", "E", "S", "W"};
        const double bearing = bearingDegrees(a, b);
        return deviceStreetName(firstSign(ref)) + " " + kLetters[static_cast<int>(std::fmod(bearing + 45.0, 360.0) / 90.0) % 4];
    }

    // Returns where the ramp's signs point ("Oakport"), or "" when unsigned.
    std::string destinationOf(const Piece& ramp) const
    {
        return deviceStreetName(firstSign(m_map.text(ramp.destination)));
    }

    // Returns "LEFT" / "RIGHT" for the side of the road the place lies on at
    // the route's end, or nullptr when it lies on the road itself.
    const char* arrivalSide(Coordinate place) const
    {
        if (m_route.edges.empty() || m_route.edges.back() >= m_map.edges.size())
            return nullptr;
        const auto shape = m_map.edgeShape(m_route.edges.back());
        double best = 1e18;
        double cross = 0;
        const double scale = std::cos(place.lat * kPi / 180.0);
        for (std::size_t k = 1; k < shape.size(); ++k) {
            const double dx = (shape[k].lon - shape[k - 1].lon) * scale;
            const double dy = shape[k].lat - shape[k - 1].lat;
            const double px = (place.lon - shape[k - 1].lon) * scale;
            const double py = place.lat - shape[k - 1].lat;
            const double length2 = dx * dx + dy * dy;
            const double t = length2 > 0 ? std::clamp((px * dx + py * dy) / length2, 0.0, 1.0) : 0.0;
            const double ex = px - t * dx;
            const double ey = py - t * dy;
            const double distance2 = ex * ex + ey * ey;
            if (distance2 < best) {
                best = distance2;
                cross = length2 > 0 ? (dx * py - dy * px) / std::sqrt(length2) : 0.0;
            }
        }
        if (std::fabs(cross) * 111195.0 < 2.0)
            return nullptr;
        return cross > 0 ? "LEFT" : "RIGHT";
    }

    // Returns the exit number taken off the roundabout `piece`.
    int roundaboutExit(const Piece& piece) const
    {
        int exits = 1;
        for (std::size_t i = piece.firstIndex; i < piece.lastIndex; ++i) {
            const Edge& edge = m_map.edges[m_route.edges[i]];
            const auto out = m_map.outEdges(edge.target);
            if (std::any_of(out.begin(), out.end(), [](const Edge& e) { return !e.has(kEdgeRoundabout); }))
                ++exits;
        }
        return exits;
    }

    bool isUTurn(const Piece& from, const Piece& to) const
    {
        const EdgeId last = m_route.edges[from.lastIndex];
        const EdgeId next = m_route.edges[to.firstIndex];
        return m_map.edges[last].twin == next;
    }

    std::string streetOf(const Piece& piece) const
    {
        const std::string& name = m_map.text(piece.name);
        const std::string& ref = m_map.text(piece.ref);
        if (isHighway(piece.roadClass) && !ref.empty())
            return deviceStreetName(ref);
        return deviceStreetName(name.empty() ? ref : name);
    }

private:
    static bool plain(const Piece& p) { return !p.roundabout && !p.link; }

    static void absorb(Piece& into, const Piece& next)
    {
        into.lastIndex = next.lastIndex;
        into.metres += next.metres;
        into.seconds += next.seconds;
        into.exitBearing = next.exitBearing;
    }

    // Merges pieces the driver sees as one step, by three rules in order of
    // precedence: whichever rule comes first matches first, and the earliest
    // place it matches. A merge only changes the pieces around it, so each
    // rule's scan picks up a little before the last merge instead of at the
    // start: every earlier place was checked and has not changed. Starting
    // over made a route of many short pieces cost the square of their number.
    void collapse(std::vector<Piece>& list) const
    {
        std::size_t from[3] = {1, 1, 1}; // where each rule's scan resumes
        auto merged = [&](std::size_t i) {
            // list[i] was erased; list[i - 1] and the new list[i] may have changed.
            // A triple (rule 0) or pair (rules 1, 2) that holds either is
            // checked again.
            from[0] = std::min(from[0], i > 2 ? i - 2 : 1);
            from[1] = std::min(from[1], i > 1 ? i - 1 : 1);
            from[2] = std::min(from[2], i > 1 ? i - 1 : 1);
        };
        while (true) {
            bool changed = false;
            for (std::size_t& i = from[0]; i + 1 < list.size() && !changed; ++i) {
                Piece& before = list[i - 1];
                Piece& piece = list[i];
                Piece& after = list[i + 1];
                if (!plain(piece) || !plain(before) || !plain(after))
                    continue;
                const double into = headingChange(before.exitBearing, piece.entryBearing);
                const double outOf = headingChange(piece.exitBearing, after.entryBearing);
                if (piece.metres < kShortPieceMetres) {
                    // A few metres between two roads (a divided road's gap, a
                    // jog): the driver sees one turn, from `before` onto `after`.
                    after.metres += piece.metres;
                    after.seconds += piece.seconds;
                    after.firstIndex = piece.firstIndex;
                    list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
                    changed = true;
                } else if (piece.metres < kShortNameChangeMetres && straight(into) && straight(outOf)) {
                    absorb(before, piece);
                    list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
                    changed = true;
                }
                if (changed) {
                    merged(i);
                    break;
                }
            }
            // A road that only changes its name straight ahead is one step.
            for (std::size_t& i = from[1]; i < list.size() && !changed; ++i) {
                if (plain(list[i - 1]) && plain(list[i]) && list[i - 1].identity != list[i].identity
                    && straight(headingChange(list[i - 1].exitBearing, list[i].entryBearing))
                    && !isHighway(list[i - 1].roadClass) && !isHighway(list[i].roadClass)
                    && onlyWayAhead(list[i - 1], list[i])) {
                    absorb(list[i - 1], list[i]);
                    list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
                    changed = true;
                    merged(i);
                    break;
                }
            }
            // Pieces of one street that now touch are one piece, unless the
            // driver turns back along it.
            for (std::size_t& i = from[2]; i < list.size() && !changed; ++i) {
                if (plain(list[i - 1]) && plain(list[i]) && list[i - 1].identity == list[i].identity
                    && std::fabs(headingChange(list[i - 1].exitBearing, list[i].entryBearing)) <= kSameStreetBendDegrees
                    && !isUTurn(list[i - 1], list[i])) {
                    absorb(list[i - 1], list[i]);
                    list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
                    changed = true;
                    merged(i);
                    break;
                }
            }
            if (!changed)
                return;
        }
    }

    // Returns whether, where `before` ends, the road taken is the only one
    // ahead within 45 degrees of straight on (so going straight needs no word).
    bool onlyWayAhead(const Piece& before, const Piece& piece) const
    {
        const EdgeId last = m_route.edges[before.lastIndex];
        const EdgeId taken = m_route.edges[piece.firstIndex];
        for (const Edge& e : m_map.outEdges(m_map.edges[last].target)) {
            const EdgeId id = m_map.edgeId(e);
            if (id == taken || id == m_map.edges[last].twin)
                continue;
            if (std::fabs(headingChange(before.exitBearing, entryBearing(m_map.edgeShape(id)))) <= 45.0)
                return false;
        }
        return true;
    }

    // No step of zero length: a first road that is left at once gives the
    // start's heading to the road after it; a last road of a few metres after
    // a turn is part of the arrival.
    void foldEnds(std::vector<Piece>& list) const
    {
        if (list.size() > 1 && list[0].metres < kUndrivenStartMetres && plain(list[0]) && plain(list[1])) {
            list[1].firstIndex = list[0].firstIndex;
            list[1].metres += list[0].metres;
            list[1].seconds += list[0].seconds;
            list.erase(list.begin());
        }
        if (list.size() > 1 && list.back().metres < kShortPieceMetres && plain(list.back())
            && plain(list[list.size() - 2])) {
            absorb(list[list.size() - 2], list.back());
            list.pop_back();
        }
    }

    const RoadMap& m_map;
    const Route& m_route;
};

void addDistance(Instruction& instruction)
{
    if (instruction.metres >= 1.0)
        instruction.text.push_back({" - go " + formatDistance(instruction.metres), Emphasis::Plain});
}

void addOnto(Instruction& instruction, const std::string& street)
{
    if (!street.empty()) {
        instruction.text.push_back({" onto ", Emphasis::Plain});
        instruction.text.push_back({street, Emphasis::Bold});
    }
}

// "120 North Main Street" -> "120 N Main St": the house number stays in front.
std::string deviceLabel(std::string_view label)
{
    const std::size_t space = label.find(' ');
    if (space == std::string_view::npos || label.empty() || label[0] < '0' || label[0] > '9')
        return deviceStreetName(label);
    // A house number ("120", "12B", "1400-1402"), not an ordinal street ("7th Street").
    const std::string_view first = label.substr(0, space);
    std::size_t letters = 0;
    for (char c : first) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
            ++letters;
    }
    if (letters > 1 && first.find('-') == std::string_view::npos)
        return deviceStreetName(label);
    return deviceStreetName(first) + " " + deviceStreetName(label.substr(space + 1));
}

const char* directionWords(TurnDirection direction)
{
    switch (direction) {
    case TurnDirection::SlightLeft: return "SLIGHT LEFT";
    case TurnDirection::Left: return "LEFT";
    case TurnDirection::SharpLeft: return "SHARP LEFT";
    case TurnDirection::SlightRight: return "SLIGHT RIGHT";
    case TurnDirection::Right: return "RIGHT";
    case TurnDirection::SharpRight: return "SHARP RIGHT";
    case TurnDirection::Straight: break;
    }
    return "STRAIGHT";
}

} // namespace

double bearingDegrees(Coordinate a, Coordinate b)
{
    const double rad = kPi / 180.0;
    const double y = std::sin((b.lon - a.lon) * rad) * std::cos(b.lat * rad);
    const double x = std::cos(a.lat * rad) * std::sin(b.lat * rad)
        - std::sin(a.lat * rad) * std::cos(b.lat * rad) * std::cos((b.lon - a.lon) * rad);
    const double degrees = std::atan2(y, x) / rad;
    return std::fmod(degrees + 360.0, 360.0);
}

TurnDirection turnFor(double delta)
{
    const double size = std::fabs(delta);
    if (size <= 20.0)
        return TurnDirection::Straight;
    const bool right = delta > 0;
    if (size <= 40.0)
        return right ? TurnDirection::SlightRight : TurnDirection::SlightLeft;
    if (size <= 120.0)
        return right ? TurnDirection::Right : TurnDirection::Left;
    return right ? TurnDirection::SharpRight : TurnDirection::SharpLeft;
}

std::string deviceStreetName(std::string_view name)
{
    std::string safe;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c == '&') {
            safe += " and ";
        } else if (c == '<' || c == '>' || c == '"' || static_cast<unsigned char>(c) < 0x20) {
            safe += ' ';
        } else if (static_cast<unsigned char>(c) == 0xC2 && i + 1 < name.size()
                   && static_cast<unsigned char>(name[i + 1]) == 0xA0) {
            safe += ' '; // no-break space would come back as an entity
            ++i;
        } else {
            safe += c;
        }
    }
    // Collapse the blanks the replacements may have doubled.
    std::string collapsed;
    for (char c : safe) {
        if (c == ' ' && (collapsed.empty() || collapsed.back() == ' '))
            continue;
        collapsed += c;
    }
    while (!collapsed.empty() && collapsed.back() == ' ')
        collapsed.pop_back();
    return shortStreetName(collapsed);
}

std::string movedEndNote(const RoadMap& map, std::string_view label, bool onItsStreet, Coordinate place,
                         const Snap& snap, RouteEnd end)
{
    const double metres = distanceMetres(place, snap.point);
    if ((onItsStreet && metres <= kMovedEndMetres) || snap.edge >= map.edges.size())
        return {};
    const Edge& edge = map.edges[snap.edge];
    std::string road = deviceStreetName(map.text(edge.name != 0 ? edge.name : edge.ref));
    if (road.empty())
        road = "the nearest road";
    return deviceLabel(label) + " is " + formatDistance(metres) + " from " + road + "; directions "
        + (end == RouteEnd::Start ? "start" : "end") + " there.";
}

std::string plainText(const Instruction& instruction)
{
    std::string out;
    for (const TextSpan& span : instruction.text)
        out += span.text;
    return out;
}

std::vector<Instruction> buildInstructions(const RoadMap& map, const Route& route, const RouteEnds& ends)
{
    Builder builder(map, route);
    const std::vector<Piece> pieces = builder.pieces();
    std::vector<Instruction> out;

    Instruction start;
    start.kind = ManeuverKind::Start;
    const std::string startLabel = deviceLabel(ends.startLabel);
    start.text.push_back({"Start at ", Emphasis::Plain});
    start.text.push_back({startLabel.empty() ? std::string("your start") : startLabel, Emphasis::Bold});
    if (!pieces.empty()) {
        const Piece& first = pieces.front();
        start.street = builder.streetOf(first);
        start.metres = first.metres;
        start.seconds = first.seconds;
        start.text.push_back({std::string(" heading ") + compassWord(first.entryBearing), Emphasis::Plain});
        if (!start.street.empty() && startLabel.find(start.street) == std::string::npos) {
            start.text.push_back({" on ", Emphasis::Plain});
            start.text.push_back({start.street, Emphasis::Bold});
        }
    }
    addDistance(start);
    out.push_back(std::move(start));

    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const Piece& before = pieces[i - 1];
        const Piece& piece = pieces[i];
        Instruction step;
        step.street = builder.streetOf(piece);
        step.metres = piece.metres;
        step.seconds = piece.seconds;
        if (piece.roundabout) {
            step.kind = ManeuverKind::Roundabout;
            step.roundaboutExit = builder.roundaboutExit(piece);
            step.text.push_back({"At the roundabout, take the ", Emphasis::Plain});
            step.text.push_back({ordinal(step.roundaboutExit), Emphasis::Bold});
            step.text.push_back({" exit", Emphasis::Plain});
            if (i + 1 < pieces.size()) {
                const Piece& leaving = pieces[++i];
                step.street = builder.streetOf(leaving);
                step.metres += leaving.metres;
                step.seconds += leaving.seconds;
                addOnto(step, step.street);
            }
        } else if (piece.link && isHighway(before.roadClass) && !before.link) {
            step.kind = ManeuverKind::Exit;
            step.text.push_back({"Take the exit on the ", Emphasis::Plain});
            step.text.push_back({builder.sideOf(before, piece), Emphasis::Bold});
            std::string toward = builder.destinationOf(piece);
            if (toward.empty() && i + 1 < pieces.size() && !pieces[i + 1].link)
                toward = builder.streetOf(pieces[i + 1]);
            if (!toward.empty()) {
                step.text.push_back({" toward ", Emphasis::Plain});
                step.text.push_back({toward, Emphasis::Bold});
            }
        } else if ((piece.link && i + 1 < pieces.size() && isHighway(pieces[i + 1].roadClass) && !pieces[i + 1].link)
                   || (before.link && isHighway(piece.roadClass) && !piece.link)) {
            step.kind = ManeuverKind::Ramp;
            std::string toward;
            step.text.push_back({"Take the ramp", Emphasis::Plain});
            if (piece.link) {
                const Piece& highway = pieces[++i];
                step.street = builder.directionOf(piece, highway);
                step.metres += highway.metres;
                step.seconds += highway.seconds;
                toward = builder.destinationOf(piece);
                step.text.push_back({" on the ", Emphasis::Plain});
                step.text.push_back({builder.sideOf(before, piece), Emphasis::Bold});
            }
            addOnto(step, step.street);
            if (!toward.empty()) {
                step.text.push_back({" toward ", Emphasis::Plain});
                step.text.push_back({toward, Emphasis::Bold});
            }
        } else {
            const double delta = headingChange(before.exitBearing, piece.entryBearing);
            if (builder.isUTurn(before, piece) || std::fabs(delta) >= 170.0) {
                step.kind = ManeuverKind::UTurn;
                step.text.push_back({"Make a ", Emphasis::Plain});
                step.text.push_back({"U-TURN", Emphasis::Bold});
                addOnto(step, step.street);
            } else {
                step.direction = turnFor(delta);
                if (step.direction == TurnDirection::Straight) {
                    step.kind = ManeuverKind::Continue;
                    step.text.push_back({"Continue", Emphasis::Plain});
                } else {
                    step.kind = ManeuverKind::Turn;
                    step.text.push_back({"Turn ", Emphasis::Plain});
                    step.text.push_back({directionWords(step.direction), Emphasis::Bold});
                }
                addOnto(step, step.street);
            }
        }
        addDistance(step);
        out.push_back(std::move(step));
    }

    Instruction arrive;
    arrive.kind = ManeuverKind::Arrive;
    const std::string arriveLabel = deviceLabel(ends.arriveLabel);
    arrive.text.push_back({"Arrive at ", Emphasis::Plain});
    arrive.text.push_back({arriveLabel.empty() ? std::string("your destination") : arriveLabel, Emphasis::Bold});
    if (ends.arrivePlace) {
        if (const char* side = builder.arrivalSide(*ends.arrivePlace)) {
            arrive.text.push_back({", on the ", Emphasis::Plain});
            arrive.text.push_back({side, Emphasis::Bold});
        }
    }
    out.push_back(std::move(arrive));
    return out;
}

} // namespace tw::service
