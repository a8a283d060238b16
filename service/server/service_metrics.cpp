#include "service/server/service_metrics.h"

#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace tw::service {
namespace {

constexpr std::array<const char*, 6> kPageNames{"dd", "dd_result", "root", "healthz", "metrics", "other"};
constexpr std::array<const char*, 4> kGeocodeNames{"found", "empty", "not_found", "ambiguous"};

std::size_t geocodeIndex(GeocodeStatus status)
{
    switch (status) {
    case GeocodeStatus::Found: return 0;
    case GeocodeStatus::Empty: return 1;
    case GeocodeStatus::NotFound: return 2;
    case GeocodeStatus::Ambiguous: return 3;
    }
    return 2;
}

// Returns the resident set size of this process in bytes, or 0 when unknown.
std::uint64_t residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    std::uint64_t size = 0;
    std::uint64_t resident = 0;
    if (!(statm >> size >> resident))
        return 0;
    return resident * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

void header(std::string& out, const char* name, const char* type, const char* help)
{
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

} // namespace

std::size_t ServiceMetrics::statusIndex(int status)
{
    for (std::size_t i = 0; i + 1 < kStatuses.size(); ++i) {
        if (kStatuses[i] == status)
            return i;
    }
    return kStatuses.size() - 1; // any other status
}

void ServiceMetrics::recordRequest(Page page, int status, std::chrono::nanoseconds duration)
{
    m_requests[static_cast<std::size_t>(page)][statusIndex(status)].fetch_add(1, std::memory_order_relaxed);
    const double seconds = std::chrono::duration<double>(duration).count();
    std::size_t bucket = 0;
    while (bucket < kBuckets.size() && seconds > kBuckets[bucket])
        ++bucket;
    m_latency[bucket].fetch_add(1, std::memory_order_relaxed);
    m_latencyNanos.fetch_add(static_cast<std::uint64_t>(duration.count() > 0 ? duration.count() : 0),
                             std::memory_order_relaxed);
}

void ServiceMetrics::recordGeocode(GeocodeStatus status)
{
    m_geocodes[geocodeIndex(status)].fetch_add(1, std::memory_order_relaxed);
}

void ServiceMetrics::setMapSize(const MapSize& size)
{
    m_mapSize[0] = size.junctions;
    m_mapSize[1] = size.roadPieces;
    m_mapSize[2] = size.streets;
    m_mapSize[3] = size.addresses;
    m_mapLoaded = true;
}

std::uint64_t ServiceMetrics::requests(Page page, int status) const
{
    return m_requests[static_cast<std::size_t>(page)][statusIndex(status)].load(std::memory_order_relaxed);
}

std::string ServiceMetrics::render() const
{
    std::string out;
    out.reserve(4096);
    header(out, "tarnwickley_http_requests_total", "counter", "Requests answered, by page and status.");
    for (std::size_t page = 0; page < kPages; ++page) {
        for (std::size_t s = 0; s < kStatuses.size(); ++s) {
            const std::uint64_t count = m_requests[page][s].load(std::memory_order_relaxed);
            if (count == 0)
                continue;
            out += "tarnwickley_http_requests_total{page=\"";
            out += kPageNames[page];
            out += "\",status=\"";
            out += kStatuses[s] == 0 ? std::string("other") : std::to_string(kStatuses[s]);
            out += "\"} " + std::to_string(count) + '\n';
        }
    }

    header(out, "tarnwickley_http_request_duration_seconds", "histogram",
           "Time from a request's first header byte to the end of its answer.");
    std::uint64_t cumulative = 0;
    for (std::size_t b = 0; b <= kBuckets.size(); ++b) {
        cumulative += m_latency[b].load(std::memory_order_relaxed);
        out += "tarnwickley_http_request_duration_seconds_bucket{le=\"";
        out += b < kBuckets.size() ? number(kBuckets[b]) : std::string("+Inf");
        out += "\"} " + std::to_string(cumulative) + '\n';
    }
    out += "tarnwickley_http_request_duration_seconds_sum "
        + number(static_cast<double>(m_latencyNanos.load(std::memory_order_relaxed)) / 1e9) + '\n';
    out += "tarnwickley_http_request_duration_seconds_count " + std::to_string(cumulative) + '\n';

    header(out, "tarnwickley_geocode_total", "counter", "Address lookups, by outcome.");
    for (std::size_t g = 0; g < kGeocodeNames.size(); ++g) {
        out += "tarnwickley_geocode_total{outcome=\"";
        out += kGeocodeNames[g];
        out += "\"} " + std::to_string(m_geocodes[g].load(std::memory_order_relaxed)) + '\n';
    }

    header(out, "tarnwickley_open_connections", "gauge", "Client connections open now.");
    out += "tarnwickley_open_connections " + std::to_string(openConnections()) + '\n';

    header(out, "tarnwickley_map_loaded", "gauge", "1 once the map is loaded and routable.");
    out += std::string("tarnwickley_map_loaded ") + (m_mapLoaded ? "1" : "0") + '\n';
    const std::array<std::pair<const char*, const char*>, 4> sizes{{
        {"tarnwickley_map_junctions", "Road junctions in the map."},
        {"tarnwickley_map_road_pieces", "Road pieces between junctions in the map."},
        {"tarnwickley_map_streets", "Named streets in the map."},
        {"tarnwickley_map_addresses", "Address points in the map."},
    }};
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        header(out, sizes[i].first, "gauge", sizes[i].second);
        out += std::string(sizes[i].first) + ' ' + std::to_string(m_mapSize[i].load()) + '\n';
    }

    header(out, "process_resident_memory_bytes", "gauge", "Resident memory size in bytes.");
    out += "process_resident_memory_bytes " + std::to_string(residentBytes()) + '\n';
    return out;
}

} // namespace tw::service
