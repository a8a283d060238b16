#pragma once
// ContractionHierarchy: exact shortest paths on a fixed directed graph with
// non-negative integer weights, answered in well under a millisecond on graphs
// of millions of nodes after a one-time preprocessing.
//
// Preprocessing contracts the nodes one by one: a contracted node leaves the
// graph, and a shortcut u->w replaces a path u->v->w through it unless a limited
// witness search finds a path u->w no longer without v. Every node gets a rank
// (its place in the order). With node positions the order is a nested
// dissection (each part of the graph before the few nodes that cut it off),
// found in seconds and good on street grids; without, a priority (shortcuts
// added per arc removed, level) simulated node by node, which costs several
// times more on large graphs. The result keeps, per node v,
//   up(v):   arcs v -> x with rank(x) > rank(v)      (forward search)
//   down(v): arcs x -> v with rank(x) > rank(v)      (backward search)
// and for every shortcut the node it bypasses, so a path unpacks into the arcs
// of the original graph. Both lists of a node lie together in one array (its
// downward arcs, then its upward ones): every node a search settles reads both
// (one to relax, the other for stall-on-demand), and so does unpacking. The
// lists lie in the order of the nodes' ids (states near each other on the
// map, so a query's reads stay close), except after a build that wrote them
// out as they were finished (`spillFolder`): on a large map they are most of
// its memory, and there they lie in the order of contraction until the
// prepared file is written.
//
// Query: a bidirectional Dijkstra that only climbs (forward over up, backward
// over down), with stall-on-demand (a node reached more cheaply from above is
// not expanded; only a node's first few arcs from above are looked at, since
// looking up all of a dense node's costs more than it saves). Several sources and targets with starting costs are allowed,
// which is how a point in the middle of a road enters the search. With a
// table of the top nodes' distances (keepTopDistances), each side instead
// climbs until it reaches the top nodes, without a bound, and the sides meet
// below them or through the table: the path between the two top nodes is
// read off the table's trees.
//
// Contract:
// - build() keeps every arc of the input's shortest paths: a shortest path
//   query returns the same cost as a plain Dijkstra on the input graph.
//   Parallel arcs and self-loops in the input are allowed (the cheapest counts).
// - A hierarchy either owns its arrays (built here) or views arrays that live in
//   a mapped file (fromParts); then the keep-alive handle holds the mapping.
//   validate() checks every index and the rank order, and that the lists
//   together are no longer than the arcs (so checking costs one pass however
//   a damaged file has them overlap); a hierarchy that passed it can be
//   queried without further range checks; unpacking still checks each
//   shortcut's two halves exist and returns nothing when they do not.
// - shortestPath() is const and thread-safe; each thread keeps a small scratch
//   table (it grows with the nodes a query touches, not with the graph).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tw::service {

inline constexpr std::uint32_t kChNone = 0xFFFFFFFFu;

// One arc of the graph to contract.
struct WeightedArc {
    std::uint32_t from = 0;
    std::uint32_t to = 0;
    std::uint32_t weight = 0;
};

// An arc of the finished hierarchy. In up(v) it leads from v to `node`; in
// down(v) it leads from `node` into v. `middle` is the node a shortcut bypasses,
// kChNone for an arc of the original graph.
struct ChArc {
    std::uint32_t node = 0;
    std::uint32_t weight = 0;
    std::uint32_t middle = kChNone;
};

// Where a node's lists lie: down(v) is arcs[first, first + down), up(v)
// follows it with `up` arcs.
struct ChNode {
    std::uint64_t first = 0;
    std::uint32_t down = 0;
    std::uint32_t up = 0;
};

// Where the working file lets the arcs of a spilled build start: room in
// front for the header and table of the file it can become.
inline constexpr std::uint64_t kChSpillOffset = std::uint64_t{64} << 10;

// The arcs of a spilled build as they lie in its working file, an unnamed
// file open as `fd` (while the hierarchy lives): `bytes` from `offset`, with
// their CRC-32 as a mapped file keeps it.
struct ChSpill {
    int fd = -1;
    std::uint64_t offset = 0;
    std::uint64_t bytes = 0;
    std::uint32_t crc = 0;
};

// A place the search starts from (or, for targets, ends at) with its cost.
struct ChSeed {
    std::uint32_t node = 0;
    double cost = 0.0;
};

struct ChPath {
    double cost = 0.0;
    std::vector<std::uint32_t> nodes; // original-graph nodes, source seed first, target seed last
    std::size_t source = 0;           // index of the source seed the path starts from
    std::size_t target = 0;           // index of the target seed it ends at
};

// Where a node lies (any planar projection): lets build() cut the graph
// where few arcs cross.
struct ChPosition {
    float x = 0;
    float y = 0;
};

// Called now and then during build() with the share of nodes contracted.
using ChProgress = std::function<void(double done)>;

