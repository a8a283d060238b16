#include "service/guidance/units.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tw::service {

namespace {
constexpr double kMetresPerMile = 1609.344;
constexpr double kFeetPerMetre = 3.280839895;
} // namespace

std::string formatDistance(double metres)
{
    if (!std::isfinite(metres) || metres < 0)
        metres = 0;
    const double miles = metres / kMetresPerMile;
    if (miles < 0.095) {
        const double feet = metres * kFeetPerMetre;
        const double step = feet < 95 ? 10.0 : 50.0;
        const long rounded = std::lround(feet / step) * static_cast<long>(step);
        return std::to_string(rounded) + " ft";
    }
    if (miles < 9.95) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "%.1f mi", miles);
        return buffer;
    }
    return std::to_string(std::lround(std::min(miles, 1e9))) + " mi";
}

std::string formatDuration(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    const long minutes = std::max(1L, std::lround(std::min(seconds, 1e12) / 60.0));
    if (minutes < 60)
        return std::to_string(minutes) + " min";
    const long hours = minutes / 60;
    const long rest = minutes % 60;
    return std::to_string(hours) + " h" + (rest != 0 ? " " + std::to_string(rest) + " min" : std::string());
}

} // namespace tw::service
