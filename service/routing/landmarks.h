#pragma once
// Landmarks: exact driving times from and to a few junctions far apart on the
// map, for lower bounds on the time between any two points (by the triangle
// inequality: d(v,t) >= d(L,t) - d(L,v) and d(v,t) >= d(v,L) - d(t,L)). They
// steer the router's A* far better than straight-line distance on long routes.
//
// Memory: 2 x count x 4 bytes per junction (64 bytes with eight landmarks),
// laid out per junction so one lookup touches one cache line.

#include "service/map/road_map.h"

#include <cstdint>
#include <span>
#include <vector>

namespace tw::service {

class Landmarks {
public:
    static constexpr int kCount = 8;
    static constexpr std::uint32_t kUnreachable = 0xFFFFFFFFu;

    // Picks landmarks among the nodes with inMain[n] != 0 by farthest selection
    // (each the junction farthest in time from those chosen before) and
    // computes their times to and from every node; the backward half runs on
    // two threads. Maps under 2000 junctions get none (they route fast without).
    void build(const RoadMap& map, const std::vector<std::uint8_t>& inMain);

    bool empty() const { return m_count == 0; }
    int count() const { return m_count; }

    // Returns the time from landmark i to the node / from the node to landmark i
    // in deciseconds, kUnreachable when there is no such route.
    std::span<const std::uint32_t> fromLandmarks(NodeId node) const
    {
        return std::span<const std::uint32_t>(m_times).subspan(static_cast<std::size_t>(node) * 2 * kCount, kCount);
    }
    std::span<const std::uint32_t> toLandmarks(NodeId node) const
    {
        return std::span<const std::uint32_t>(m_times).subspan(
            static_cast<std::size_t>(node) * 2 * kCount + kCount, kCount);
    }

private:
    int m_count = 0;
    std::vector<std::uint32_t> m_times;  // per node: kCount "from", then kCount "to"
};

}  // namespace tw::service
