#include "service/map/road_map.h"

#include "service/map/huge_pages.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <functional>
#include <thread>
#include <vector>

namespace tw::service {

std::string_view roadClassName(RoadClass roadClass)
{
    static constexpr std::array<std::string_view, kRoadClassCount> kNames = {
        "motorway",     "trunk",         "primary",       "secondary",    "tertiary",
        "unclassified", "residential",   "living_street", "service",      "motorway_link",
        "trunk_link",   "primary_link",  "secondary_link", "tertiary_link",
    };
    const auto index = static_cast<std::size_t>(roadClass);
    return index < kNames.size() ? kNames[index] : std::string_view("road");
}

const std::string& RoadMap::text(StringId id) const
{
    static const std::string kEmpty;
    return id < strings.size() ? strings[id] : kEmpty;
}

std::span<const Edge> RoadMap::outEdges(NodeId node) const
{
    return std::span<const Edge>(edges).subspan(firstEdge[node], firstEdge[node + 1] - firstEdge[node]);
}

std::span<const EdgeId> RoadMap::inEdgeIds(NodeId node) const
{
    return std::span<const EdgeId>(inEdges).subspan(firstInEdge[node],
                                                    firstInEdge[node + 1] - firstInEdge[node]);
}

std::span<const Coordinate> RoadMap::edgeShape(EdgeId edge) const
{
    const Edge& e = edges[edge];
    return std::span<const Coordinate>(shape).subspan(e.shapeFirst, e.shapeCount);
}

std::span<const Coordinate> RoadMap::interpolationShape(const InterpolationLine& line) const
{
    return std::span<const Coordinate>(shape).subspan(line.shapeFirst, line.shapeCount);
}

std::span<const EdgeId> RoadMap::restrictionPath(const TurnRestriction& restriction) const
{
    return std::span<const EdgeId>(restrictionEdges).subspan(restriction.first, restriction.count);
}

bool RoadMap::isBarrier(NodeId node) const
{
    return std::binary_search(barrierNodes.begin(), barrierNodes.end(), node);
}

std::string RoadMap::restrictionSummary() const
{
    const ImportCounts& c = counts;
    const std::uint32_t skipped = c.restrictionsIncomplete + c.restrictionsMalformed + c.restrictionsNotForCars;
    std::string out = "turn restrictions: " + std::to_string(c.restrictionsUsed) + " obeyed";
    if (skipped > 0) {
        out += ", " + std::to_string(skipped) + " skipped (" + std::to_string(c.restrictionsIncomplete) +
               " incomplete, " + std::to_string(c.restrictionsMalformed) + " malformed, " +
               std::to_string(c.restrictionsNotForCars) + " not for cars)";
    }
    return out + "; " + std::to_string(c.barriers) + " barriers";
}

std::span<const EdgeId> RoadMap::streetEdges(StringId name) const
{
    if (name == 0 || name + 1 >= firstNameEdge.size()) {
        return {};
    }
    return std::span<const EdgeId>(nameEdges).subspan(firstNameEdge[name],
                                                      firstNameEdge[name + 1] - firstNameEdge[name]);
}

void RoadMap::finishIndexes()
{
    const std::size_t n = nodes.size();
    std::vector<EdgeId> firstIn(n + 1, 0);
    for (const Edge& e : edges) {
        ++firstIn[e.target + 1];
    }
    for (std::size_t i = 0; i < n; ++i) {
        firstIn[i + 1] += firstIn[i];
    }
    std::vector<EdgeId> in;
    assignOnHugePages(in, edges.size());
    {
        std::vector<EdgeId> fill(firstIn.begin(), firstIn.end() - 1);
        for (EdgeId id = 0; id < edges.size(); ++id) {
            in[fill[edges[id].target]++] = id;
        }
    }
    firstInEdge = std::move(firstIn);
    inEdges = std::move(in);

    std::vector<EdgeId> firstNamed(strings.size() + 1, 0);
    for (const Edge& e : edges) {
        if (e.name != 0) {
            ++firstNamed[e.name + 1];
        }
    }
    for (std::size_t i = 0; i < strings.size(); ++i) {
        firstNamed[i + 1] += firstNamed[i];
    }
    std::vector<EdgeId> named(firstNamed.back(), 0);
    {
        std::vector<EdgeId> fill(firstNamed.begin(), firstNamed.end() - 1);
        for (EdgeId id = 0; id < edges.size(); ++id) {
            if (edges[id].name != 0) {
                named[fill[edges[id].name]++] = id;
            }
        }
    }
    firstNameEdge = std::move(firstNamed);
    nameEdges = std::move(named);
}

namespace {

bool validCoordinate(const Coordinate& c)
{
    return std::isfinite(c.lat) && std::isfinite(c.lon) && c.lat >= -90.0 && c.lat <= 90.0 &&
           c.lon >= -180.0 && c.lon <= 180.0;
}

bool validRange(std::uint32_t first, std::uint32_t count, std::size_t size)
{
    return count >= 2 && first <= size && count <= size - first;
}

std::string checkCsr(std::span<const EdgeId> first, std::size_t rows, std::size_t total,
                     const char* what)
{
    if (first.size() != rows + 1 || first.front() != 0 || first.back() != total) {
        return std::string(what) + " index has the wrong size";
    }
    for (std::size_t i = 0; i < rows; ++i) {
        if (first[i] > first[i + 1]) {
            return std::string(what) + " index is not ascending";
        }
    }
    return {};
}

// Runs the checks on every core; returns the fault of the first (in the
// list's order) that finds one, "" when none does.
std::string firstFault(const std::vector<std::function<std::string()>>& checks)
{
    std::vector<std::string> faults(checks.size());
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < checks.size(); i = next++) {
            faults[i] = checks[i]();
        }
    };
    const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    std::vector<std::thread> threads;
    for (unsigned t = 1; t < cores && t < checks.size(); ++t) {
        threads.emplace_back(work);
    }
    work();
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (std::string& fault : faults) {
        if (!fault.empty()) {
            return std::move(fault);
        }
    }
    return {};
}

}  // namespace