class ContractionHierarchy {
public:
    ContractionHierarchy() = default;

    // Contracts the graph. `arcs` may be in any order; ids must be < nodeCount.
    // With a `spillFolder`, the finished arcs are written to an unnamed file
    // there as they come and the result views that file mapped read-only;
    // throws std::system_error when the folder takes no such file.
    static ContractionHierarchy build(std::uint32_t nodeCount, std::vector<WeightedArc> arcs,
                                      const ChProgress& progress = {}, std::vector<ChPosition> positions = {},
                                      const std::string& spillFolder = {});

    // Views arrays kept elsewhere (a mapped file); `keepAlive` owns them. Call
    // validate() before use. `arcsMapped`: the arcs lie in a read-only file
    // mapping (see arcsMapped()).
    static ContractionHierarchy fromParts(std::span<const std::uint32_t> rank, std::span<const ChNode> nodes,
                                          std::span<const ChArc> arcs, std::shared_ptr<const void> keepAlive,
                                          bool arcsMapped = false);

    // Returns "" when every index is in range, the lists lie inside the arcs
    // and every arc climbs in rank as its list says; else the first fault.
    std::string validate() const;

    // Returns the cheapest path from any source to any target (cost = source
    // cost + arcs + target cost), or nothing when none connects them or a
    // shortcut does not unpack.
    std::optional<ChPath> shortestPath(std::span<const ChSeed> sources, std::span<const ChSeed> targets) const;

    // Keeps the distances between every two of the `size` highest-ranked
    // nodes. At the top of a large hierarchy a few thousand nodes hold
    // dozens of arcs each, and an ordinary query spends most of its time
    // there; with the table each side climbs only until it reaches the top
    // nodes, and the two sides are joined through it. Queries stay exact.
    // Costs size * size * 6 bytes and a search per top node (spread over
    // the cores; the threads it starts run at the lowest priority). The
    // first query then starts helper threads that climb one side of a query
    // while the asking thread climbs the other. Call on a validated
    // hierarchy before it is queried;
    // returns false, keeping no table, when a top distance does not fit in
    // 32 bits. Copies share the table.
    bool keepTopDistances(std::uint32_t size);
    std::uint32_t topDistancesKept() const;

    // Whether every node's lists lie inside the arcs and together cover them
    // exactly (the first of validate()'s checks).
    bool listsCoverArcs() const { return listsFault() == nullptr; }

    std::uint32_t nodeCount() const { return static_cast<std::uint32_t>(m_rank.size()); }
    std::size_t arcCount() const { return m_arcs.size(); }

    std::span<const std::uint32_t> rank() const { return m_rank; }
    std::span<const ChNode> nodes() const { return m_nodes; }
    std::span<const ChArc> arcs() const { return m_arcs; }
    // Whether arcs() is a read-only file mapping (a spilled build, a prepared
    // file), whose pages may be let go once read.
    bool arcsMapped() const { return m_arcsMapped; }
    // The working file of a build with a spill folder, whose arcs the nodes'
    // lists point into as they lie there; nothing for any other hierarchy.
    const std::optional<ChSpill>& spill() const { return m_spill; }

private:
    struct Owned;
    struct TopTable;

    // The fault in where the nodes' lists lie, or null.
    const char* listsFault() const;

    std::span<const ChArc> up(std::uint32_t v) const
    {
        const ChNode& node = m_nodes[v];
        return {m_arcs.data() + node.first + node.down, node.up};
    }
    std::span<const ChArc> down(std::uint32_t v) const
    {
        const ChNode& node = m_nodes[v];
        return {m_arcs.data() + node.first, node.down};
    }
    // An arc of a found path: from -> to, bypassing `middle` when a shortcut.
    struct Hop {
        std::uint32_t from, to, middle;
    };
    // Appends the nodes after the first hop's `from` on the original path of
    // the hops, in order; false when a shortcut's halves are missing.
    bool unpack(std::span<const Hop> hops, std::vector<std::uint32_t>& out) const;
    // shortestPath() through the table of the top nodes' distances.
    std::optional<ChPath> shortestPathViaTop(std::span<const ChSeed> sources, std::span<const ChSeed> targets) const;
    // Appends the arcs of the shortest path between two top nodes (their
    // places in the table) to `hops`; false when the table and the arcs
    // disagree.
    bool topPath(std::uint32_t from, std::uint32_t to, std::vector<Hop>& hops) const;

    std::span<const std::uint32_t> m_rank;
    std::span<const ChNode> m_nodes;
    std::span<const ChArc> m_arcs;
    std::shared_ptr<const void> m_storage;
    bool m_arcsMapped = false;
    std::optional<ChSpill> m_spill;
    std::shared_ptr<const TopTable> m_top;
};

} // namespace tw::service
