#pragma once
// The command line of tarnwickley-mapgen:
//   tarnwickley-mapgen --sample --out FILE.osm.pbf
//   tarnwickley-mapgen --junctions N --out FILE.osm.pbf
// (each option also as --name=value; --help prints the usage).

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace tw::service {

enum class MapgenAction { Help, Sample, Synthetic };

struct MapgenOptions {
    MapgenAction action = MapgenAction::Help;
    std::uint64_t junctions = 0;      // for Synthetic
    std::filesystem::path out;        // for Sample and Synthetic
};

struct MapgenParseResult {
    MapgenOptions options;
    std::string error; // empty on success; otherwise one line saying what is wrong
};

// Parses the arguments after the program name. Never throws; a bad command line
// gives a non-empty error.
MapgenParseResult parseMapgenArguments(std::span<const std::string_view> arguments);

// The usage text printed for --help and after an error.
std::string mapgenUsage();

} // namespace tw::service
