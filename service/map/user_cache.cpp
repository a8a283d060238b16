#include "service/map/user_cache.h"

#include <cstdlib>

namespace tw::service {

std::filesystem::path userCacheFolder()
{
    namespace fs = std::filesystem;
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    fs::path folder;
    if (xdg != nullptr && fs::path(xdg).is_absolute()) {
        folder = fs::path(xdg);
    } else if (home != nullptr && *home != '\0') {
        folder = fs::path(home) / ".cache";
    } else {
        folder = fs::temp_directory_path();
    }
    return folder / "tarnwickley";
}

} // namespace tw::service
