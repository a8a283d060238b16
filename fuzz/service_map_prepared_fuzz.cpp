// Maps any bytes as a prepared map file: the loader must refuse it with
// MapError or give a hierarchy that passes validate(), and a query on that
// must return without reading outside the mapping.
#include "service/map/map_error.h"
#include "service/map/mapped_file.h"
#include "service/routing/contraction_hierarchy.h"
#include "service/routing/prepared_hierarchy.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

using namespace tw::service;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = [] {
        char name[] = "/tmp/tw-prepared-fuzz-XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0)
            std::abort();
        close(fd);
        return std::string(name);
    }();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        std::abort();
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    try {
        const auto mapped = MappedFile::open(path, kPreparedFormatVersion);
        const auto ch = ContractionHierarchy::fromParts(
            mapped->section<std::uint32_t>(sectionTag("RANK")), mapped->section<ChNode>(sectionTag("NODE")),
            mapped->section<ChArc>(sectionTag("ARCS")), mapped);
        if (!ch.validate().empty() || ch.nodeCount() == 0)
            return 0;
        const ChSeed source{0, 0.0};
        const ChSeed target{ch.nodeCount() - 1, 0.0};
        (void)ch.shortestPath({&source, 1}, {&target, 1});
    } catch (const MapError&) {
        // A refused file is the expected answer to most inputs.
    }
    return 0;
}
