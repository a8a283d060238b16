#include "service/routing/largest_component.h"

#include <algorithm>
#include <utility>

namespace tw::service {

std::vector<std::uint8_t> largestComponent(const TurnModel& model)
{
    const RoadMap& map = model.map();
    const std::size_t n = model.stateCount();
    // Kosaraju: finishing order over allowed turns, then components over the
    // turns reversed in reverse finishing order.
    std::vector<StateId> order;
    order.reserve(n);
    {
        std::vector<std::uint8_t> seen(n, 0);
        // (state, next out-edge of the junction where the state's edge ends)
        std::vector<std::pair<StateId, EdgeId>> stack;
        for (StateId root = 0; root < n; ++root) {
            if (seen[root] != 0) {
                continue;
            }
            seen[root] = 1;
            stack.emplace_back(root, map.firstEdge[map.edges[model.roadEdge(root)].target]);
            while (!stack.empty()) {
                auto& [state, next] = stack.back();
                const NodeId junction = map.edges[model.roadEdge(state)].target;
                if (next < map.firstEdge[junction + 1]) {
                    const TurnModel::Turn turn = model.turn(state, next++);
                    if (turn.cost != TurnModel::kForbidden && seen[turn.to] == 0) {
                        seen[turn.to] = 1;
                        stack.emplace_back(turn.to, map.firstEdge[map.edges[model.roadEdge(turn.to)].target]);
                    }
                } else {
                    order.push_back(state);
                    stack.pop_back();
                }
            }
        }
    }
    std::vector<std::uint32_t> component(n, kNoId);
    std::vector<std::size_t> sizes;
    {
        std::vector<StateId> stack;
        for (auto it = order.rbegin(); it != order.rend(); ++it) {
            if (component[*it] != kNoId) {
                continue;
            }
            const auto id = static_cast<std::uint32_t>(sizes.size());
            sizes.push_back(0);
            component[*it] = id;
            stack.push_back(*it);
            while (!stack.empty()) {
                const StateId state = stack.back();
                stack.pop_back();
                ++sizes[id];
                model.forEachTurnInto(state, [&](StateId from, std::uint32_t) {
                    if (component[from] == kNoId) {
                        component[from] = id;
                        stack.push_back(from);
                    }
                });
            }
        }
    }
    std::vector<std::uint8_t> inLargest(map.edges.size(), 0);
    if (sizes.empty()) {
        return inLargest;
    }
    const auto largest = static_cast<std::uint32_t>(std::max_element(sizes.begin(), sizes.end()) - sizes.begin());
    for (std::size_t i = 0; i < inLargest.size(); ++i) {
        inLargest[i] = component[i] == largest ? 1 : 0;
    }
    return inLargest;
}

}  // namespace tw::service
