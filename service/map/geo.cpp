#include "service/map/geo.h"

#include <algorithm>
#include <cmath>

namespace tw::service {

double distanceMetres(Coordinate a, Coordinate b)
{
    constexpr double kRadius = 6371008.8;
    constexpr double kRad = 3.14159265358979323846 / 180.0;
    const double sinLat = std::sin((b.lat - a.lat) * kRad / 2);
    const double sinLon = std::sin((b.lon - a.lon) * kRad / 2);
    const double h = sinLat * sinLat + std::cos(a.lat * kRad) * std::cos(b.lat * kRad) * sinLon * sinLon;
    return 2 * kRadius * std::asin(std::sqrt(std::clamp(h, 0.0, 1.0)));
}

double polylineMetres(std::span<const Coordinate> polyline)
{
    double metres = 0.0;
    for (std::size_t i = 1; i < polyline.size(); ++i) {
        metres += distanceMetres(polyline[i - 1], polyline[i]);
    }
    return metres;
}

Coordinate pointAlong(std::span<const Coordinate> polyline, double fraction)
{
    if (polyline.empty()) {
        return {};
    }
    const double total = polylineMetres(polyline);
    double wanted = std::clamp(fraction, 0.0, 1.0) * total;
    for (std::size_t i = 1; i < polyline.size(); ++i) {
        const double step = distanceMetres(polyline[i - 1], polyline[i]);
        if (wanted <= step && step > 0.0) {
            const double t = wanted / step;
            return Coordinate{polyline[i - 1].lat + (polyline[i].lat - polyline[i - 1].lat) * t,
                              polyline[i - 1].lon + (polyline[i].lon - polyline[i - 1].lon) * t};
        }
        wanted -= step;
    }
    return polyline.back();
}

}  // namespace tw::service
