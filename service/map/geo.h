#pragma once
// Small geometry helpers on WGS84 coordinates, shared by the importer, the
// router and the pages.

#include "service/map/road_map.h"

#include <span>

namespace tw::service {

// Returns the great-circle distance in metres (haversine, mean earth radius).
double distanceMetres(Coordinate a, Coordinate b);

// Returns the point at `fraction` (0..1) of the polyline's length.
Coordinate pointAlong(std::span<const Coordinate> polyline, double fraction);

// Returns the length of a polyline in metres.
double polylineMetres(std::span<const Coordinate> polyline);

}  // namespace tw::service
