#include "service/routing/router.h"

#include <cmath>

namespace tw::service {

struct Router::Grid {};

Router::Router(const RoadMap& map) : m_map(map) {}
Router::~Router() = default;

std::optional<Snap> Router::snap(Coordinate, StringId) const { return std::nullopt; }
std::optional<Route> Router::route(const Snap&, const Snap&) const { return std::nullopt; }
bool Router::isConnected(EdgeId) const { return false; }

double distanceMetres(Coordinate a, Coordinate b)
{
    constexpr double kRadius = 6371008.8;
    constexpr double kRad = 3.14159265358979323846 / 180.0;
    const double dLat = (b.lat - a.lat) * kRad;
    const double dLon = (b.lon - a.lon) * kRad;
    const double h = std::sin(dLat / 2) * std::sin(dLat / 2) +
                     std::cos(a.lat * kRad) * std::cos(b.lat * kRad) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2 * kRadius * std::asin(std::sqrt(std::min(1.0, h)));
}

}  // namespace tw::service
