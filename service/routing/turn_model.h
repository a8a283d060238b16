#pragma once
// TurnModel: what it costs to turn from one road onto the next at a junction,
// and which turns are not allowed at all. Every router of the service (and the
// reference search tests compare them with) uses this one model, so they agree
// on the fastest route to the decisecond.
//
// States. A route is a sequence of states; each state is one directed edge being
// driven. States 0 .. map.edgeCount()-1 are the map's edges. A restriction via
// one or more ways ("no left turn from A onto C after driving B") depends on
// more than the last edge, so the model adds a copy of each via edge that a
// route enters from the restriction's "from" edge (ids from map.edgeCount() on).
// A copy is driven exactly like its road edge (roadEdge()), but it remembers
// where it was entered from, and the forbidden last turn is forbidden only
// there. Copies sharing a prefix are shared (a tree per "from" edge).
//
// Costs, in deciseconds, added to the time of the edge turned onto. Sides are
// for right-hand traffic; the angle is the change of heading at the junction.
//   straight on (within 20 degrees)            0
//   slight turn (20 - 40 degrees)              10   a bend in the road, little braking
//   right turn (40 - 120)                      40   slow to about 15 mph and back
//   left turn (40 - 120)                       70   the same, and a wait for a gap in
//                                                   oncoming traffic
//   sharp right / sharp left (beyond 120)      60 / 90
//   U-turn at a dead end or a barrier          200  turning round in the road
//   U-turn anywhere else                       1200 allowed so that every place stays
//                                                   reachable, but only taken where
//                                                   nothing else gets there
//   crossing or joining a road of a higher     +20  the minor road yields (stop sign)
//   class than both roads driven
// Within a roundabout (both edges on it) the turn costs nothing. A turn through a
// barrier, a turn a restriction forbids, and any turn at a junction where an
// only_* restriction names another exit are forbidden (the U-turn back from a
// barrier is allowed). A restriction=no_u_turn forbids the U-turn as any other.
//
// Known simplification: when a restriction's "from" edge is itself a via edge of
// another restriction, it is applied to routes that enter that edge normally,
// not to those already inside the other restriction's copies.
//
// Thread safety: immutable after construction; all methods are const.

#include "service/map/road_map.h"

#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

namespace tw::service {

using StateId = std::uint32_t;

class TurnModel {
public:
    static constexpr std::uint32_t kForbidden = 0xFFFFFFFFu;

    // Turn costs in deciseconds (see the table above).
    static constexpr std::uint32_t kSlightTurn = 10;
    static constexpr std::uint32_t kRightTurn = 40;
    static constexpr std::uint32_t kLeftTurn = 70;
    static constexpr std::uint32_t kSharpRightTurn = 60;
    static constexpr std::uint32_t kSharpLeftTurn = 90;
    static constexpr std::uint32_t kDeadEndUTurn = 200;
    static constexpr std::uint32_t kUTurn = 1200;
    static constexpr std::uint32_t kYieldToHigherClass = 20;

    // What the search needs of a map edge, packed: one cache line holds three.
    struct EdgeInfo {
        NodeId target = 0;
        EdgeId twin = kNoId;
        std::uint32_t deciseconds = 0;
        std::uint8_t entryHeading = 0;  // leaving its source, 256ths of a turn
        std::uint8_t exitHeading = 0;   // arriving at its target
        std::uint8_t rank = 0;          // road class rank, 0 = most important
        std::uint8_t roundabout = 0;
    };
    struct NodeInfo {
        std::uint8_t bestRank = 0xFF;  // most important rank of its roads
        std::uint8_t barrier = 0;
    };

    // Indexes `map` (which must outlive the model): headings of every edge's
    // ends, the most important road at each junction, the restrictions.
    explicit TurnModel(const RoadMap& map);

    // Builds the restriction part only: the states are known (stateCount()),
    // but no turn may be asked for until setGeometry() or computeGeometry().
    // A start uses it to find the prepared file that holds the rest.
    struct GeometryLater {};
    TurnModel(const RoadMap& map, GeometryLater);

    // Takes the per-edge and per-junction facts from elsewhere (views of a
    // prepared file). Throws MapError when they do not fit the map (a count
    // or an index out of range); the model is then unchanged. Facts of a file
    // known sound (`checkedBefore`) have their counts checked only.
    void setGeometry(MapArray<EdgeInfo> edges, MapArray<NodeInfo> nodes, bool checkedBefore = false);
    // Computes them from the map's roads.
    void computeGeometry();
    std::span<const EdgeInfo> edgeInfo() const { return m_info; }
    std::span<const NodeInfo> nodeInfo() const { return m_nodeInfo; }

    const RoadMap& map() const { return m_map; }

    // Returns the number of states: the map's edges and the restriction copies.
    std::size_t stateCount() const { return m_map.edges.size() + m_copies.size(); }

    // Returns the map edge a state drives.
    EdgeId roadEdge(StateId state) const
    {
        return state < m_map.edges.size() ? state : m_copies[state - m_map.edges.size()].road;
    }

    // Returns the time to drive the whole of a state's edge, in deciseconds.
    std::uint32_t driveTime(StateId state) const { return m_info[roadEdge(state)].deciseconds; }

    // A move from one state onto the next edge.
    struct Turn {
        StateId to = kNoId;               // the state entered (kNoId when forbidden)
        std::uint32_t cost = kForbidden;  // deciseconds, turn only (not the edge's time)
    };

