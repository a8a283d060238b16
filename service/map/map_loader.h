#pragma once
// Loading a RoadMap from an OpenStreetMap file (.osm, .osm.bz2, .osm.pbf),
// through a binary cache of the imported map so that a restart is fast.
//
// The cache is keyed on the source file's absolute path, size and modification
// time and on the cache format version. It lives beside the map
// (<map>.twcache) or, when that folder is not writable, in
// $XDG_CACHE_HOME/tarnwickley (default ~/.cache/tarnwickley). A cache that is
// stale, truncated or corrupt is ignored and rebuilt; a cache that cannot be
// written is only a lost speed-up, never an error.

#include "service/map/map_cache.h"
#include "service/map/map_error.h"
#include "service/map/road_map.h"

#include <string>

namespace tw::service {

enum class ProgressReport {
    Auto,   // a percentage line on stderr every few seconds for large files
    Quiet,  // nothing on stderr
};

enum class CacheUse {
    ReadWrite,  // use a valid cache, else import and write one
    Ignore,     // always import, never read or write a cache
};

struct LoadOptions {
    ProgressReport progress = ProgressReport::Auto;
    CacheUse cache = CacheUse::ReadWrite;
    // Sections of other layers' own to keep in a cache this load writes.
    CacheExtras cacheExtras = {};
};

// Returns the map in `path`. Throws MapError with a clear message when the file
// is missing, unreadable, truncated or corrupt, or holds no drivable road.
RoadMap loadMap(const std::string& path, const LoadOptions& options = {});

}  // namespace tw::service
