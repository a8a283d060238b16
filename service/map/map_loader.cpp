#include "service/map/map_loader.h"

namespace tw::service {

RoadMap loadMap(const std::string& path, const LoadOptions& /*options*/)
{
    throw MapError("Cannot load map file " + path + ": the importer is not built yet");
}

}  // namespace tw::service
