#pragma once
// The bundled sample map: Halverby, QZ, a small fictional river town that the
// directions service loads when no map is given. TOWN.md beside this header
// describes its streets, address ranges and landmarks for people writing routes
// against it.
//
// Contract:
// - writeSampleTown() writes the same bytes on every run and every machine with
//   the same libosmium: fixed ids, fixed coordinates, no timestamps, no object
//   metadata and a fixed header.
// - Tagging is ordinary OpenStreetMap tagging (highway=*, name, ref, oneway,
//   junction=roundabout, bridge=yes + layer=1, maxspeed, access=private,
//   addr:* on nodes and buildings, addr:interpolation ways), so the importer
//   treats it exactly as a real extract.
// - The roundabout way carries no oneway tag: junction=roundabout implies it,
//   as in real data.

#include <filesystem>
#include <string_view>

namespace tw::service {

// The town every sample address lies in (addr:city, addr:state).
inline constexpr std::string_view kSampleTownCity = "Halverby";
inline constexpr std::string_view kSampleTownState = "QZ";
// Postcodes: north of the Sallow River (downtown, the highway) and south of it.
inline constexpr std::string_view kSampleTownNorthZip = "58911";
inline constexpr std::string_view kSampleTownSouthZip = "58912";
// The one river and the one bridge across it.
inline constexpr std::string_view kSampleTownRiver = "Sallow River";
inline constexpr std::string_view kSampleTownBridge = "Sallow Bridge";
// The divided highway's ref (no name, as motorways usually have none).
inline constexpr std::string_view kSampleTownHighwayRef = "QZ 40";

// The middle of the bridge, in WGS84 degrees: the origin of the town's layout.
inline constexpr double kSampleTownOriginLat = 41.4125;
inline constexpr double kSampleTownOriginLon = -99.6375;

// Writes the sample town as an .osm.pbf file at `path`, replacing any file there.
// The file is written beside the target and renamed over it, so a failure never
// leaves a half-written map under the final name. Throws GeneratorError (see
// generator_error.h) with a message that names the file when it cannot be written.
void writeSampleTown(const std::filesystem::path& path);

} // namespace tw::service
