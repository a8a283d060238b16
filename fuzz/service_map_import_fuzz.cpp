// Imports any bytes as an OpenStreetMap XML file: the importer must either give a
// map that passes its own consistency check or refuse the file with MapError.
#include "service/map/map_error.h"
#include "service/map/osm_importer.h"
#include "service/map/road_map.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = [] {
        char name[] = "/tmp/tw-import-fuzz-XXXXXX.osm";
        const int fd = mkstemps(name, 4);
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
        const tw::service::RoadMap map = tw::service::importOsm(path, tw::service::ProgressReport::Quiet);
        if (!map.validate().empty())
            std::abort();
    } catch (const tw::service::MapError&) {
        // A refused file is the expected answer to most inputs.
    }
    return 0;
}
