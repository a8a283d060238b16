// End-to-end latency of the directions service: a real HttpServer on a
// loopback port, a client asking /dd_result for random pairs of addresses from
// the map, p50 and p99 of the answer time, and requests per second with a few
// clients at once. TW_BENCH_MAP=<file> replaces the million-junction region.
// Routes come from the contraction hierarchy, as in the service.
// TW_BENCH_PORT=<port> measures the region's latency on a service already
// running on that loopback port (started as a user would, on the same map)
// instead of one in this process, whose checks of the map at its start leave
// every page of it mapped.

#include "service/generator/synthetic_region.h"
#include "service/map/map_loader.h"
#include "service/server/directions_query.h"
#include "service/server/http_server.h"

// Asio's scheduler trips GCC's flow-based -Wnull-dereference after inlining
// (as in http_server.cpp); the finding is in the library.
#pragma GCC diagnostic ignored "-Wnull-dereference"
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using namespace tw::service;

std::string largeMap()
{
    if (const char* given = std::getenv("TW_BENCH_MAP"))
        return given;
    const auto path = std::filesystem::temp_directory_path() / "tw-bench-region-1m.osm.pbf";
    if (!std::filesystem::exists(path))
        writeSyntheticRegion(path, 1'000'000);
    return path.string();
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

// Random (street line, city line) pairs from the map's numbered addresses.
std::vector<std::pair<std::string, std::string>> randomAddresses(const RoadMap& map, std::size_t count)
{
    std::vector<std::pair<std::string, std::string>> out;
    std::mt19937 random(7);
    std::uniform_int_distribution<std::size_t> pick(0, map.addresses.empty() ? 0 : map.addresses.size() - 1);
    for (std::size_t tries = 0; out.size() < count && tries < count * 20 && !map.addresses.empty(); ++tries) {
        const AddressPoint& a = map.addresses[pick(random)];
        if (a.number < 0 || a.street == 0 || map.streetEdges(a.street).empty())
            continue;
        out.emplace_back(map.text(a.houseNumber) + " " + map.text(a.street),
                         map.text(a.city) + " " + map.text(a.state) + " " + map.text(a.postcode));
    }
    return out;
}

// The service's own router: the contraction hierarchy from the map's prepared
// file (made on first use). TW_BENCH_SEARCH=landmarks measures the A* instead.
RouterOptions routerOptions(const std::string& path)
{
    const char* search = std::getenv("TW_BENCH_SEARCH");
    if (search != nullptr && std::string(search) == "landmarks")
        return {RouteSearch::Landmarks, {}, false};
    return {RouteSearch::Hierarchy, path, true};
}

struct Service {
    explicit Service(const std::string& path)
        : map(loadMap(path, {ProgressReport::Auto})), site(map, routerOptions(path)), server(site, RequestLog::Quiet)
    {
        port = server.bind("127.0.0.1", 0);
        thread = std::thread([this] { server.serve(); });
        while (!server.isRunning())
            std::this_thread::yield();
    }
    ~Service()
    {
        server.stop();
        thread.join();
    }
    RoadMap map;
    DirectionsSite site;
    HttpServer server;
    int port = 0;
    std::thread thread;
};

// A kept-alive HTTP/1.1 client connection.
class Connection {
public:
    explicit Connection(int port) : m_stream(m_context)
    {
        namespace net = boost::asio;
        m_stream.connect(net::ip::tcp::endpoint(net::ip::address_v4::loopback(), static_cast<unsigned short>(port)));
        m_stream.socket().set_option(net::ip::tcp::no_delay(true));
    }

    // Returns the status of GET target (0 when it failed) and the body.
    std::pair<int, std::string> get(const std::string& target)
    {
        namespace http = boost::beast::http;
        http::request<http::empty_body> request{http::verb::get, target, 11};
        request.set(http::field::host, "127.0.0.1");
        boost::beast::error_code ec;
        http::write(m_stream, request, ec);
        http::response<http::string_body> response;
        if (!ec)
            http::read(m_stream, m_buffer, response, ec);
        if (ec)
            return {0, {}};
        return {response.result_int(), std::move(response.body())};
    }

private:
    boost::asio::io_context m_context;
    boost::beast::tcp_stream m_stream;
    boost::beast::flat_buffer m_buffer;
};

std::vector<std::string> targets(const RoadMap& map, std::size_t count)
{
    const auto addresses = randomAddresses(map, count * 2);
    std::vector<std::string> out;
    for (std::size_t i = 0; i + 1 < addresses.size(); i += 2) {
        DirectionsQuery q{addresses[i].first, addresses[i].second, addresses[i + 1].first, addresses[i + 1].second};
        out.push_back("/dd_result?" + encodeDirectionsQuery(q));
    }
    return out;
}

void latency(benchmark::State& state, const std::string& path)
{
    if (!std::filesystem::exists(path)) {
        state.SkipWithError(("no map at " + path).c_str());
        return;
    }
    const char* port = path == largeMap() ? std::getenv("TW_BENCH_PORT") : nullptr;
    std::optional<Service> service;
    std::optional<RoadMap> map;
    if (port != nullptr) {
        map.emplace(loadMap(path));
    } else {
        service.emplace(path);
    }
    const std::vector<std::string> list = targets(service ? service->map : *map, 1000);
    Connection client(service ? service->port : std::atoi(port));
    std::vector<double> millis;
    int directions = 0;
    for (auto _ : state) {
        millis.clear();
        directions = 0;
        for (const std::string& target : list) {
            const auto start = Clock::now();
            const auto [status, body] = client.get(target);
            millis.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            if (status == 200 && body.find("Start at") != std::string::npos)
                ++directions;
        }
    }
    state.counters["p50_ms"] = percentile(millis, 0.50);
    state.counters["p99_ms"] = percentile(millis, 0.99);
    state.counters["requests"] = static_cast<double>(millis.size());
    state.counters["with_directions"] = directions;
}

void throughput(benchmark::State& state, const std::string& path)
{
    if (!std::filesystem::exists(path)) {
        state.SkipWithError(("no map at " + path).c_str());
        return;
    }
    Service service(path);
    const std::vector<std::string> list = targets(service.map, 200);
    const int clients = static_cast<int>(state.range(0));
    double seconds = 0;
    std::atomic<long> answered{0};
    for (auto _ : state) {
        const auto start = Clock::now();
        const auto until = start + std::chrono::seconds(3);
        std::vector<std::thread> threads;
        for (int c = 0; c < clients; ++c) {
            threads.emplace_back([&, c] {
                Connection client(service.port);
                for (std::size_t i = static_cast<std::size_t>(c); Clock::now() < until; ++i) {
                    const int status = client.get(list[i % list.size()]).first;
                    if (status == 200 || status == 302)
                        ++answered;
                }
            });
        }
        for (auto& t : threads)
            t.join();
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
    }
    state.counters["requests_per_s"] = static_cast<double>(answered.load()) / seconds;
}

} // namespace

BENCHMARK_CAPTURE(latency, sample_town, std::string(TW_SAMPLE_MAP_PATH))->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(throughput, sample_town, std::string(TW_SAMPLE_MAP_PATH))->Arg(4)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(latency, region_1m, largeMap())->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(throughput, region_1m, largeMap())->Arg(4)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
