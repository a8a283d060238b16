// Router latency on random pairs of points: snapping both ends and routing
// under the turn model, p50 and p99, on the bundled sample town and on the generator's
// million-junction region (TW_BENCH_MAP=<file> replaces it by any map).

#include "service/generator/synthetic_region.h"
#include "service/map/map_loader.h"
#include "service/routing/router.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>

namespace {

using Clock = std::chrono::steady_clock;

std::string largeMap()
{
    if (const char* given = std::getenv("TW_BENCH_MAP")) {
        return given;
    }
    // The generator's synthetic region: towns, county roads, motorways with
    // ramps, addresses; written once and kept for later runs.
    const auto path = std::filesystem::temp_directory_path() / "tw-bench-region-1m.osm.pbf";
    if (!std::filesystem::exists(path)) {
        tw::service::writeSyntheticRegion(path, 1'000'000);
    }
    return path.string();
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
    return values[index];
}

void routeRandomPairs(benchmark::State& state, const std::string& path)
{
    if (!std::filesystem::exists(path)) {
        state.SkipWithError(("no map at " + path).c_str());
        return;
    }
    const tw::service::RoadMap map = tw::service::loadMap(path, {tw::service::ProgressReport::Auto});
    const auto indexStart = Clock::now();
    const tw::service::Router router(map);
    const double indexSeconds = std::chrono::duration<double>(Clock::now() - indexStart).count();
    double minLat = 90;
    double maxLat = -90;
    double minLon = 180;
    double maxLon = -180;
    for (const auto& c : map.nodes) {
        minLat = std::min(minLat, c.lat);
        maxLat = std::max(maxLat, c.lat);
        minLon = std::min(minLon, c.lon);
        maxLon = std::max(maxLon, c.lon);
    }
    std::mt19937 random(42);
    std::uniform_real_distribution<double> lat(minLat, maxLat);
    std::uniform_real_distribution<double> lon(minLon, maxLon);
    std::vector<double> millis;
    double totalKm = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const auto from = router.snap({lat(random), lon(random)});
        const auto to = router.snap({lat(random), lon(random)});
        std::optional<tw::service::Route> route;
        if (from && to) {
            route = router.route(*from, *to);
        }
        millis.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        benchmark::DoNotOptimize(route);
        if (route) {
            totalKm += route->metres / 1000.0;
        }
    }
    state.counters["junctions"] = static_cast<double>(map.nodeCount());
    state.counters["p50_ms"] = percentile(millis, 0.50);
    state.counters["p99_ms"] = percentile(millis, 0.99);
    state.counters["mean_route_km"] = totalKm / static_cast<double>(millis.size());
    state.counters["router_index_s"] = indexSeconds;
    // The router searches directed edges (turn model states), not junctions:
    // compare with "junctions" for the size of the search space.
    state.counters["turn_states"] = static_cast<double>(router.turnModel().stateCount());
}

void sampleTown(benchmark::State& state)
{
    const char* given = std::getenv("TW_SAMPLE_MAP");
    routeRandomPairs(state, given != nullptr ? given : TW_SAMPLE_MAP_PATH);
}
BENCHMARK(sampleTown)->Iterations(2000)->Unit(benchmark::kMillisecond);

void millionJunctions(benchmark::State& state)
{
    routeRandomPairs(state, largeMap());
}
BENCHMARK(millionJunctions)->Iterations(200)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
