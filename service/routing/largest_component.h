#pragma once
// The largest strongly connected component of a road network as a driver may
// use it: over the TurnModel's states (directed edges), moving only by the turns
// the model allows. An edge in it can be driven to from every other edge in it
// and back, so a route between two points snapped onto such edges exists. A
// junction-only view would not do: a barrier or a restriction can cut a road
// off although its junctions are joined.

#include "service/routing/turn_model.h"

#include <cstdint>
#include <vector>

namespace tw::service {

// Returns one byte per map edge: 1 when the edge (as the model's state of that
// edge) lies in the largest strongly connected component (the first of equal
// size), else 0. Iterative: deep graphs are fine.
std::vector<std::uint8_t> largestComponent(const TurnModel& model);

}  // namespace tw::service
