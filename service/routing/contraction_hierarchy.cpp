#include "service/routing/contraction_hierarchy.h"

#include <algorithm>
#include <limits>
#include <queue>

namespace tw::service {

namespace {

constexpr std::uint32_t kInfiniteWeight = std::numeric_limits<std::uint32_t>::max();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Settled-node limits of the witness searches: smaller while estimating a
// node's priority (only a count is needed), larger when contracting for real
// (every missed witness is a needless shortcut).
constexpr int kSimulateSettleLimit = 60;
constexpr int kContractSettleLimit = 400;

std::uint32_t addWeights(std::uint32_t a, std::uint32_t b)
{
    const std::uint64_t sum = static_cast<std::uint64_t>(a) + b;
    return sum >= kInfiniteWeight ? kInfiniteWeight - 1 : static_cast<std::uint32_t>(sum);
}

// The graph while it is being contracted: per node its remaining arcs in both
// directions (arcs to contracted nodes are removed as those go).
class Contractor {
public:
    Contractor(std::uint32_t nodeCount, std::vector<WeightedArc>& arcs)
        : m_out(nodeCount), m_in(nodeCount), m_up(nodeCount), m_down(nodeCount), m_contracted(nodeCount, 0),
          m_level(nodeCount, 0), m_contractedNeighbours(nodeCount, 0), m_priority(nodeCount, 0),
          m_dist(nodeCount, kInfiniteWeight), m_target(nodeCount, 0), m_rank(nodeCount, 0)
    {
        for (const WeightedArc& a : arcs) {
            if (a.from != a.to) {
                addArc(a.from, a.to, a.weight, kChNone);
            }
        }
        arcs.clear();
        arcs.shrink_to_fit();
    }

    void run(const ChProgress& progress)
    {
        const auto n = static_cast<std::uint32_t>(m_out.size());
        using Entry = std::pair<std::int64_t, std::uint32_t>;
        std::priority_queue<Entry, std::vector<Entry>, std::greater<>> queue;
        for (std::uint32_t v = 0; v < n; ++v) {
            m_priority[v] = priority(v);
            queue.emplace(m_priority[v], v);
            if (progress && (v & 0xFFFFF) == 0xFFFFF) {
                progress(0.0);
            }
        }
        std::uint32_t done = 0;
        std::vector<std::uint32_t> neighbours;
        while (!queue.empty()) {
            const auto [key, v] = queue.top();
            queue.pop();
            if (m_contracted[v] != 0 || key != m_priority[v]) {
                continue;
            }
            // Lazy update: a node whose priority rose since it was queued goes
            // back unless it still comes first.
            const std::int64_t now = priority(v);
            if (now > key && !queue.empty() && now > queue.top().first) {
                m_priority[v] = now;
                queue.emplace(now, v);
                continue;
            }
            neighbours.clear();
            for (const ChArc& a : m_out[v]) {
                neighbours.push_back(a.node);
            }
            for (const ChArc& a : m_in[v]) {
                neighbours.push_back(a.node);
            }
            contract(v);
            m_rank[v] = done++;
            std::sort(neighbours.begin(), neighbours.end());
            neighbours.erase(std::unique(neighbours.begin(), neighbours.end()), neighbours.end());
            // Neighbours get the cheap terms now; their shortcut counts are
            // refreshed when they come up (the lazy update above), which costs
            // far less than simulating every neighbour after every contraction.
            for (std::uint32_t u : neighbours) {
                const std::uint32_t level = std::max(m_level[u], m_level[v] + 1);
                m_priority[u] += 1 + (level - m_level[u]);
                m_level[u] = level;
                ++m_contractedNeighbours[u];
                queue.emplace(m_priority[u], u);
            }
            if (progress && (done & 0xFFF) == 0) {
                progress(static_cast<double>(done) / n);
            }
        }
    }