    // Returns the move from `from` onto the map edge `next`, which must leave the
    // junction where `from`'s edge ends: the state it enters (`next` itself or a
    // restriction copy of it) and the turn's cost, or kForbidden.
    Turn turn(StateId from, EdgeId next) const
    {
        const std::uint32_t cost = geometricCost(roadEdge(from), next);
        if (cost == kForbidden) {
            return {};
        }
        const EdgeId road = roadEdge(from);
        if (((m_ruleBits[from] | m_ruleBits[road]) & kHasRules) != 0) {
            return applyRules(from, road, next, cost);
        }
        return Turn{next, cost};
    }

    // Returns the cost of the move from state `from` into state `to`, or
    // kForbidden when no allowed turn leads from one to the other.
    std::uint32_t turnCost(StateId from, StateId to) const;

    // Calls visit(Turn) for every allowed move out of `from`.
    template <typename Visit>
    void forEachTurn(StateId from, Visit&& visit) const
    {
        const NodeId junction = m_info[roadEdge(from)].target;
        for (EdgeId next = m_map.firstEdge[junction]; next < m_map.firstEdge[junction + 1]; ++next) {
            const Turn t = turn(from, next);
            if (t.cost != kForbidden) {
                visit(t);
            }
        }
    }

    // Calls visit(StateId from, std::uint32_t cost) for every state with an
    // allowed move into `to`.
    template <typename Visit>
    void forEachTurnInto(StateId to, Visit&& visit) const
    {
        if (to >= m_map.edges.size()) {
            const Copy& copy = m_copies[to - m_map.edges.size()];
            const std::uint32_t cost = turn(copy.parent, copy.road).cost;
            if (cost != kForbidden) {
                visit(copy.parent, cost);
            }
            return;
        }
        const NodeId junction = m_map.edges[to].source;
        for (EdgeId in : m_map.inEdgeIds(junction)) {
            visitIfInto(in, to, visit);
            if ((m_ruleBits[in] & kHasCopies) != 0) {
                for (StateId copy : copiesOf(in)) {
                    visitIfInto(copy, to, visit);
                }
            }
        }
    }

    // Calls visit(StateId) for the map edge `road` and each of its copies.
    template <typename Visit>
    void forEachStateOf(EdgeId road, Visit&& visit) const
    {
        visit(static_cast<StateId>(road));
        if ((m_ruleBits[road] & kHasCopies) != 0) {
            for (StateId copy : copiesOf(road)) {
                visit(copy);
            }
        }
    }

    // Returns the plain (restriction-free) cost of turning from map edge `from`
    // onto map edge `next` at the junction between them, from the angle, the
    // road classes, U-turns and barriers only.
    std::uint32_t geometricCost(EdgeId from, EdgeId next) const
    {
        const EdgeInfo& a = m_info[from];
        const EdgeInfo& b = m_info[next];
        const NodeId junction = a.target;
        const NodeInfo node = m_nodeInfo[junction];
        if (node.barrier != 0) {
            return next == a.twin ? kDeadEndUTurn : kForbidden;
        }
        const auto delta = static_cast<std::int8_t>(static_cast<std::uint8_t>(b.entryHeading - a.exitHeading));
        const int degrees = (delta < 0 ? -delta : delta) * 360 / 256;
        if (next == a.twin || degrees >= 170) {
            const bool deadEnd = m_map.firstEdge[junction + 1] - m_map.firstEdge[junction] == 1;
            return deadEnd ? kDeadEndUTurn : kUTurn;
        }
        if (a.roundabout != 0 && b.roundabout != 0) {
            return 0;
        }
        std::uint32_t cost = 0;
        if (degrees > 120) {
            cost = delta > 0 ? kSharpRightTurn : kSharpLeftTurn;
        } else if (degrees > 40) {
            cost = delta > 0 ? kRightTurn : kLeftTurn;
        } else if (degrees > 20) {
            cost = kSlightTurn;
        }
        if (node.bestRank < (a.rank < b.rank ? a.rank : b.rank)) {
            cost += kYieldToHigherClass;
        }
        return cost;
    }

private:
    Turn applyRules(StateId from, EdgeId road, EdgeId next, std::uint32_t cost) const;
    enum RuleBit : std::uint8_t {
        kHasRules = 1u << 0,   // some restriction starts or passes here: look up m_rules
        kHasCopies = 1u << 1,  // the edge has restriction copies
    };
    struct Copy {
        EdgeId road;
        StateId parent;
    };
    // What restrictions say about leaving one state.
    struct Rules {
        std::vector<std::pair<EdgeId, StateId>> children;  // road edge -> copy entered instead
        std::vector<EdgeId> forbidden;                      // road edges that may not follow
        EdgeId only = kNoId;                                // when set: the one road edge allowed
    };

    template <typename Visit>
    void visitIfInto(StateId from, StateId to, Visit& visit) const
    {
        const Turn t = turn(from, to);
        if (t.to == to && t.cost != kForbidden) {
            visit(from, t.cost);
        }
    }

    std::span<const StateId> copiesOf(EdgeId road) const;
    StateId addCopy(StateId parent, EdgeId road);
    Rules& rulesOf(StateId state);

    const RoadMap& m_map;
    std::vector<Copy> m_copies;
    std::vector<std::uint8_t> m_ruleBits;            // per state
    std::unordered_map<StateId, Rules> m_rules;      // states with kHasRules
    std::unordered_map<EdgeId, std::vector<StateId>> m_copiesOf;
    MapArray<EdgeInfo> m_info;                       // per map edge
    MapArray<NodeInfo> m_nodeInfo;                   // per node
};

}  // namespace tw::service
