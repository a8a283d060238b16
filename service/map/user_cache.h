#pragma once
// The user's cache folder of this program: $XDG_CACHE_HOME/tarnwickley, else
// ~/.cache/tarnwickley, else tarnwickley in the temporary folder. It is not
// created here.

#include <filesystem>

namespace tw::service {

std::filesystem::path userCacheFolder();

} // namespace tw::service