    // Moves the result into CSR arrays.
    void finish(std::vector<std::uint32_t>& rank, std::vector<std::uint32_t>& upFirst, std::vector<ChArc>& upArcs,
                std::vector<std::uint32_t>& downFirst, std::vector<ChArc>& downArcs)
    {
        const std::size_t n = m_up.size();
        auto flatten = [n](std::vector<std::vector<ChArc>>& lists, std::vector<std::uint32_t>& first,
                           std::vector<ChArc>& arcs) {
            std::size_t total = 0;
            for (const auto& list : lists) {
                total += list.size();
            }
            first.assign(n + 1, 0);
            arcs.clear();
            arcs.reserve(total);
            for (std::size_t v = 0; v < n; ++v) {
                first[v] = static_cast<std::uint32_t>(arcs.size());
                arcs.insert(arcs.end(), lists[v].begin(), lists[v].end());
                std::vector<ChArc>().swap(lists[v]);
            }
            first[n] = static_cast<std::uint32_t>(arcs.size());
        };
        flatten(m_up, upFirst, upArcs);
        flatten(m_down, downFirst, downArcs);
        rank = std::move(m_rank);
    }

private:
    static ChArc* findArc(std::vector<ChArc>& list, std::uint32_t node)
    {
        for (ChArc& a : list) {
            if (a.node == node) {
                return &a;
            }
        }
        return nullptr;
    }

    // Adds u->w, or lowers the weight of the one there.
    void addArc(std::uint32_t u, std::uint32_t w, std::uint32_t weight, std::uint32_t middle)
    {
        if (ChArc* old = findArc(m_out[u], w)) {
            if (old->weight <= weight) {
                return;
            }
            *old = ChArc{w, weight, middle};
            if (ChArc* back = findArc(m_in[w], u)) {
                *back = ChArc{u, weight, middle};
            }
            return;
        }
        m_out[u].push_back(ChArc{w, weight, middle});
        m_in[w].push_back(ChArc{u, weight, middle});
    }

    // Dijkstra from `source` over the remaining graph without `skip`, until
    // `settleLimit` nodes are settled or the distance passes `maxDist`.
    void witnessSearch(std::uint32_t source, std::uint32_t skip, std::uint32_t maxDist, int settleLimit,
                       int targets)
    {
        for (std::uint32_t n : m_touched) {
            m_dist[n] = kInfiniteWeight;
        }
        m_touched.clear();
        m_heap.clear();
        m_dist[source] = 0;
        m_touched.push_back(source);
        m_heap.emplace_back(0, source);
        int settled = 0;
        while (!m_heap.empty()) {
            std::pop_heap(m_heap.begin(), m_heap.end(), std::greater<>());
            const auto [d, x] = m_heap.back();
            m_heap.pop_back();
            if (d > m_dist[x]) {
                continue;
            }
            if (d > maxDist || ++settled > settleLimit) {
                break;
            }
            if (m_target[x] != 0 && --targets == 0) {
                break; // every target settled: their distances are final
            }
            for (const ChArc& a : m_out[x]) {
                if (a.node == skip) {
                    continue;
                }
                const std::uint32_t nd = addWeights(d, a.weight);
                if (nd < m_dist[a.node]) {
                    if (m_dist[a.node] == kInfiniteWeight) {
                        m_touched.push_back(a.node);
                    }
                    m_dist[a.node] = nd;
                    m_heap.emplace_back(nd, a.node);
                    std::push_heap(m_heap.begin(), m_heap.end(), std::greater<>());
                }
            }
        }
    }

    // Finds the shortcuts contracting v needs; adds them when `add`, and
    // returns how many.
    int shortcuts(std::uint32_t v, bool add)
    {
        int count = 0;
        const int limit = add ? kContractSettleLimit : kSimulateSettleLimit;
        // Copies: adding arcs may grow the lists being walked.
        m_inCopy = m_in[v];
        m_outCopy = m_out[v];
        for (const ChArc& out : m_outCopy) {
            m_target[out.node] = 1;
        }
        for (const ChArc& in : m_inCopy) {
            std::uint32_t maxDist = 0;
            int targets = 0;
            for (const ChArc& out : m_outCopy) {
                if (out.node != in.node) {
                    maxDist = std::max(maxDist, addWeights(in.weight, out.weight));
                    ++targets;
                }
            }
            if (targets == 0) {
                continue; // nothing beyond v but the way back
            }
            // The source itself may be one of the targets; it settles first.
            witnessSearch(in.node, v, maxDist, limit, targets + m_target[in.node]);
            for (const ChArc& out : m_outCopy) {
                if (out.node == in.node) {
                    continue;
                }
                const std::uint32_t via = addWeights(in.weight, out.weight);
                if (m_dist[out.node] > via) {
                    ++count;
                    if (add) {
                        addArc(in.node, out.node, via, v);
                    }
                }
            }
        }
        for (const ChArc& out : m_outCopy) {
            m_target[out.node] = 0;
        }
        return count;
    }

    std::int64_t priority(std::uint32_t v)
    {
        const std::int64_t added = shortcuts(v, false);
        const auto removed = static_cast<std::int64_t>(m_in[v].size() + m_out[v].size());
        return 2 * (added - removed) + m_contractedNeighbours[v] + m_level[v];
    }

