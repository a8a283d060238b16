#pragma once
// Large synthetic maps for benchmarks: a region of fictional towns, each a
// perturbed street grid (120 m blocks, some one-way streets, a tertiary main
// street each way, address nodes and addr:interpolation ways on some blocks),
// joined to their neighbours by curving county roads, and on every third row of
// towns by divided motorways with ramps.
//
// Contract:
// - The file holds at least `minJunctions` road junctions (every grid crossing
//   is one) and every drivable node can reach every other, one-ways respected.
// - Same arguments, same bytes: all variation comes from a fixed hash.
// - Output is streamed: memory does not grow with the size of the map; a
//   million junctions take seconds.
// - Throws GeneratorError for a count of 0 or above kMaxSyntheticJunctions, and
//   when the file cannot be written (no partial file is left under its name).

#include <cstdint>
#include <filesystem>

namespace tw::service {

inline constexpr std::uint64_t kMaxSyntheticJunctions = 50'000'000;

struct SyntheticRegionStats {
    std::uint64_t towns = 0;
    std::uint64_t junctions = 0; // grid crossings plus motorway ramp ends
    std::uint64_t addresses = 0; // address nodes, interpolation end nodes included
    std::uint64_t nodes = 0;
    std::uint64_t ways = 0;
};

SyntheticRegionStats writeSyntheticRegion(const std::filesystem::path& path, std::uint64_t minJunctions);

} // namespace tw::service
