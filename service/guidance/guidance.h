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
// - A name change on a piece shorter than kShortNameChangeMetres that is
//   driven straight through is not announced; pieces shorter than
//   kShortPieceMetres between two turns (the gap of a divided road) fold into
//   one turn.
// - Roundabouts: one instruction at the entry with the exit counted
//   ("At the roundabout, take the 2nd exit onto ...").
// - Ramps: "Take the ramp onto <highway>" from a surface road, "Take the exit"
//   from a highway; a ramp merging into a highway adds no instruction.
// - Street names are shortened the USPS way (Street -> St) and made safe for
//   the device: no '&', '<', '>' or '"' (an '&' reads "and").

#include "service/map/road_map.h"
#include "service/routing/router.h"

#include <string>
#include <vector>

namespace tw::service {

inline constexpr double kShortNameChangeMetres = 100.0;
inline constexpr double kShortPieceMetres = 30.0;

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
};

// Returns the instructions for `route`, Start first and Arrive last. Never
// throws for a route whose edges exist on `map`; an empty route gives just
// Start and Arrive.
std::vector<Instruction> buildInstructions(const RoadMap& map, const Route& route, const RouteEnds& ends);

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