    void contract(std::uint32_t v)
    {
        shortcuts(v, true);
        // v's arcs now all lead to nodes contracted later: they are its final
        // upward and downward lists.
        for (const ChArc& a : m_out[v]) {
            auto& list = m_in[a.node];
            list.erase(std::find_if(list.begin(), list.end(), [v](const ChArc& x) { return x.node == v; }));
        }
        for (const ChArc& a : m_in[v]) {
            auto& list = m_out[a.node];
            list.erase(std::find_if(list.begin(), list.end(), [v](const ChArc& x) { return x.node == v; }));
        }
        m_up[v] = std::move(m_out[v]);
        m_down[v] = std::move(m_in[v]);
        m_up[v].shrink_to_fit();
        m_down[v].shrink_to_fit();
        std::vector<ChArc>().swap(m_out[v]);
        std::vector<ChArc>().swap(m_in[v]);
        m_contracted[v] = 1;
    }

    std::vector<std::vector<ChArc>> m_out;
    std::vector<std::vector<ChArc>> m_in;
    std::vector<std::vector<ChArc>> m_up;
    std::vector<std::vector<ChArc>> m_down;
    std::vector<std::uint8_t> m_contracted;
    std::vector<std::uint32_t> m_level;
    std::vector<std::uint32_t> m_contractedNeighbours;
    std::vector<std::int64_t> m_priority;
    std::vector<std::uint32_t> m_dist;
    std::vector<std::uint8_t> m_target; // 1 for the nodes the current witness searches look for
    std::vector<std::uint32_t> m_touched;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> m_heap;
    std::vector<ChArc> m_inCopy;
    std::vector<ChArc> m_outCopy;
    std::vector<std::uint32_t> m_rank;
};

// The labels of one search direction, in a small open-addressing table keyed
// by node, so a thread's scratch grows with the query, not with the graph.
class Labels {
public:
    struct Label {
        std::uint32_t node;
        std::uint32_t parent;  // node reached from; kChNone for a seed
        std::uint32_t middle;  // of the arc from the parent; for a seed, its index
        std::uint32_t slot;
        double dist;
    };

    void clear()
    {
        if (m_slots.empty()) {
            m_slots.assign(1024, 0);
        }
        for (const Label& l : m_labels) {
            m_slots[l.slot] = 0;
        }
        m_labels.clear();
        m_heap.clear();
    }

    Label* find(std::uint32_t node)
    {
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = hash(node) & mask;; i = (i + 1) & mask) {
            const std::uint32_t at = m_slots[i];
            if (at == 0) {
                return nullptr;
            }
            if (m_labels[at - 1].node == node) {
                return &m_labels[at - 1];
            }
        }
    }

    // Returns the label of a node known to have one.
    const Label& at(std::uint32_t node)
    {
        const Label* label = find(node);
        return label != nullptr ? *label : m_missing;
    }

    // Lowers node's distance to `dist` (adding the label when new); returns
    // whether it did.
    bool improve(std::uint32_t node, double dist, std::uint32_t parent, std::uint32_t middle)
    {
        Label* label = find(node);
        if (label == nullptr) {
            if ((m_labels.size() + 1) * 2 > m_slots.size()) {
                grow();
            }
            const std::size_t mask = m_slots.size() - 1;
            std::size_t i = hash(node) & mask;
            while (m_slots[i] != 0) {
                i = (i + 1) & mask;
            }
            m_labels.push_back(Label{node, parent, middle, static_cast<std::uint32_t>(i), dist});
            m_slots[i] = static_cast<std::uint32_t>(m_labels.size());
        } else if (dist < label->dist) {
            label->dist = dist;
            label->parent = parent;
            label->middle = middle;
        } else {
            return false;
        }
        m_heap.emplace_back(dist, node);
        std::push_heap(m_heap.begin(), m_heap.end(), std::greater<>());
        return true;
    }

    // Returns the smallest live distance in the queue (dropping stale entries).
    double top()
    {
        while (!m_heap.empty() && m_heap.front().first > at(m_heap.front().second).dist) {
            pop();
        }
        return m_heap.empty() ? kInfinity : m_heap.front().first;
    }

    std::pair<double, std::uint32_t> pop()
    {
        std::pop_heap(m_heap.begin(), m_heap.end(), std::greater<>());
        const auto entry = m_heap.back();
        m_heap.pop_back();
        return entry;
    }

