#include "service/routing/router.h"
#include "service/map/map_error.h"
#include "service/map/mapped_file.h"
#include "service/routing/contraction_router.h"
#include "service/routing/largest_component.h"
#include "service/routing/prepared_hierarchy.h"
#include "service/routing/segment_grid.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <new>
#include <queue>
#include <system_error>

namespace tw::service {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Snapping to a named street scans its edges up to this many; beyond, it
// searches the grid outwards for that name.
constexpr std::size_t kScanStreetEdges = 256;
// Metres per degree of latitude, rounded down (the bound must stay low).
constexpr double kMetresPerDegree = 111000.0;
constexpr double kRad = 3.14159265358979323846 / 180.0;
// Parents of nodes reached straight from a snapped end carry this bit.
constexpr std::uint32_t kSeedBit = 0x80000000u;

// One direction of the bidirectional search, over TurnModel states: forward,
// dist is the time from the start to the end of the state's edge; backward, the
// time from the end of the state's edge to the end point. Reused between queries on a
// thread; only the touched entries are reset. Queue keys are distance plus
// potential (A*); entries whose distance is stale are skipped.
struct SearchSide {
    struct Entry {
        double key;
        double dist;
        NodeId node;
        bool operator>(const Entry& other) const { return key > other.key; }
    };
    std::vector<double> dist;
    std::vector<std::uint32_t> parent;  // the state before (forward) or after (backward); seeds:
                                        // kSeedBit | the start or end point's edge
    std::vector<StateId> touched;
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

    bool improve(NodeId node, double d, double potential, std::uint32_t via)
    {
        if (!(d < dist[node])) {
            return false;
        }
        if (dist[node] == kInfinity) {
            touched.push_back(node);
        }
        dist[node] = d;
        parent[node] = via;
        queue.push(Entry{d + potential, d, node});
        return true;
    }

    // Returns the smallest key still live, dropping stale entries.
    double topKey()
    {
        while (!queue.empty() && queue.top().dist > dist[queue.top().node]) {
            queue.pop();
        }
        return queue.empty() ? kInfinity : queue.top().key;
    }
};

struct Workspace {
    SearchSide forward;
    SearchSide backward;
    // Potential per node, computed once per query (both searches need it).
    std::vector<double> potential;
    std::vector<NodeId> potentialTouched;

