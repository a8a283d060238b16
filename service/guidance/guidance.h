#pragma once
// Guidance: turns a Route over a RoadMap into the numbered instructions a
// driver reads, "Start at" first and "Arrive at" last.
//
// Rules:
// - Consecutive edges of one street (same name, else same ref) are one step.
// - The angle between the road driven and the road taken decides the turn:
//   within 20 degrees straight ("Continue onto" when the name changes), 20-40
//   slight, 40-120 a turn, beyond that sharp; driving back along the same road
//   is a U-turn. Left and right as seen by the driver.
// - A road that only changes its name where the driver goes straight on (no
//   other road leaves within 45 degrees of straight there) is one step, under
//   its first name; pieces shorter than kShortPieceMetres between two turns
//   (the gap of a divided road) fold into one turn.
// - No step has zero length: a start heading that is never driven (the first
//   road is shorter than kUndrivenStartMetres) folds into the first turn, and a
//   last turn shorter than that folds into the arrival.
// - The arrival says on which side of the road the place lies ("Arrive at
//   1612 7th St, on the RIGHT") when RouteEnds gives the place.
// - Roundabouts: one instruction at the entry with the exit counted
//   ("At the roundabout, take the 2nd exit onto ...").
// - Ramps: "Take the ramp on the LEFT onto QZ 40 W toward Oakport" from a
//   surface road, "Take the exit on the RIGHT toward Oakport" from a highway; a
//   ramp merging into a highway adds no instruction. The side is the side the
//   ramp leaves on; the direction is the ramp's destination:ref, else the
//   highway's ref with the compass letter of its heading; "toward" names the
//   ramp's first destination, else the road it leads to.
// - Street names are shortened the USPS way (Street -> St) and made safe for
//   the device: no '&', '<', '>' or '"' (an '&' reads "and").

#include "service/map/road_map.h"
#include "service/routing/router.h"

#include <optional>
#include <string>
#include <vector>

namespace tw::service {

inline constexpr double kShortNameChangeMetres = 100.0;
inline constexpr double kShortPieceMetres = 30.0;
// A first road shorter than this is left at once: its heading is never driven.
inline constexpr double kUndrivenStartMetres = 10.0;

enum class Emphasis { Plain, Bold };

// A run of instruction text; Bold runs are the words a driver scans for.
struct TextSpan {
    std::string text;
    Emphasis emphasis = Emphasis::Plain;
};

enum class ManeuverKind { Start, Continue, Turn, UTurn, Roundabout, Ramp, Exit, Arrive };

enum class TurnDirection { Straight, SlightLeft, Left, SharpLeft, SlightRight, Right, SharpRight };

struct Instruction {
    ManeuverKind kind = ManeuverKind::Turn;
    TurnDirection direction = TurnDirection::Straight;
    int roundaboutExit = 0;        // Roundabout only: 1 = first exit
    std::string street;            // the road taken (display form), may be empty
    double metres = 0.0;           // driven after this instruction, up to the next
    double seconds = 0.0;
    std::vector<TextSpan> text;    // the full line, distance included
};

// The two ends as the geocoder found them (display text, e.g. "120 Main St").
struct RouteEnds {
    std::string startLabel;
    std::string arriveLabel;
    std::optional<Coordinate> arrivePlace;  // the address itself, for the side of the road
};

// Returns the instructions for `route`, Start first and Arrive last. Never
// throws for a route whose edges exist on `map`; an empty route gives just
// Start and Arrive.
std::vector<Instruction> buildInstructions(const RoadMap& map, const Route& route, const RouteEnds& ends);

inline constexpr double kMovedEndMetres = 50.0;

enum class RouteEnd { Start, Destination };

// Returns the sentence for the page when a route cannot begin or end at the
// address itself: its street has no road a car may use (`onItsStreet` false),
// or the road point is more than kMovedEndMetres from the place. For example
// "1612 7th St is 40 ft from 7th St; directions end there." Returns "" when
// the end lies on the address's own street within that distance.
std::string movedEndNote(const RoadMap& map, std::string_view label, bool onItsStreet, Coordinate place,
                         const Snap& snap, RouteEnd end);

// Returns the instruction's text without emphasis ("Turn LEFT onto Oak Ave - go 0.4 mi").
std::string plainText(const Instruction& instruction);

// Returns `name` made safe and short for the device (see the rules above).
std::string deviceStreetName(std::string_view name);

// Returns the compass bearing in degrees (0 = north, 90 = east) from a to b.
double bearingDegrees(Coordinate a, Coordinate b);

// Returns the turn for a change of heading of `delta` degrees (-180..180,
// positive = clockwise = right).
TurnDirection turnFor(double delta);

} // namespace tw::service
