// Contraction of a map's turn graph on its own: preparation time, the
// hierarchy's size, and the time of bare hierarchy queries between random
// road edges (no snapping, no HTTP). For tuning the contraction; the figures
// a user sees are bench/service_country_size.sh and the server benchmark.
//
// Usage: tw_bench_service_contraction MAP [QUERIES]

#include "service/map/map_loader.h"
#include "service/routing/contraction_router.h"
#include "service/routing/turn_model.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s MAP [QUERIES]\n", argv[0]);
        return 2;
    }
    using Clock = std::chrono::steady_clock;
    const int queries = argc > 2 ? std::atoi(argv[2]) : 1000;
    const tw::service::RoadMap map = tw::service::loadMap(argv[1], {tw::service::ProgressReport::Quiet});
    const tw::service::TurnModel model(map);
    const auto arcs = tw::service::turnArcs(model);
    std::printf("states %zu, arcs %zu\n", model.stateCount(), arcs.size());
    const auto t0 = Clock::now();
    const auto ch = tw::service::prepareHierarchy(model, [&](double done) {
        std::fprintf(stderr, "\r%5.1f%% %6.1f s", done * 100, std::chrono::duration<double>(Clock::now() - t0).count());
    });
    const double prepSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("\nprepare %.1f s, hierarchy arcs %zu (%.2f per state)\n", prepSeconds, ch.arcCount(),
                static_cast<double>(ch.arcCount()) / static_cast<double>(model.stateCount()));
    std::mt19937 random(7);
    std::uniform_int_distribution<std::uint32_t> edge(0, static_cast<std::uint32_t>(map.edges.size() - 1));
    std::vector<double> micros;
    std::size_t found = 0;
    for (int i = 0; i < queries; ++i) {
        const tw::service::ChSeed s{edge(random), 0.0};
        const tw::service::ChSeed t{edge(random), 0.0};
        const auto q0 = Clock::now();
        const auto path = ch.shortestPath({&s, 1}, {&t, 1});
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - q0).count());
        found += path ? 1 : 0;
    }
    std::sort(micros.begin(), micros.end());
    if (!micros.empty()) {
        std::printf("queries %d (%zu connected): p50 %.0f us, p99 %.0f us\n", queries, found,
                    micros[micros.size() / 2], micros[micros.size() * 99 / 100]);
    }
    return 0;
}
