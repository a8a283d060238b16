#include "service/routing/landmarks.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <queue>
#include <system_error>
#include <thread>

namespace tw::service {

namespace {

// Plain Dijkstra from `root` over the graph (forward) or its reverse, writing
// times into column `column` of the per-node rows.
void timesFrom(const RoadMap& map, NodeId root, bool reverse, std::vector<std::uint32_t>& times, std::size_t column)
{
    constexpr std::size_t kRow = 2 * Landmarks::kCount;
    using Entry = std::pair<std::uint32_t, NodeId>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<>> queue;
    auto at = [&](NodeId n) -> std::uint32_t& { return times[static_cast<std::size_t>(n) * kRow + column]; };
    at(root) = 0;
    queue.emplace(0, root);
    while (!queue.empty()) {
        const auto [d, node] = queue.top();
        queue.pop();
        if (d > at(node)) {
            continue;
        }
        auto relax = [&](NodeId next, std::uint32_t weight) {
            const std::uint64_t candidate = static_cast<std::uint64_t>(d) + weight;
            if (candidate < at(next)) {
                at(next) = static_cast<std::uint32_t>(candidate);
                queue.emplace(at(next), next);
            }
        };
        if (reverse) {
            for (EdgeId id : map.inEdgeIds(node)) {
                relax(map.edges[id].source, map.edges[id].deciseconds);
            }
        } else {
            for (const Edge& e : map.outEdges(node)) {
                relax(e.target, e.deciseconds);
            }
        }
    }
}

}  // namespace

void Landmarks::build(const RoadMap& map, const std::vector<std::uint8_t>& inMain)
{
    m_count = 0;
    m_times.clear();
    // Tiny maps search fast without them.
    if (map.nodeCount() < 2000) {
        return;
    }
    std::vector<NodeId> chosen;
    constexpr double kPi = 3.14159265358979323846;
    for (int k = 0; k < kCount; ++k) {
        const double angle = 2 * kPi * k / kCount;
        const double dx = std::cos(angle);
        const double dy = std::sin(angle);
        NodeId best = kNoId;
        double bestScore = -1e300;
        for (NodeId n = 0; n < map.nodeCount(); ++n) {
            if (inMain[n] == 0) {
                continue;
            }
            const double score = map.nodes[n].lon * dx * std::cos(map.nodes[n].lat * kPi / 180) + map.nodes[n].lat * dy;
            if (score > bestScore) {
                bestScore = score;
                best = n;
            }
        }
        if (best != kNoId && std::find(chosen.begin(), chosen.end(), best) == chosen.end()) {
            chosen.push_back(best);
        }
    }
    if (chosen.empty()) {
        return;
    }
    m_times.assign(map.nodeCount() * 2 * kCount, kUnreachable);
    // Forward columns on one thread, backward on another: they write disjoint
    // entries of the same rows.
    auto run = [&](bool reverse) {
        for (std::size_t i = 0; i < chosen.size(); ++i) {
            timesFrom(map, chosen[i], reverse, m_times, (reverse ? kCount : 0) + i);
        }
    };
    try {
        std::thread backward(run, true);
        run(false);
        backward.join();
    } catch (const std::system_error&) {
        run(true);  // no second thread to be had: one after the other
        run(false);
    }
    m_count = static_cast<int>(chosen.size());
}

}  // namespace tw::service
