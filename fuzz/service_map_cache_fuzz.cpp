// The map cache loader on damaged files. Checksums would stop almost every
// random change at the door, so an input replaces one section of a sound
// cache of a small town (its first byte picks which) and the file is written
// with sound checksums around it; an input starting with 0xFF is taken as a
// whole file instead. The loader must refuse the file or give a map that
// passes validate(), and the geocoder made over that map (taking its street
// lists from the file when they fit) must answer without reading outside it.
#include "service/geocoder/geocoder.h"
#include "service/map/map_cache.h"
#include "service/map/mapped_file.h"
#include "tests/service/guidance/test_map_builder.h"
#include "tests/service/map/section_edit.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

using namespace tw::service;

namespace {

std::string temporaryPath(const char* pattern)
{
    std::string name = pattern;
    const int fd = mkstemp(name.data());
    if (fd < 0)
        std::abort();
    close(fd);
    return name;
}

struct Base {
    std::string source = temporaryPath("/tmp/tw-cache-fuzz-source-XXXXXX");
    std::string cache = temporaryPath("/tmp/tw-cache-fuzz-XXXXXX");
    std::string sound;  // the sound cache's bytes
    CacheKey key;

    Base()
    {
        test::TestMapBuilder b;
        b.road({{0, 0}, {200, 0}, {400, 0}}, "Main Street");
        b.road({{200, 0}, {200, 200}}, "North Oak Avenue");
        b.road({{0, 200}, {200, 200}, {400, 200}}, "Elm Street", test::Direction::OneWay);
        b.address("Main Street", "101", 20.0, 15);
        b.address("Main Street", "103", 60.0, 15, "Otherton", "QZ", "22222");
        b.interpolation("Elm Street", 100, 198, Parity::Even, {{0, 185}, {400, 185}});
        const RoadMap map = b.build();
        std::ofstream(source) << "stand-in for the source map";
        key = *cacheKeyOf(source);
        if (!writeMapCache(cache, key, map, Geocoder::cacheSections))
            std::abort();
        std::ifstream in(cache, std::ios::binary);
        sound.assign(std::istreambuf_iterator<char>(in), {});
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const Base base;
    if (size == 0)
        return 0;
    if (data[0] == 0xFF) {
        std::ofstream(base.cache, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    } else {
        std::ofstream(base.cache, std::ios::binary | std::ios::trunc) << base.sound;
        const std::size_t count = MappedFile::open(base.cache, kMapCacheFormatVersion)->sections().size();
        const auto pick = [&](std::size_t i, std::uint32_t) { return i == data[0] % count; };
        if (!test::replaceSection(base.cache, kMapCacheFormatVersion, pick,
                                  {reinterpret_cast<const std::byte*>(data + 1), size - 1}))
            return 0;
    }
    const std::optional<RoadMap> map = readMapCache(base.cache, base.key);
    if (!map)
        return 0;
    if (!map->validate().empty())
        std::abort();
    const Geocoder geocoder(*map);
    for (const char* typed : {"101 Main St", "150 Elm", "7 Oak", "Mian"})
        (void)geocoder.geocode(typed, "");
    return 0;
}
