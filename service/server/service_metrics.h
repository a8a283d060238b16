#pragma once
// ServiceMetrics: the counters the directions service exposes at /metrics, in
// the Prometheus text exposition format (version 0.0.4).
//
// Contract:
// - Every record*() and the connection gauge are lock-free and safe from any
//   thread; render() reads a consistent-enough snapshot (each value is read
//   once, counters only grow).
// - Nothing recorded holds request text: pages are a fixed set of names and
//   statuses a fixed set of codes, so the output stays small and free of
//   addresses.

#include "service/geocoder/geocoder.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

namespace tw::service {

// The pages requests are counted by.
enum class Page { Form, Result, Root, Health, Metrics, Other };

// The sizes of the map being served.
struct MapSize {
    std::uint64_t junctions = 0;
    std::uint64_t roadPieces = 0;
    std::uint64_t streets = 0;
    std::uint64_t addresses = 0;
};

class ServiceMetrics {
public:
    // Counts one answered request: its page, status and the time from its
    // first header byte to the last byte of the answer written.
    void recordRequest(Page page, int status, std::chrono::nanoseconds duration);

    // Counts one address lookup by its outcome.
    void recordGeocode(GeocodeStatus status);

    void connectionOpened() { m_openConnections.fetch_add(1, std::memory_order_relaxed); }
    void connectionClosed() { m_openConnections.fetch_sub(1, std::memory_order_relaxed); }
    std::int64_t openConnections() const { return m_openConnections.load(std::memory_order_relaxed); }

    void setMapSize(const MapSize& size);

    // Returns the number of requests answered with `status` on `page`.
    std::uint64_t requests(Page page, int status) const;

    // Returns every metric as exposition text.
    std::string render() const;

private:
    static constexpr std::array<int, 12> kStatuses{200, 302, 400, 404, 405, 408, 413, 414, 431, 500, 503, 0};
    static constexpr std::size_t kPages = 6;
    // Upper bounds of the latency buckets, in seconds; +Inf is implied.
    static constexpr std::array<double, 12> kBuckets{0.0005, 0.001, 0.0025, 0.005, 0.01,  0.025,
                                                     0.05,   0.1,   0.25,   0.5,   1.0,   2.5};
    static std::size_t statusIndex(int status);

    std::array<std::array<std::atomic<std::uint64_t>, kStatuses.size()>, kPages> m_requests{};
    std::array<std::atomic<std::uint64_t>, kBuckets.size() + 1> m_latency{};
    std::atomic<std::uint64_t> m_latencyNanos{0};
    std::array<std::atomic<std::uint64_t>, 4> m_geocodes{};
    std::atomic<std::int64_t> m_openConnections{0};
    std::array<std::atomic<std::uint64_t>, 4> m_mapSize{};
    std::atomic<bool> m_mapLoaded{false};
};

} // namespace tw::service