std::string RoadMap::validate() const
{
    const std::size_t n = nodes.size();
    if (n >= kNoId || edges.size() >= kNoId || shape.size() >= kNoId || strings.size() >= kNoId) {
        return "map is too large";
    }
    if (strings.empty() || !strings[0].empty()) {
        return "string table lacks the empty string";
    }
    // The indexes the loops below walk by come first.
    if (auto fault = checkCsr(firstEdge, n, edges.size(), "edge"); !fault.empty()) {
        return fault;
    }
    if (auto fault = checkCsr(firstInEdge, n, edges.size(), "incoming edge"); !fault.empty()) {
        return fault;
    }
    if (auto fault = checkCsr(firstNameEdge, strings.size(), nameEdges.size(), "street"); !fault.empty()) {
        return fault;
    }

    // The loops over the large arrays run on every core, the junctions' in
    // parts: on a country-size map this is most of a start's checking.
    constexpr NodeId kNodesPerCheck = 1u << 20;
    std::vector<std::function<std::string()>> checks;
    checks.reserve(6 + 2 * (n / kNodesPerCheck + 1));
    checks.emplace_back([this] {
        const bool sound = std::all_of(nodes.begin(), nodes.end(), validCoordinate);
        return sound ? std::string() : "junction coordinate out of range";
    });
    checks.emplace_back([this] {
        const bool sound = std::all_of(shape.begin(), shape.end(), validCoordinate);
        return sound ? std::string() : "shape coordinate out of range";
    });
    for (NodeId begin = 0; begin < n; begin += kNodesPerCheck) {
        const NodeId end = static_cast<NodeId>(std::min<std::size_t>(n, std::size_t{begin} + kNodesPerCheck));
        checks.emplace_back([this, begin, end] { return checkEdges(begin, end); });
    }
    checks.emplace_back([this] {
        for (const AddressPoint& a : addresses) {
            if (a.street >= strings.size() || a.houseNumber >= strings.size() || a.city >= strings.size()
                || a.postcode >= strings.size() || a.state >= strings.size() || !validCoordinate(a.location)) {
                return "address point invalid";
            }
        }
        return "";
    });
    checks.emplace_back([this] { return checkRestrictionsAndLines(); });
    for (NodeId begin = 0; begin < n; begin += kNodesPerCheck) {
        const NodeId end = static_cast<NodeId>(std::min<std::size_t>(n, std::size_t{begin} + kNodesPerCheck));
        checks.emplace_back([this, begin, end] {
            for (NodeId v = begin; v < end; ++v) {
                for (EdgeId i = firstInEdge[v]; i < firstInEdge[v + 1]; ++i) {
                    if (inEdges[i] >= edges.size() || edges[inEdges[i]].target != v) {
                        return "incoming edge index inconsistent";
                    }
                }
            }
            return "";
        });
    }
    checks.emplace_back([this] {
        for (StringId s = 0; s < strings.size(); ++s) {
            for (EdgeId i = firstNameEdge[s]; i < firstNameEdge[s + 1]; ++i) {
                if (nameEdges[i] >= edges.size() || edges[nameEdges[i]].name != s) {
                    return "street index inconsistent";
                }
            }
        }
        return "";
    });
    return firstFault(checks);
}

