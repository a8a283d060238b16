#include "service/map/map_loader.h"

#include "service/map/map_cache.h"
#include "service/map/osm_importer.h"

#include <filesystem>

#include <unistd.h>

namespace tw::service {

namespace {

bool folderWritable(const std::string& path)
{
    std::filesystem::path folder = std::filesystem::absolute(path).parent_path();
    return ::access(folder.c_str(), W_OK) == 0;
}

}  // namespace

RoadMap loadMap(const std::string& path, const LoadOptions& options)
{
    if (path.empty()) {
        throw MapError("No map file given");
    }
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status)) {
        throw MapError("Cannot read map file " + path + ": no such file");
    }
    if (!std::filesystem::is_regular_file(status)) {
        throw MapError("Cannot read map file " + path + ": it is not a regular file");
    }
    if (::access(path.c_str(), R_OK) != 0) {
        throw MapError("Cannot read map file " + path + ": permission denied");
    }
    const std::optional<CacheKey> key = cacheKeyOf(path);
    const bool useCache = options.cache == CacheUse::ReadWrite && key.has_value();
    if (useCache) {
        for (const std::string& cache : {cachePathBeside(path), cachePathInUserFolder(*key)}) {
            if (std::optional<RoadMap> cached = readMapCache(cache, *key)) {
                return std::move(*cached);
            }
        }
    }
    RoadMap map = importOsm(path, options.progress);
    if (useCache) {
        std::string written = cachePathBeside(path);
        if (!folderWritable(path) || !writeMapCache(written, *key, map, options.cacheExtras)) {
            written = cachePathInUserFolder(*key);
            if (!writeMapCache(written, *key, map, options.cacheExtras)) {
                return map;
            }
        }
        // Serve from the cache just written, so this process too shares its
        // pages with every other one on the same map.
        if (std::optional<RoadMap> cached = readMapCache(written, *key)) {
            return std::move(*cached);
        }
    }
    return map;
}

}  // namespace tw::service
