// Import time and peak memory of a large map (the map generator's synthetic
// region of a million junctions; TW_BENCH_MAP=<file> imports that file
// instead). Each import runs in a child process, so the peak resident memory
// reported is the import's own.

#include "service/generator/synthetic_region.h"
#include "service/map/map_loader.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <filesystem>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string benchMap()
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

constexpr const char* kChildFlag = "--import-child";

// The child: imports (or reads from the cache) and prints the junction count.
int importChild(const char* path, const char* mode)
{
    try {
        const auto map = tw::service::loadMap(
            path, {tw::service::ProgressReport::Quiet, std::string(mode) == "cache"
                                                            ? tw::service::CacheUse::ReadWrite
                                                            : tw::service::CacheUse::Ignore});
        std::printf("%zu\n", map.nodeCount());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}

void importLargeMap(benchmark::State& state)
{
    const std::string path = benchMap();
    const bool cached = state.range(0) != 0;
    if (cached) {
        tw::service::loadMap(path, {tw::service::ProgressReport::Quiet, tw::service::CacheUse::ReadWrite});
    }
    long peakKb = 0;
    std::size_t junctions = 0;
    for (auto _ : state) {
        // A fresh process (fork, then exec of this program) so that the peak
        // memory is the import's alone and libosmium's threads start clean.
        int pipeFds[2];
        if (pipe(pipeFds) != 0) {
            state.SkipWithError("pipe failed");
            return;
        }
        const pid_t child = fork();
        if (child == 0) {
            close(pipeFds[0]);
            dup2(pipeFds[1], STDOUT_FILENO);
            execl("/proc/self/exe", "tw_bench_service_map", kChildFlag, path.c_str(), cached ? "cache" : "import",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(pipeFds[1]);
        char text[64] = {};
        (void)!read(pipeFds[0], text, sizeof text - 1);
        close(pipeFds[0]);
        junctions = std::strtoull(text, nullptr, 10);
        int status = 0;
        rusage usage{};
        wait4(child, &status, 0, &usage);
        peakKb = usage.ru_maxrss;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("import failed");
            return;
        }
    }
    state.counters["junctions"] = static_cast<double>(junctions);
    state.counters["peak_rss_MB"] = static_cast<double>(peakKb) / 1024.0;
}
BENCHMARK(importLargeMap)->ArgName("from_cache")->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == kChildFlag) {
        return importChild(argv[2], argv[3]);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
