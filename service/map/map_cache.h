#pragma once
// The binary cache of an imported RoadMap.
//
// The cache is a MappedFile (see mapped_file.h): the key of the source it was
// made from (absolute path, size, modification time), the string table, and
// every array of the map, derived indexes included, each a checksummed
// section. Reading maps the file and lets the map's arrays view it, so a
// start costs a check instead of a parse, and every process on the same map
// shares one copy of it. Reading checks the file's layout and checksums, the
// key, and every count and index (RoadMap::validate), so a stale, truncated,
// corrupt or foreign file is refused, never trusted. The whole-file checks
// are skipped for a cache this user has checked whole before and that has not
// changed since (MappedFile::knownSound). Writing goes to a
// temporary file in the same folder that is renamed over the old cache: a
// crash or a full disk never leaves a half-written cache behind, and a
// running process keeps the file it mapped.

#include "service/map/road_map.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tw::service {

// The version of what a cache holds; raise on every change to its layout or
// to the import rules.
inline constexpr std::uint32_t kMapCacheFormatVersion = 4;

// Identifies the source file a cache was made from.
struct CacheKey {
    std::string sourcePath;  // absolute
    std::uint64_t sourceSize = 0;
    std::int64_t sourceMtime = 0;  // file-clock ticks
    friend bool operator==(const CacheKey&, const CacheKey&) = default;
};

// Returns the key of a source file, or nothing when it cannot be examined.
std::optional<CacheKey> cacheKeyOf(const std::string& sourcePath);

// Returns the cache files to try for a source, best first: beside the map, then
// in the user's cache folder ($XDG_CACHE_HOME/tarnwickley or
// ~/.cache/tarnwickley).
std::string cachePathBeside(const std::string& sourcePath);
std::string cachePathInUserFolder(const CacheKey& key);

// Returns the map stored in `cachePath` when it is a sound cache made from the
// source `key` names; nothing otherwise (missing, stale, damaged).
std::optional<RoadMap> readMapCache(const std::string& cachePath, const CacheKey& key);

class MappedFileWriter;

// Adds sections of a layer's own, made from the map, to a cache being written
// (read back through RoadMap::cacheFile); returns what must stay alive until
// the file is written. Tags must not clash with the map's own.
using CacheExtras = std::function<std::shared_ptr<const void>(const RoadMap& map, MappedFileWriter& writer)>;

// Writes the map (and any extra sections) to `cachePath` atomically. Returns
// false (leaving any old file as it was) when it cannot.
bool writeMapCache(const std::string& cachePath, const CacheKey& key, const RoadMap& map,
                   const CacheExtras& extras = {});

}  // namespace tw::service
