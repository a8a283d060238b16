#pragma once
// Distances and durations as the directions show them: US units, short forms
// that read well on a small screen.

#include <string>

namespace tw::service {

// Returns a distance for a driver: under a tenth of a mile in feet ("40 ft",
// "350 ft"; to 10 ft below 100 ft, else to 50 ft), up to 10 miles in tenths
// ("0.4 mi", "2.5 mi"), beyond in whole miles ("37 mi"). Negative or
// non-finite input reads as 0 ft.
std::string formatDistance(double metres);

// Returns a travel time: "1 min" at least, "25 min", "1 h 5 min", "3 h".
std::string formatDuration(double seconds);

} // namespace tw::service