    double dist(std::uint32_t node)
    {
        const Label* label = find(node);
        return label == nullptr ? kInfinity : label->dist;
    }

private:
    static std::size_t hash(std::uint32_t node) { return (node * 0x9E3779B1u) >> 8; }

    void grow()
    {
        m_slots.assign(m_slots.size() * 2, 0);
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t k = 0; k < m_labels.size(); ++k) {
            std::size_t i = hash(m_labels[k].node) & mask;
            while (m_slots[i] != 0) {
                i = (i + 1) & mask;
            }
            m_slots[i] = static_cast<std::uint32_t>(k + 1);
            m_labels[k].slot = static_cast<std::uint32_t>(i);
        }
    }

    Label m_missing{kChNone, kChNone, kChNone, 0, kInfinity};
    std::vector<std::uint32_t> m_slots; // label index + 1; 0 = empty
    std::vector<Label> m_labels;
    std::vector<std::pair<double, std::uint32_t>> m_heap;
};

struct QuerySpace {
    Labels forward;
    Labels backward;
};

} // namespace

struct ContractionHierarchy::Owned {
    std::vector<std::uint32_t> rank;
    std::vector<std::uint32_t> upFirst;
    std::vector<ChArc> upArcs;
    std::vector<std::uint32_t> downFirst;
    std::vector<ChArc> downArcs;
};

ContractionHierarchy ContractionHierarchy::build(std::uint32_t nodeCount, std::vector<WeightedArc> arcs,
                                                 const ChProgress& progress)
{
    auto owned = std::make_shared<Owned>();
    {
        Contractor contractor(nodeCount, arcs);
        contractor.run(progress);
        contractor.finish(owned->rank, owned->upFirst, owned->upArcs, owned->downFirst, owned->downArcs);
    }
    if (progress) {
        progress(1.0);
    }
    ContractionHierarchy ch = fromParts(owned->rank, owned->upFirst, owned->upArcs, owned->downFirst,
                                        owned->downArcs, owned);
    return ch;
}

ContractionHierarchy ContractionHierarchy::fromParts(std::span<const std::uint32_t> rank,
                                                     std::span<const std::uint32_t> upFirst,
                                                     std::span<const ChArc> upArcs,
                                                     std::span<const std::uint32_t> downFirst,
                                                     std::span<const ChArc> downArcs,
                                                     std::shared_ptr<const void> keepAlive)
{
    ContractionHierarchy ch;
    ch.m_rank = rank;
    ch.m_upFirst = upFirst;
    ch.m_upArcs = upArcs;
    ch.m_downFirst = downFirst;
    ch.m_downArcs = downArcs;
    ch.m_storage = std::move(keepAlive);
    return ch;
}

std::string ContractionHierarchy::validate() const
{
    const std::size_t n = m_rank.size();
    if (n >= kChNone) {
        return "too many nodes";
    }
    if (m_upFirst.size() != n + 1 || m_downFirst.size() != n + 1) {
        return "offset arrays do not match the node count";
    }
    auto checkList = [&](std::span<const std::uint32_t> first, std::span<const ChArc> arcs,
                         const char* what) -> std::string {
        if (first[0] != 0 || first[n] != arcs.size()) {
            return std::string(what) + " offsets do not cover the arcs";
        }
        for (std::size_t v = 0; v < n; ++v) {
            if (first[v] > first[v + 1]) {
                return std::string(what) + " offsets go backwards";
            }
            for (std::uint32_t i = first[v]; i < first[v + 1]; ++i) {
                const ChArc& a = arcs[i];
                if (a.node >= n || m_rank[a.node] <= m_rank[v]) {
                    return std::string(what) + " arc does not climb";
                }
                if (a.middle != kChNone
                    && (a.middle >= n || m_rank[a.middle] >= m_rank[v] || m_rank[a.middle] >= m_rank[a.node])) {
                    return std::string(what) + " shortcut bypasses a node out of order";
                }
            }
        }
        return {};
    };
    std::vector<std::uint8_t> seen(n, 0);
    for (std::uint32_t r : m_rank) {
        if (r >= n || seen[r] != 0) {
            return "ranks are not a permutation";
        }
        seen[r] = 1;
    }
    if (std::string fault = checkList(m_upFirst, m_upArcs, "upward"); !fault.empty()) {
        return fault;
    }
    return checkList(m_downFirst, m_downArcs, "downward");
}

