// Contraction of a map's turn graph on its own: preparation time, the
// hierarchy's size, and the time of bare hierarchy queries between random
// road edges (no snapping, no HTTP). For tuning the contraction; the figures
// a user sees are bench/service_country_size.sh and the server benchmark.
// Given a prepared file (.twch) instead of a map, it maps the file and only
// times queries between random states, in a few rounds: the map is not
// loaded, so this runs in seconds even beside a country-size map.
//
// Usage: tw_bench_service_contraction MAP|PREPARED.twch [QUERIES]

#include "service/map/map_loader.h"
#include "service/routing/contraction_router.h"
#include "service/routing/prepared_hierarchy.h"
#include "service/routing/turn_model.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Times `queries` queries between random nodes below `seedLimit`.
void timeQueries(const tw::service::ContractionHierarchy& ch, std::uint32_t seedLimit, int queries,
                 std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::uint32_t> node(0, seedLimit - 1);
    std::vector<double> micros;
    std::size_t found = 0;
    for (int i = 0; i < queries; ++i) {
        const tw::service::ChSeed s{node(random), 0.0};
        const tw::service::ChSeed t{node(random), 0.0};
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
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s MAP|PREPARED.twch [QUERIES]\n", argv[0]);
        return 2;
    }
    const int queries = argc > 2 ? std::atoi(argv[2]) : 1000;
    if (std::string_view(argv[1]).ends_with(".twch")) {
        const auto t0 = Clock::now();
        const auto ch = tw::service::openPreparedFile(argv[1]);
        std::printf("opened and checked in %.1f s: %u states, %zu arcs\n",
                    std::chrono::duration<double>(Clock::now() - t0).count(), ch.nodeCount(), ch.arcCount());
        for (std::uint32_t round = 0; round < 3; ++round) {
            timeQueries(ch, ch.nodeCount(), queries, 7 + round);
        }
        return 0;
    }
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
    // Road edges are the first states.
    timeQueries(ch, static_cast<std::uint32_t>(map.edges.size()), queries, 7);
    return 0;
}
