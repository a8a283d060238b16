#include "service/routing/router.h"

#include "service/routing/largest_component.h"
#include "service/routing/segment_grid.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <queue>

namespace tw::service {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Parents of nodes reached straight from a snapped end carry this bit.
constexpr std::uint32_t kSeedBit = 0x80000000u;

// One direction of the bidirectional search. Reused between queries on a
// thread; only the touched entries are reset.
struct SearchSide {
    using Entry = std::pair<double, NodeId>;
    std::vector<double> dist;
    std::vector<std::uint32_t> parent;  // edge id (| kSeedBit for seeds)
    std::vector<NodeId> touched;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<>> queue;

    void prepare(std::size_t nodeCount)
    {
        for (NodeId n : touched) {
            dist[n] = kInfinity;
        }
        touched.clear();
        if (dist.size() < nodeCount) {
            dist.resize(nodeCount, kInfinity);
            parent.resize(nodeCount, kNoId);
        }
        queue = {};
    }

    bool improve(NodeId node, double d, std::uint32_t via)
    {
        if (!(d < dist[node])) {
            return false;
        }
        if (dist[node] == kInfinity) {
            touched.push_back(node);
        }
        dist[node] = d;
        parent[node] = via;
        queue.emplace(d, node);
        return true;
    }

    double top()
    {
        while (!queue.empty() && queue.top().first > dist[queue.top().second]) {
            queue.pop();
        }
        return queue.empty() ? kInfinity : queue.top().first;
    }
};

struct Workspace {
    SearchSide forward;
    SearchSide backward;
};

Workspace& workspace()
{
    thread_local Workspace space;
    return space;
}

double partTime(const Edge& e, double fraction)
{
    return e.deciseconds * fraction;
}

}  // namespace

struct Router::Grid {
    SegmentGrid segments;
};

Router::Router(const RoadMap& map) : m_map(map), m_nodeInMain(largestComponent(map)), m_grid(std::make_unique<Grid>())
{
    m_grid->segments.build(map, [this](EdgeId e) { return isConnected(e); });
}

Router::~Router() = default;

bool Router::isConnected(EdgeId edge) const
{
    if (edge >= m_map.edges.size()) {
        return false;
    }
    const Edge& e = m_map.edges[edge];
    return m_nodeInMain[e.source] != 0 && m_nodeInMain[e.target] != 0;
}

std::optional<Snap> Router::snap(Coordinate where, StringId street) const
{
    if (!std::isfinite(where.lat) || !std::isfinite(where.lon) || std::abs(where.lat) > 90.0 ||
        std::abs(where.lon) > 180.0) {
        return std::nullopt;
    }
    std::optional<SegmentHit> hit;
    if (street != 0) {
        for (EdgeId id : m_map.streetEdges(street)) {
            if (isConnected(id)) {
                hit = nearerHit(hit, nearestOnEdge(m_map, id, where));
            }
        }
    } else {
        hit = m_grid->segments.nearest(m_map, where);
    }
    if (!hit) {
        return std::nullopt;
    }
    Snap snap;
    snap.edge = hit->edge;
    snap.fraction = hit->fraction;
    snap.point = hit->point;
    snap.distanceMetres = distanceMetres(where, hit->point);
    return snap;
}