std::string RoadMap::checkEdges(NodeId begin, NodeId end) const
{
    const std::size_t n = nodes.size();
    for (NodeId v = begin; v < end; ++v) {
        for (EdgeId id = firstEdge[v]; id < firstEdge[v + 1]; ++id) {
            const Edge& e = edges[id];
            if (e.source != v || e.target >= n) {
                return "edge endpoints out of range";
            }
            if (e.twin != kNoId && (e.twin >= edges.size() || edges[e.twin].twin != id ||
                                    edges[e.twin].source != e.target || edges[e.twin].target != e.source)) {
                return "edge twin inconsistent";
            }
            if (e.name >= strings.size() || e.ref >= strings.size() || e.destination >= strings.size() ||
                e.destinationRef >= strings.size()) {
                return "edge text id out of range";
            }
            if (!validRange(e.shapeFirst, e.shapeCount, shape.size())) {
                return "edge shape out of range";
            }
            if (!(e.metres >= 0.0f) || !std::isfinite(e.metres) || e.deciseconds == 0) {
                return "edge length or time invalid";
            }
            if (static_cast<int>(e.roadClass) >= kRoadClassCount) {
                return "edge road class invalid";
            }
        }
    }
    return {};
}

std::string RoadMap::checkRestrictionsAndLines() const
{
    for (const InterpolationLine& l : interpolations) {
        if (l.street >= strings.size() || l.city >= strings.size() || l.postcode >= strings.size() ||
            l.state >= strings.size() || !validRange(l.shapeFirst, l.shapeCount, shape.size()) ||
            static_cast<int>(l.parity) > static_cast<int>(Parity::Even)) {
            return "interpolation line invalid";
        }
    }
    for (const TurnRestriction& r : restrictions) {
        if (r.count < 2 || r.first > restrictionEdges.size() || r.count > restrictionEdges.size() - r.first ||
            static_cast<int>(r.kind) > static_cast<int>(RestrictionKind::Only)) {
            return "turn restriction out of range";
        }
        for (std::uint32_t i = r.first; i < r.first + r.count; ++i) {
            if (restrictionEdges[i] >= edges.size() ||
                (i > r.first && edges[restrictionEdges[i - 1]].target != edges[restrictionEdges[i]].source)) {
                return "turn restriction path broken";
            }
        }
    }
    for (std::size_t i = 0; i < barrierNodes.size(); ++i) {
        if (barrierNodes[i] >= nodes.size() || (i > 0 && barrierNodes[i - 1] >= barrierNodes[i])) {
            return "barrier list invalid";
        }
    }
    return {};
}

}  // namespace tw::service
