#include "service/routing/largest_component.h"

#include <algorithm>
#include <utility>

namespace tw::service {

std::vector<std::uint8_t> largestComponent(const RoadMap& map)
{
    const std::size_t n = map.nodeCount();
    // Kosaraju: finishing order on the graph, then components on the reverse
    // graph in reverse finishing order.
    std::vector<NodeId> order;
    order.reserve(n);
    {
        std::vector<std::uint8_t> seen(n, 0);
        std::vector<std::pair<NodeId, EdgeId>> stack;
        for (NodeId root = 0; root < n; ++root) {
            if (seen[root] != 0) {
                continue;
            }
            seen[root] = 1;
            stack.emplace_back(root, map.firstEdge[root]);
            while (!stack.empty()) {
                auto& [node, next] = stack.back();
                if (next < map.firstEdge[node + 1]) {
                    const NodeId target = map.edges[next++].target;
                    if (seen[target] == 0) {
                        seen[target] = 1;
                        stack.emplace_back(target, map.firstEdge[target]);
                    }
                } else {
                    order.push_back(node);
                    stack.pop_back();
                }
            }
        }
    }
    std::vector<std::uint32_t> component(n, kNoId);
    std::vector<std::size_t> sizes;
    {
        std::vector<NodeId> stack;
        for (auto it = order.rbegin(); it != order.rend(); ++it) {
            if (component[*it] != kNoId) {
                continue;
            }
            const auto id = static_cast<std::uint32_t>(sizes.size());
            sizes.push_back(0);
            component[*it] = id;
            stack.push_back(*it);
            while (!stack.empty()) {
                const NodeId node = stack.back();
                stack.pop_back();
                ++sizes[id];
                for (EdgeId e : map.inEdgeIds(node)) {
                    const NodeId source = map.edges[e].source;
                    if (component[source] == kNoId) {
                        component[source] = id;
                        stack.push_back(source);
                    }
                }
            }
        }
    }
    std::vector<std::uint8_t> inLargest(n, 0);
    if (sizes.empty()) {
        return inLargest;
    }
    const auto largest = static_cast<std::uint32_t>(std::max_element(sizes.begin(), sizes.end()) - sizes.begin());
    for (std::size_t i = 0; i < n; ++i) {
        inLargest[i] = component[i] == largest ? 1 : 0;
    }
    return inLargest;
}

}  // namespace tw::service
