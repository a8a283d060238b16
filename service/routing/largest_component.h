#pragma once
// The largest strongly connected component of a road graph: the junctions from
// which every other junction of it can be reached and back. Snapping only lands
// there, so a route between two snapped points always exists.

#include "service/map/road_map.h"

#include <cstdint>
#include <vector>

namespace tw::service {

// Returns one byte per node: 1 when the node lies in the largest strongly
// connected component (the first of equal size), else 0. Needs the map's
// reverse index (RoadMap::finishIndexes). Iterative: deep graphs are fine.
std::vector<std::uint8_t> largestComponent(const RoadMap& map);

}  // namespace tw::service
