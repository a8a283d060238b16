// How fast the map generator writes: the sample town, and synthetic regions of
// 10 thousand to 1 million junctions (the size the routing benchmarks use).

#include "service/generator/sample_town.h"
#include "service/generator/synthetic_region.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>

namespace {

std::filesystem::path scratchFile(const char* name)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tw-mapgen-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::abort();
    }
    return std::filesystem::path(pattern) / name;
}

void sampleTown(benchmark::State& state)
{
    const auto path = scratchFile("town.osm.pbf");
    for (auto _ : state) {
        tw::service::writeSampleTown(path);
    }
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
    std::filesystem::remove_all(path.parent_path());
}
BENCHMARK(sampleTown)->Unit(benchmark::kMillisecond)->UseRealTime();

void syntheticRegion(benchmark::State& state)
{
    const auto path = scratchFile("region.osm.pbf");
    tw::service::SyntheticRegionStats stats;
    for (auto _ : state) {
        stats = tw::service::writeSyntheticRegion(path, static_cast<std::uint64_t>(state.range(0)));
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["junctions"] = static_cast<double>(stats.junctions);
    state.counters["junctions/s"] =
        benchmark::Counter(static_cast<double>(stats.junctions), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
    state.counters["peakRssMB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    std::filesystem::remove_all(path.parent_path());
}
BENCHMARK(syntheticRegion)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(syntheticRegion)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
