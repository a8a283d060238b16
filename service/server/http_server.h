#pragma once
// HttpServer: serves a DirectionsSite over HTTP/1.1 with Boost.Beast over
// Boost.Asio, event-driven, so that no thread ever waits on a slow or idle
// client.
//
// Contract:
// - One pool of threads, one per core, runs all socket work and the pages; a
//   connection costs a small object, not a thread. Requests on a connection are
//   answered in order (pipelining included).
// - Deadlines per connection: kIdleTimeout for the first byte of the next
//   request, kHeaderDeadline for a whole request (its header, however slowly it
//   trickles, and any body), kWriteDeadline for an answer a client will not read.
//   A connection past its deadline is closed.
// - Limits answered at once, with the connection closed: a header section over
//   kMaxHeaderBytes 431; a request target over kMaxTargetBytes 414, except a
//   GET or HEAD of /dd or /dd_result, which get the empty form (200) with a
//   notice that the addresses are too long (the application lands on its form
//   with a reason, never on a bare error); a body over kMaxBodyBytes 413;
//   methods other than GET and HEAD 405 with "Allow: GET, HEAD"; a malformed
//   request 400. After such an answer the rest of the request is read and thrown
//   away for a short while before the close, so that the client reads the
//   answer rather than a reset.
// - Pages: /dd and /dd_result from the site, / redirects to /dd, /healthz
//   (200 once setSite() has been called, 503 before), /metrics (Prometheus text
//   format). Until there is a site, /dd and /dd_result answer 503. Answers carry
//   nosniff and no-store; an exception in a page becomes 500, never a crash.
// - The request log (RequestLog::Stderr) holds method, path and status, never
//   the query: the addresses people look up stay out of the log.
// - bind() or adopt() first, then serve() blocks until stop() is called from
//   another thread (or a signal handler thread). Destroy the server only after
//   serve() has returned.

#include "service/server/directions_site.h"
#include "service/server/service_metrics.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace tw::service {

inline constexpr std::size_t kMaxTargetBytes = 8 * 1024;
inline constexpr std::size_t kMaxHeaderBytes = 16 * 1024; // request line and fields
inline constexpr std::size_t kMaxBodyBytes = 16 * 1024;
inline constexpr std::chrono::seconds kIdleTimeout{15};
inline constexpr std::chrono::seconds kHeaderDeadline{10};
inline constexpr std::chrono::seconds kWriteDeadline{10};

inline constexpr std::chrono::seconds kGraceTime{2};

enum class RequestLog { Stderr, Quiet };
enum class StopMode { Now, Graceful };

class HttpServer {
public:
    // A server with no site yet: /healthz answers 503 and the pages 503 until
    // setSite().
    explicit HttpServer(RequestLog log);
    // A server that serves `site` from the start; `site` must outlive it.
    HttpServer(const DirectionsSite& site, RequestLog log);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Starts serving `site` (which must outlive the server) and reports the map's
    // size in the metrics. Safe while serve() runs.
    void setSite(const DirectionsSite& site, const MapSize& size = {});

    // Binds and listens on host:port with the system's largest backlog; port 0
    // picks a free port. Returns the port bound, or -1 when the address cannot
    // be bound (in use, not local, not an address).
    int bind(const std::string& host, int port);

    // Serves on an already listening socket handed over by the service manager.
    void adopt(int listeningSocket);

    // Serves until stop(). Returns false when there was nothing to serve on.
    bool serve();

    // Makes serve() return; safe from any thread, also before serve() runs.
    // StopMode::Graceful first stops accepting, answers the requests under way
    // (closing their connections, so a load balancer sends the next ones
    // elsewhere) and returns once no connection is open, or after kGraceTime.
    void stop(StopMode mode = StopMode::Now);

    // Returns true once serve() is accepting connections.
    bool isRunning() const;

    const ServiceMetrics& metrics() const;

private:
    class Engine;
    std::unique_ptr<Engine> m_engine;
};

// Raises this process's limit of open files to the hard limit, so that many
// idle connections do not crowd out new ones. Returns the limit now in force.
long raiseOpenFileLimit();

} // namespace tw::service