    void prepare(std::size_t nodeCount, std::size_t stateCount)
    {
        forward.prepare(stateCount);
        backward.prepare(stateCount);
        for (NodeId n : potentialTouched) {
            potential[n] = kInfinity;
        }
        potentialTouched.clear();
        if (potential.size() < nodeCount) {
            potential.resize(nodeCount, kInfinity);
        }
    }
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

Router::Router(const RoadMap& map, const RouterOptions& options)
    : m_map(map), m_model(map, TurnModel::GeometryLater{}), m_grid(std::make_unique<Grid>())
{
    // A current prepared file also holds the largest connected part, the turn
    // model's facts and the road grid, which otherwise take seconds each to
    // compute on a large map. (The geocoder is indexed on another thread
    // meanwhile.)
    std::optional<ContractionHierarchy> found;
    std::vector<std::uint8_t> storedConnected;
    StartIndexes indexes;
    if (options.search == RouteSearch::Hierarchy && !options.mapPath.empty()) {
        found = findPreparedHierarchy(options.mapPath, m_model, DamagedPrepared::Refuse, &storedConnected, &indexes);
    }
    // A prepared file checked whole before (with this map's cache) is not
    // checked again; one checked now is remembered once all of it passed.
    const bool sound = found && indexes.file && indexes.file->knownSound();
    const auto damaged = [&indexes](const MapError& error) {
        return MapError("The prepared map " + indexes.path + " is damaged: " + error.what());
    };
    if (found && !indexes.turnEdges.empty()) {
        try {
            m_model.setGeometry(std::move(indexes.turnEdges), std::move(indexes.turnNodes), sound);
        } catch (const MapError& error) {
            throw damaged(error);
        }
    } else {
        m_model.computeGeometry();
    }
    if (found && storedConnected.size() == map.edges.size()) {
        m_edgeInMain = std::move(storedConnected);
    } else {
        m_edgeInMain = largestComponent(m_model);
    }
    if (found && indexes.hasGrid) {
        try {
            m_grid->segments.adopt(indexes.gridFrame, std::move(indexes.gridFirst), std::move(indexes.gridEntries),
                                   map, sound);
        } catch (const MapError& error) {
            throw damaged(error);
        }
    } else {
        m_grid->segments.build(map, [this](EdgeId e) { return isConnected(e); });
    }

    if (options.search == RouteSearch::Hierarchy) {
        const PrepareProgress progress = options.progressOnStderr ? PrepareProgress::Stderr : PrepareProgress::Quiet;
        if (options.mapPath.empty()) {
            m_hierarchy = prepareHierarchy(m_model);
        } else if (found) {
            m_hierarchy = std::move(found);
            if (indexes.file) {
                indexes.file->rememberSound();
            }
        } else if (m_model.stateCount() <= options.prepareAtMostStates) {
            m_hierarchy = loadOrPrepareHierarchy(options.mapPath, m_model, progress);
        }
    }
    if (!m_hierarchy) {
        prepareLandmarks();
        return;
    }
    m_searched.store(&*m_hierarchy, std::memory_order_release);
    if (m_hierarchy->nodeCount() < options.topDistancesFromNodes) {
        return;
    }
    // After the start, on threads of their own: the table of the top nodes'
    // distances, and mapping in the files' pages. Routes found meanwhile are
    // as good, only slower.
    try {
        // The table's searches run at the lowest priority: the answers to
        // requests come first.
        m_topTable = std::thread([this] {
            try {
                auto withTop = std::make_unique<ContractionHierarchy>(*m_hierarchy);
                if (withTop->keepTopDistances(kTopDistanceNodes)) {
                    m_withTop = std::move(withTop);
                    m_searched.store(m_withTop.get(), std::memory_order_release);
                }
            } catch (const std::bad_alloc&) {
                // Without the table routes are only slower.
            }
        });
        // At full priority: mapping pages in holds the process's lock on its
        // memory map, which a request's own mapping of memory may wait for.
        m_pagesIn = std::thread([this] {
            const ContractionHierarchy& h = *m_hierarchy;
            if (h.arcsMapped()) {
                mapPagesNow(h.rank().data(), h.rank().size_bytes(), m_stopping);
                mapPagesNow(h.nodes().data(), h.nodes().size_bytes(), m_stopping);
                mapPagesNow(h.arcs().data(), h.arcs().size_bytes(), m_stopping);
            }
            if (m_map.cacheFile) {
                for (const MappedFile::Raw& section : m_map.cacheFile->sections()) {
                    mapPagesNow(section.bytes.data(), section.bytes.size(), m_stopping);
                }
            }
        });
    } catch (const std::system_error&) {
        // No thread could be started: routes stay as they are.
    }
}

void Router::prepareLandmarks()
{
    const RoadMap& map = m_map;
    double fastest = 0.0;  // metres per decisecond
    for (const Edge& e : map.edges) {
        fastest = std::max(fastest, static_cast<double>(e.metres) / e.deciseconds);
    }
    // Longitude degrees scaled for the map's highest latitude, where they are
    // shortest, and a margin for the flat projection and rounding: the bound
    // must never exceed a true driving time.
    double maxAbsLat = 0.0;
    for (const Coordinate& c : map.nodes) {
        maxAbsLat = std::max(maxAbsLat, std::abs(c.lat));
    }
    for (const Coordinate& c : map.shape) {
        maxAbsLat = std::max(maxAbsLat, std::abs(c.lat));
    }
    m_metresPerLonDegree = kMetresPerDegree * std::cos(std::min(maxAbsLat, 89.0) * kRad);
    m_decisecondsPerMetre = fastest > 0.0 ? 0.98 / fastest : 0.0;
    // Landmark times ignore turn costs and restrictions: they only add time, so
    // the times stay lower bounds of the turn-aware ones.
    std::vector<std::uint8_t> nodeInMain(map.nodeCount(), 0);
    for (EdgeId id = 0; id < map.edges.size(); ++id) {
        if (m_edgeInMain[id] != 0) {
            nodeInMain[map.edges[id].source] = 1;
            nodeInMain[map.edges[id].target] = 1;
        }
    }
    m_landmarks.build(map, nodeInMain);
    m_nodeXY.reserve(map.nodes.size());
    for (const Coordinate& c : map.nodes) {
        m_nodeXY.emplace_back(static_cast<float>(c.lon), static_cast<float>(c.lat));
    }
}

double Router::lowerBound(double lon1, double lat1, double lon2, double lat2) const
{
    const double dx = (lon1 - lon2) * m_metresPerLonDegree;
    const double dy = (lat1 - lat2) * kMetresPerDegree;
    return std::sqrt(dx * dx + dy * dy) * m_decisecondsPerMetre;
}

Router::~Router()
{
    m_stopping = true;
    for (std::thread* t : {&m_topTable, &m_pagesIn}) {
        if (t->joinable()) {
            t->join();
        }
    }
}

bool Router::isConnected(EdgeId edge) const
{
    if (edge >= m_map.edges.size()) {
        return false;
    }
    return m_edgeInMain[edge] != 0;
}

std::optional<Snap> Router::snap(Coordinate where, StringId street) const
{
    if (!std::isfinite(where.lat) || !std::isfinite(where.lon) || std::abs(where.lat) > 90.0 ||
        std::abs(where.lon) > 180.0) {
        return std::nullopt;
    }
    std::optional<SegmentHit> hit;
    const auto named = street != 0 ? m_map.streetEdges(street) : std::span<const EdgeId>{};
    if (named.size() > kScanStreetEdges) {
        // A common name (a Main Street in every town): the grid, searched
        // outwards for that name only, instead of every edge of it.
        hit = m_grid->segments.nearest(m_map, where, [&](EdgeId id) {
            const Edge& e = m_map.edges[id];
            return e.name == street || (e.twin != kNoId && m_map.edges[e.twin].name == street);
        });
    } else if (street != 0) {
        for (EdgeId id : named) {
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
    if (const ContractionHierarchy* hierarchy = m_searched.load(std::memory_order_acquire)) {
        return routeWithHierarchy(m_model, *hierarchy, from, to);
    }
    const std::size_t edgeCount = m_map.edges.size();
    if (from.edge >= edgeCount || to.edge >= edgeCount || !(from.fraction >= 0.0 && from.fraction <= 1.0) ||
        !(to.fraction >= 0.0 && to.fraction <= 1.0) || m_model.stateCount() >= kSeedBit) {
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
    space.prepare(m_map.nodeCount(), m_model.stateCount());

    // Potentials: half the bound to the end minus half the bound from the
    // start (the same reduced costs for both searches).
    const Coordinate s = pointAlong(m_map.edgeShape(from.edge), from.fraction);
    const Coordinate t = pointAlong(m_map.edgeShape(to.edge), to.fraction);
    // Landmark times to and from the two points themselves (they lie inside
    // edges: through whichever end of the edge is quicker).
    const int landmarkCount = m_landmarks.count();
    std::array<double, Landmarks::kCount> fromLToS{};
    std::array<double, Landmarks::kCount> fromSToL{};
    std::array<double, Landmarks::kCount> fromLToT{};
    std::array<double, Landmarks::kCount> fromTToL{};
    auto timeOrInfinity = [](std::uint32_t time) {
        return time == Landmarks::kUnreachable ? kInfinity : static_cast<double>(time);
    };
    for (int i = 0; i < landmarkCount; ++i) {
        auto landmarkTimes = [&](const Edge& e, double fraction, double& into, double& outOf) {
            into = timeOrInfinity(m_landmarks.fromLandmarks(e.source)[i]) + partTime(e, fraction);
            outOf = timeOrInfinity(m_landmarks.toLandmarks(e.target)[i]) + partTime(e, 1.0 - fraction);
        };
        landmarkTimes(startEdge, from.fraction, fromLToS[i], fromSToL[i]);
        landmarkTimes(endEdge, to.fraction, fromLToT[i], fromTToL[i]);
        if (startEdge.twin != kNoId) {
            double into = 0;
            double outOf = 0;
            landmarkTimes(m_map.edges[startEdge.twin], 1.0 - from.fraction, into, outOf);
            fromLToS[i] = std::min(fromLToS[i], into);
            fromSToL[i] = std::min(fromSToL[i], outOf);
        }
        if (endEdge.twin != kNoId) {
            double into = 0;
            double outOf = 0;
            landmarkTimes(m_map.edges[endEdge.twin], 1.0 - to.fraction, into, outOf);
            fromLToT[i] = std::min(fromLToT[i], into);
            fromTToL[i] = std::min(fromTToL[i], outOf);
        }
    }
    auto computePotential = [&](NodeId n) {
        const auto [x, y] = m_nodeXY[n];
        double toT = lowerBound(x, y, t.lon, t.lat);   // bound on time(n -> t)
        double fromS = lowerBound(x, y, s.lon, s.lat); // bound on time(s -> n)
        if (landmarkCount > 0) {
            const auto lToN = m_landmarks.fromLandmarks(n);
            const auto nToL = m_landmarks.toLandmarks(n);
            for (int i = 0; i < landmarkCount; ++i) {
                // Terms with an unreachable side say nothing (inf - inf).
                if (lToN[i] != Landmarks::kUnreachable) {
                    const double d = lToN[i];
                    if (fromLToT[i] < kInfinity) {
                        toT = std::max(toT, fromLToT[i] - d);
                    }
                    if (fromLToS[i] < kInfinity) {
                        fromS = std::max(fromS, d - fromLToS[i]);
                    }
                }
                if (nToL[i] != Landmarks::kUnreachable) {
                    const double d = nToL[i];
                    if (fromTToL[i] < kInfinity) {
                        toT = std::max(toT, d - fromTToL[i]);
                    }
                    if (fromSToL[i] < kInfinity) {
                        fromS = std::max(fromS, fromSToL[i] - d);
                    }
                }
            }
        }
        return (toT - fromS) / 2.0;
    };
    auto potential = [&](NodeId n) {
        double& cached = space.potential[n];
        if (cached == kInfinity) {
            cached = computePotential(n);
            space.potentialTouched.push_back(n);
        }
        return cached;
    };

    // States carry the potential of the junction where their edge ends.
    auto statePotential = [&](StateId state) { return potential(m_map.edges[m_model.roadEdge(state)].target); };

    // Seeds. Forward: the start point's edge and its twin, driven to their end.
    // Backward: every state that may turn onto the end point's edge (or twin),
    // costed from its end: the turn and the part of the edge up to the point.
    for (const auto& [startId, startAt] : starts) {
        if (startId != kNoId) {
            fw.improve(startId, partTime(m_map.edges[startId], 1.0 - startAt), statePotential(startId),
                       startId | kSeedBit);
        }
    }
    for (const auto& [endId, endAt] : ends) {
        if (endId == kNoId) {
            continue;
        }
        const double part = partTime(m_map.edges[endId], endAt);
        const EdgeId seedEdge = endId; // clang 14 cannot capture the binding itself
        m_model.forEachStateOf(endId, [&](StateId endState) {
            m_model.forEachTurnInto(endState, [&](StateId before, std::uint32_t cost) {
                bw.improve(before, cost + part, -statePotential(before), seedEdge | kSeedBit);
            });
        });
    }

    StateId meeting = kNoId;
    auto consider = [&](StateId state) {
        const double total = fw.dist[state] + bw.dist[state];
        if (total < best) {
            best = total;
            meeting = state;
        }
    };
    for (StateId state : fw.touched) {
        if (bw.dist[state] < kInfinity) {
            consider(state);
        }
    }

    while (true) {
        const double topF = fw.topKey();
        const double topB = bw.topKey();
        if (topF == kInfinity || topB == kInfinity || topF + topB >= best) {
            break;
        }
        if (topF <= topB) {
            const StateId state = fw.queue.top().node;
            const double d = fw.queue.top().dist;
            fw.queue.pop();
            m_model.forEachTurn(state, [&](const TurnModel::Turn& turn) {
                const double next = d + turn.cost + m_model.driveTime(turn.to);
                if (fw.improve(turn.to, next, statePotential(turn.to), state) && bw.dist[turn.to] < kInfinity) {
                    consider(turn.to);
                }
            });
        } else {
            const StateId state = bw.queue.top().node;
            const double d = bw.queue.top().dist + m_model.driveTime(state);
            bw.queue.pop();
            m_model.forEachTurnInto(state, [&](StateId before, std::uint32_t cost) {
                if (bw.improve(before, d + cost, -statePotential(before), state) && fw.dist[before] < kInfinity) {
                    consider(before);
                }
            });
        }
    }

    if (best == kInfinity) {
        return std::nullopt;
    }
    Route route;
    if (meeting == kNoId) {
        route = std::move(direct);
    } else {
        for (StateId state = meeting;;) {
            route.edges.push_back(m_model.roadEdge(state));
            const std::uint32_t via = fw.parent[state];
            if ((via & kSeedBit) != 0) {
                break;
            }
            state = via;
        }
        std::reverse(route.edges.begin(), route.edges.end());
        for (StateId state = meeting;;) {
            const std::uint32_t via = bw.parent[state];
            if ((via & kSeedBit) != 0) {
                route.edges.push_back(via & ~kSeedBit);
                break;
            }
            route.edges.push_back(m_model.roadEdge(via));
            state = via;
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