std::optional<Route> Router::route(const Snap& from, const Snap& to) const
{
    const std::size_t edgeCount = m_map.edges.size();
    if (from.edge >= edgeCount || to.edge >= edgeCount || !(from.fraction >= 0.0 && from.fraction <= 1.0) ||
        !(to.fraction >= 0.0 && to.fraction <= 1.0) || edgeCount >= kSeedBit) {
        return std::nullopt;
    }
    const Edge& startEdge = m_map.edges[from.edge];
    const Edge& endEdge = m_map.edges[to.edge];

    // Best so far: driving straight along the snapped edge from one point to
    // the other, in either direction the road allows.
    double best = kInfinity;
    Route direct;
    const std::array<std::pair<EdgeId, double>, 2> starts = {
        std::pair{from.edge, from.fraction}, std::pair{startEdge.twin, 1.0 - from.fraction}};
    const std::array<std::pair<EdgeId, double>, 2> ends = {
        std::pair{to.edge, to.fraction}, std::pair{endEdge.twin, 1.0 - to.fraction}};
    for (const auto& [startId, startAt] : starts) {
        for (const auto& [endId, endAt] : ends) {
            if (startId == kNoId || startId != endId || startAt > endAt) {
                continue;
            }
            const double time = partTime(m_map.edges[startId], endAt - startAt);
            if (time < best) {
                best = time;
                direct.edges = {startId};
                direct.firstFraction = startAt;
                direct.lastFraction = endAt;
            }
        }
    }

    Workspace& space = workspace();
    SearchSide& fw = space.forward;
    SearchSide& bw = space.backward;
    fw.prepare(m_map.nodeCount());
    bw.prepare(m_map.nodeCount());

    // Seeds: the junctions reachable from the start point along its edge (and
    // twin), and the junctions from which the end point is reached.
    fw.improve(startEdge.target, partTime(startEdge, 1.0 - from.fraction), from.edge | kSeedBit);
    if (startEdge.twin != kNoId) {
        const Edge& twin = m_map.edges[startEdge.twin];
        fw.improve(twin.target, partTime(twin, from.fraction), startEdge.twin | kSeedBit);
    }
    bw.improve(endEdge.source, partTime(endEdge, to.fraction), to.edge | kSeedBit);
    if (endEdge.twin != kNoId) {
        const Edge& twin = m_map.edges[endEdge.twin];
        bw.improve(twin.source, partTime(twin, 1.0 - to.fraction), endEdge.twin | kSeedBit);
    }

    NodeId meeting = kNoId;
    auto consider = [&](NodeId node) {
        const double total = fw.dist[node] + bw.dist[node];
        if (total < best) {
            best = total;
            meeting = node;
        }
    };
    for (NodeId n : fw.touched) {
        if (bw.dist[n] < kInfinity) {
            consider(n);
        }
    }

    while (true) {
        const double topF = fw.top();
        const double topB = bw.top();
        if (topF + topB >= best || (topF == kInfinity && topB == kInfinity)) {
            break;
        }
        if (topF <= topB) {
            const NodeId node = fw.queue.top().second;
            fw.queue.pop();
            for (const Edge& e : m_map.outEdges(node)) {
                if (fw.improve(e.target, topF + e.deciseconds, m_map.edgeId(e)) && bw.dist[e.target] < kInfinity) {
                    consider(e.target);
                }
            }
        } else {
            const NodeId node = bw.queue.top().second;
            bw.queue.pop();
            for (EdgeId id : m_map.inEdgeIds(node)) {
                const Edge& e = m_map.edges[id];
                if (bw.improve(e.source, topB + e.deciseconds, id) && fw.dist[e.source] < kInfinity) {
                    consider(e.source);
                }
            }
        }
    }

    if (best == kInfinity) {
        return std::nullopt;
    }
    Route route;
    if (meeting == kNoId) {
        route = std::move(direct);
    } else {
        for (NodeId n = meeting;;) {
            const std::uint32_t via = fw.parent[n];
            const EdgeId edge = via & ~kSeedBit;
            route.edges.push_back(edge);
            if ((via & kSeedBit) != 0) {
                break;
            }
            n = m_map.edges[edge].source;
        }
        std::reverse(route.edges.begin(), route.edges.end());
        for (NodeId n = meeting;;) {
            const std::uint32_t via = bw.parent[n];
            const EdgeId edge = via & ~kSeedBit;
            route.edges.push_back(edge);
            if ((via & kSeedBit) != 0) {
                break;
            }
            n = m_map.edges[edge].target;
        }
        route.firstFraction = route.edges.front() == from.edge ? from.fraction : 1.0 - from.fraction;
        route.lastFraction = route.edges.back() == to.edge ? to.fraction : 1.0 - to.fraction;
    }
    route.seconds = best / 10.0;
    if (route.edges.size() == 1) {
        route.metres = m_map.edges[route.edges.front()].metres * (route.lastFraction - route.firstFraction);
    } else {
        route.metres = m_map.edges[route.edges.front()].metres * (1.0 - route.firstFraction) +
                       m_map.edges[route.edges.back()].metres * route.lastFraction;
        for (std::size_t i = 1; i + 1 < route.edges.size(); ++i) {
            route.metres += m_map.edges[route.edges[i]].metres;
        }
    }
    return route;
}

}  // namespace tw::service
