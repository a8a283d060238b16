#pragma once
// Importing a RoadMap from an OpenStreetMap file with libosmium.
//
// What becomes a road (driven by car):
//   highway = motorway, trunk, primary, secondary, tertiary (and their *_link),
//   unclassified, residential, living_street, service.
//   Not: footway, path, cycleway, bridleway, steps, pedestrian, track (mostly
//   farm and forest tracks), road (unknown status), construction, proposed, and
//   any highway that is an area (area=yes).
// Access: the most specific of motorcar, motor_vehicle, vehicle, access decides;
//   no, private, agricultural, forestry, emergency, military, delivery and permit
//   close the road (it is left out); destination, customers, permissive, yes ...
//   keep it. Service roads stay in, at a low default speed (15 km/h) that keeps
//   routes off them unless they lead to the address.
// One-way: oneway=yes/1/true forward, -1/reverse backward, no/false/0 both ways;
//   reversible (direction changes over the day) is left out as its direction at
//   travel time is unknown. Motorways, motorway links and roundabouts are one-way
//   unless tagged otherwise.
// Speed: maxspeed in km/h, "NN mph", "NN knots"; the first of several values;
//   otherwise (none, signals, walk, zone names) a default per road class.
// Addresses: nodes with addr:housenumber; ways with addr:housenumber (buildings
//   and other areas) at the centroid of their nodes; addr:interpolation ways
//   (odd, even, all) between each pair of consecutive numbered nodes on them.
// Not modelled: turn restrictions, barriers (gates, bollards) on nodes, time
//   conditional tags, addresses on multipolygon relations.
//
// Two passes over the file: ways first (which nodes matter), then nodes (the
// locations of only those nodes, in a sorted id array: memory grows with the
// road network, not with the file).

#include "service/map/map_loader.h"
#include "service/map/road_map.h"

#include <string>

namespace tw::service {

// Returns the map imported from `path`. Throws MapError when the file cannot be
// read, is truncated or corrupt, or holds no drivable road.
RoadMap importOsm(const std::string& path, ProgressReport progress);

// Returns the speed in km/h a maxspeed value gives, or 0 when it gives none
// (empty, "none", "signals", a zone name, a malformed number).
int parseMaxspeed(std::string_view value);

// Returns the leading decimal number of a house number ("12B" -> 12,
// "1400-1402" -> 1400), or -1 when it does not start with a digit.
std::int32_t parseHouseNumber(std::string_view value);

}  // namespace tw::service
