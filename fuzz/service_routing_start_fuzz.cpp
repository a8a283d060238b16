// A start from a damaged prepared file. Checksums would stop almost every
// random change at the door, so an input replaces one section of the sound
// prepared file of a small grid town (its first byte picks which) and the file
// is written with sound checksums around it. The router must refuse the file
// with MapError, or start and answer snaps and routes without reading outside
// what it holds.
#include "service/map/map_error.h"
#include "service/map/mapped_file.h"
#include "service/routing/prepared_hierarchy.h"
#include "service/routing/router.h"
#include "tests/service/guidance/test_map_builder.h"
#include "tests/service/map/section_edit.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

using namespace tw::service;

namespace {

struct Base {
    std::string folder;
    std::string source;
    std::string prepared;
    std::string sound;  // the sound prepared file's bytes
    RoadMap map;

    Base()
    {
        char name[] = "/tmp/tw-start-fuzz-XXXXXX";
        if (mkdtemp(name) == nullptr)
            std::abort();
        folder = name;
        source = folder + "/town.osm";
        prepared = preparedPathBeside(source);
        test::TestMapBuilder b;
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c + 1 < 4; ++c) {
                b.road({{c * 100.0, r * 100.0}, {c * 100.0 + 100, r * 100.0}}, "East");
                b.road({{r * 100.0, c * 100.0}, {r * 100.0, c * 100.0 + 100}}, "North");
            }
        }
        map = b.build();
        std::ofstream(source) << "stand-in for the source map";
        const TurnModel model(map);
        if (!writePreparedHierarchy(prepared, *cacheKeyOf(source), model, prepareHierarchy(model)))
            std::abort();
        std::ifstream in(prepared, std::ios::binary);
        sound.assign(std::istreambuf_iterator<char>(in), {});
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const Base base;
    if (size == 0)
        return 0;
    std::ofstream(base.prepared, std::ios::binary | std::ios::trunc) << base.sound;
    const std::size_t count = MappedFile::open(base.prepared, kPreparedFormatVersion)->sections().size();
    const auto pick = [&](std::size_t i, std::uint32_t) { return i == data[0] % count; };
    if (!test::replaceSection(base.prepared, kPreparedFormatVersion, pick,
                              {reinterpret_cast<const std::byte*>(data + 1), size - 1}))
        return 0;
    try {
        const Router router(base.map, {RouteSearch::Hierarchy, base.source, false});
        const auto from = router.snap(test::TestMapBuilder::at(10, 20));
        const auto to = router.snap(test::TestMapBuilder::at(290, 310));
        if (from && to)
            (void)router.route(*from, *to);
    } catch (const MapError&) {
        // A refused file is the expected answer to most inputs.
    }
    return 0;
}
