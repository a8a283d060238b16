#include "service/routing/landmarks.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
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
        // Plain copies: a lambda below captures them, which clang 14 refuses for
        // structured bindings.
        const std::uint32_t d = queue.top().first;
        const NodeId node = queue.top().second;
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
    // Farthest selection: the first landmark is the junction farthest (in
    // time) from an arbitrary one, each next the junction farthest from all
    // chosen so far; each choice's forward times are the column we keep.
    m_times.assign(map.nodeCount() * 2 * kCount, kUnreachable);
    constexpr std::size_t kRow = 2 * kCount;
    NodeId start = kNoId;
    for (NodeId n = 0; n < map.nodeCount() && start == kNoId; ++n) {
        if (inMain[n] != 0) {
            start = n;
        }
    }
    if (start == kNoId) {
        m_times.clear();
        return;
    }
    std::vector<NodeId> chosen;
    std::vector<std::uint32_t> nearest(map.nodeCount(), kUnreachable);
    // Column 0 doubles as scratch for the times from the arbitrary start.
    timesFrom(map, start, false, m_times, 0);
    for (NodeId n = 0; n < map.nodeCount(); ++n) {
        nearest[n] = m_times[static_cast<std::size_t>(n) * kRow];
        m_times[static_cast<std::size_t>(n) * kRow] = kUnreachable;
    }

    // The backward times of each landmark are computed on a second thread as
    // soon as it is chosen, while the next one is being chosen. The two
    // threads write different columns of the rows.
    std::mutex mutex;
    std::condition_variable ready;
    std::array<NodeId, kCount> published{};
    std::size_t publishedCount = 0;
    bool finished = false;
    std::exception_ptr failure;
    auto backwardWorker = [&] {
        for (std::size_t i = 0;; ++i) {
            NodeId root = kNoId;
            {
                std::unique_lock lock(mutex);
                ready.wait(lock, [&] { return publishedCount > i || finished; });
                if (publishedCount <= i) {
                    return;
                }
                root = published[i];
            }
            try {
                timesFrom(map, root, true, m_times, kCount + i);
            } catch (...) {
                failure = std::current_exception();  // rethrown by the caller after join
                return;
            }
        }
    };
    std::optional<std::thread> worker;
    try {
        worker.emplace(backwardWorker);
    } catch (const std::system_error&) {
        // No second thread to be had: the backward times follow at the end.
    }
    auto finish = [&] {
        {
            std::lock_guard lock(mutex);
            finished = true;
        }
        ready.notify_one();
        if (worker) {
            worker->join();
        }
    };
    try {
        for (int k = 0; k < kCount; ++k) {
            NodeId best = kNoId;
            std::uint32_t bestTime = 0;
            for (NodeId n = 0; n < map.nodeCount(); ++n) {
                if (inMain[n] != 0 && nearest[n] != kUnreachable && nearest[n] >= bestTime &&
                    std::find(chosen.begin(), chosen.end(), n) == chosen.end()) {
                    best = n;
                    bestTime = nearest[n];
                }
            }
            if (best == kNoId) {
                break;
            }
            if (k == 0) {
                std::fill(nearest.begin(), nearest.end(), kUnreachable);
            }
            chosen.push_back(best);
            {
                std::lock_guard lock(mutex);
                published[static_cast<std::size_t>(k)] = best;
                ++publishedCount;
            }
            ready.notify_one();
            timesFrom(map, best, false, m_times, static_cast<std::size_t>(k));
            for (NodeId n = 0; n < map.nodeCount(); ++n) {
                nearest[n] = std::min(nearest[n], m_times[static_cast<std::size_t>(n) * kRow + k]);
            }
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
    if (failure) {
        std::rethrow_exception(failure);
    }
    if (!worker) {
        for (std::size_t i = 0; i < chosen.size(); ++i) {
            timesFrom(map, chosen[i], true, m_times, kCount + i);
        }
    }
    if (chosen.empty()) {
        m_times.clear();
        return;
    }
    m_count = static_cast<int>(chosen.size());
}

}  // namespace tw::service