bool ContractionHierarchy::unpack(std::uint32_t from, std::uint32_t to, std::uint32_t middle,
                                  std::vector<std::uint32_t>& out) const
{
    struct Piece {
        std::uint32_t from, to, middle;
    };
    std::vector<Piece> stack{{from, to, middle}};
    // A sound hierarchy never repeats a node more than the graph has nodes;
    // the bound stops a crafted file from making unpacking explode.
    const std::size_t limit = out.size() + 4 * static_cast<std::size_t>(nodeCount()) + 16;
    while (!stack.empty()) {
        const Piece piece = stack.back();
        stack.pop_back();
        if (piece.middle == kChNone) {
            out.push_back(piece.to);
            if (out.size() > limit) {
                return false;
            }
            continue;
        }
        const std::uint32_t m = piece.middle;
        const ChArc* first = nullptr;
        for (const ChArc& a : down(m)) {
            if (a.node == piece.from) {
                first = &a;
            }
        }
        const ChArc* second = nullptr;
        for (const ChArc& a : up(m)) {
            if (a.node == piece.to) {
                second = &a;
            }
        }
        if (first == nullptr || second == nullptr) {
            return false;
        }
        stack.push_back(Piece{m, piece.to, second->middle});
        stack.push_back(Piece{piece.from, m, first->middle});
    }
    return true;
}

std::optional<ChPath> ContractionHierarchy::shortestPath(std::span<const ChSeed> sources,
                                                         std::span<const ChSeed> targets) const
{
    thread_local QuerySpace space;
    Labels& fw = space.forward;
    Labels& bw = space.backward;
    fw.clear();
    bw.clear();
    const std::uint32_t n = nodeCount();
    for (std::size_t i = 0; i < sources.size(); ++i) {
        if (sources[i].node < n) {
            fw.improve(sources[i].node, sources[i].cost, kChNone, static_cast<std::uint32_t>(i));
        }
    }
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (targets[i].node < n) {
            bw.improve(targets[i].node, targets[i].cost, kChNone, static_cast<std::uint32_t>(i));
        }
    }
    double best = kInfinity;
    std::uint32_t meeting = kChNone;
    auto consider = [&](std::uint32_t node, double total) {
        if (total < best) {
            best = total;
            meeting = node;
        }
    };
    for (const ChSeed& s : sources) {
        if (s.node < n) {
            consider(s.node, fw.dist(s.node) + bw.dist(s.node));
        }
    }

    // One step of one direction: settle the closest node, unless a higher node
    // reaches it more cheaply (stall-on-demand), and relax its climbing arcs.
    auto step = [&](Labels& self, Labels& other, bool forward) {
        const auto [d, x] = self.pop();
        for (const ChArc& a : forward ? down(x) : up(x)) {
            if (self.dist(a.node) + a.weight < d) {
                return;
            }
        }
        for (const ChArc& a : forward ? up(x) : down(x)) {
            const double nd = d + a.weight;
            if (self.improve(a.node, nd, x, a.middle)) {
                const double there = other.dist(a.node);
                if (there < kInfinity) {
                    consider(a.node, nd + there);
                }
            }
        }
    };
    while (true) {
        const double topF = fw.top();
        const double topB = bw.top();
        const bool forwardOn = topF < best;
        const bool backwardOn = topB < best;
        if (!forwardOn && !backwardOn) {
            break;
        }
        if (forwardOn && (!backwardOn || topF <= topB)) {
            step(fw, bw, true);
        } else {
            step(bw, fw, false);
        }
    }
    if (meeting == kChNone) {
        return std::nullopt;
    }

    // The climbing halves as arcs (from, to, middle), in driving order.
    struct Hop {
        std::uint32_t from, to, middle;
    };
    std::vector<Hop> hops;
    ChPath path;
    path.cost = best;
    std::uint32_t x = meeting;
    for (const Labels::Label* l = &fw.at(x); l->parent != kChNone; l = &fw.at(x)) {
        hops.push_back(Hop{l->parent, x, l->middle});
        x = l->parent;
    }
    path.source = fw.at(x).middle;
    std::reverse(hops.begin(), hops.end());
    path.nodes.push_back(x);
    x = meeting;
    for (const Labels::Label* l = &bw.at(x); l->parent != kChNone; l = &bw.at(x)) {
        hops.push_back(Hop{x, l->parent, l->middle});
        x = l->parent;
    }
    path.target = bw.at(x).middle;
    for (const Hop& hop : hops) {
        if (!unpack(hop.from, hop.to, hop.middle, path.nodes)) {
            return std::nullopt;
        }
    }
    return path;
}

} // namespace tw::service
