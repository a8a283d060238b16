#include "service/routing/turn_model.h"

#include "service/map/huge_pages.h"
#include "service/map/map_error.h"

#include <algorithm>
#include <cmath>

namespace tw::service {

namespace {

constexpr double kPi = 3.14159265358979323846;
// The heading of an edge's end is taken over this far along it: far enough to
// look past a kink at the junction, near enough to see the road's direction there.
constexpr double kHeadingProbeMetres = 15.0;

double flatMetres(Coordinate a, Coordinate b)
{
    const double x = (b.lon - a.lon) * std::cos((a.lat + b.lat) * kPi / 360.0);
    const double y = b.lat - a.lat;
    return std::sqrt(x * x + y * y) * 111195.0;
}

// Returns the compass heading from a to b in 256ths of a full turn.
std::uint8_t heading(Coordinate a, Coordinate b)
{
    const double x = (b.lon - a.lon) * std::cos((a.lat + b.lat) * kPi / 360.0);
    const double y = b.lat - a.lat;
    double turns = std::atan2(x, y) / (2 * kPi);
    if (turns < 0) {
        turns += 1.0;
    }
    return static_cast<std::uint8_t>(static_cast<int>(std::lround(turns * 256.0)) & 0xFF);
}

// Importance for the yield rule: a ramp counts as the road it serves.
std::uint8_t rankOf(RoadClass roadClass)
{
    switch (roadClass) {
    case RoadClass::MotorwayLink: return static_cast<std::uint8_t>(RoadClass::Motorway);
    case RoadClass::TrunkLink: return static_cast<std::uint8_t>(RoadClass::Trunk);
    case RoadClass::PrimaryLink: return static_cast<std::uint8_t>(RoadClass::Primary);
    case RoadClass::SecondaryLink: return static_cast<std::uint8_t>(RoadClass::Secondary);
    case RoadClass::TertiaryLink: return static_cast<std::uint8_t>(RoadClass::Tertiary);
    default: return static_cast<std::uint8_t>(roadClass);
    }
}

}  // namespace

TurnModel::TurnModel(const RoadMap& map) : TurnModel(map, GeometryLater{})
{
    computeGeometry();
}

void TurnModel::computeGeometry()
{
    const RoadMap& map = m_map;
    const std::size_t edgeCount = map.edges.size();
    std::vector<EdgeInfo> infos;
    assignOnHugePages(infos, edgeCount);
    std::vector<NodeInfo> nodeInfos(map.nodeCount(), NodeInfo{});
    for (EdgeId id = 0; id < edgeCount; ++id) {
        const auto shape = map.edgeShape(id);
        const Edge& e = map.edges[id];
        EdgeInfo& info = infos[id];
        std::size_t k = 1;
        while (k + 1 < shape.size() && flatMetres(shape.front(), shape[k]) < kHeadingProbeMetres) {
            ++k;
        }
        info.entryHeading = heading(shape.front(), shape[k]);
        k = shape.size() - 2;
        while (k > 0 && flatMetres(shape[k], shape.back()) < kHeadingProbeMetres) {
            --k;
        }
        info.exitHeading = heading(shape[k], shape.back());
        info.target = e.target;
        info.twin = e.twin;
        info.deciseconds = e.deciseconds;
        info.rank = rankOf(e.roadClass);
        info.roundabout = e.has(kEdgeRoundabout) ? 1 : 0;
        nodeInfos[e.source].bestRank = std::min(nodeInfos[e.source].bestRank, info.rank);
        nodeInfos[e.target].bestRank = std::min(nodeInfos[e.target].bestRank, info.rank);
    }
    for (NodeId barrier : map.barrierNodes) {
        nodeInfos[barrier].barrier = 1;
    }
    m_info = std::move(infos);
    m_nodeInfo = std::move(nodeInfos);
}

void TurnModel::setGeometry(MapArray<EdgeInfo> edges, MapArray<NodeInfo> nodes, bool checkedBefore)
{
    // The turn costs read a junction's edges through `target` and compare
    // `twin`; everything else is a number any value of which is safe.
    const std::size_t edgeCount = m_map.edges.size();
    const std::size_t nodeCount = m_map.nodeCount();
    if (edges.size() != edgeCount || nodes.size() != nodeCount) {
        throw MapError("its turn model does not fit the map");
    }
    for (const EdgeInfo& info : checkedBefore ? std::span<const EdgeInfo>() : std::span<const EdgeInfo>(edges)) {
        if (info.target >= nodeCount || (info.twin >= edgeCount && info.twin != kNoId)) {
            throw MapError("its turn model has an index out of range");
        }
    }
    m_info = std::move(edges);
    m_nodeInfo = std::move(nodes);
}

TurnModel::TurnModel(const RoadMap& map, GeometryLater) : m_map(map)
{
    const std::size_t edgeCount = map.edges.size();
    m_ruleBits.assign(edgeCount, 0);
    for (const TurnRestriction& restriction : map.restrictions) {
        const auto path = map.restrictionPath(restriction);
        const bool only = restriction.kind == RestrictionKind::Only;
        StateId state = path.front();
        for (std::size_t i = 1; i + 1 < path.size(); ++i) {
            if (only) {
                rulesOf(state).only = path[i];
            }
            state = addCopy(state, path[i]);
        }
        Rules& rules = rulesOf(state);
        if (only) {
            rules.only = path.back();
        } else {
            rules.forbidden.push_back(path.back());
        }
    }
}

TurnModel::Rules& TurnModel::rulesOf(StateId state)
{
    m_ruleBits[state] |= kHasRules;
    return m_rules[state];
}

StateId TurnModel::addCopy(StateId parent, EdgeId road)
{
    Rules& rules = rulesOf(parent);
    for (const auto& [childRoad, child] : rules.children) {
        if (childRoad == road) {
            return child;
        }
    }
    const auto id = static_cast<StateId>(m_map.edges.size() + m_copies.size());
    m_copies.push_back(Copy{road, parent});
    m_ruleBits.push_back(0);
    m_rules[parent].children.emplace_back(road, id);
    m_ruleBits[road] |= kHasCopies;
    m_copiesOf[road].push_back(id);
    return id;
}

std::span<const StateId> TurnModel::copiesOf(EdgeId road) const
{
    const auto it = m_copiesOf.find(road);
    return it == m_copiesOf.end() ? std::span<const StateId>() : std::span<const StateId>(it->second);
}

TurnModel::Turn TurnModel::applyRules(StateId from, EdgeId road, EdgeId next, std::uint32_t cost) const
{
    StateId to = next;
    if ((m_ruleBits[from] & kHasRules) != 0) {
        const Rules& rules = m_rules.at(from);
        if ((rules.only != kNoId && rules.only != next) ||
            std::find(rules.forbidden.begin(), rules.forbidden.end(), next) != rules.forbidden.end()) {
            return {};
        }
        for (const auto& [childRoad, child] : rules.children) {
            if (childRoad == next) {
                to = child;
            }
        }
    }
    // Restrictions via a node on the road edge hold on its copies too.
    if (from != road && (m_ruleBits[road] & kHasRules) != 0) {
        const Rules& rules = m_rules.at(road);
        if ((rules.only != kNoId && rules.only != next) ||
            std::find(rules.forbidden.begin(), rules.forbidden.end(), next) != rules.forbidden.end()) {
            return {};
        }
    }
    return Turn{to, cost};
}

std::uint32_t TurnModel::turnCost(StateId from, StateId to) const
{
    if (from >= stateCount() || to >= stateCount() ||
        m_map.edges[roadEdge(from)].target != m_map.edges[roadEdge(to)].source) {
        return kForbidden;
    }
    const Turn t = turn(from, roadEdge(to));
    return t.to == to ? t.cost : kForbidden;
}

}  // namespace tw::service
