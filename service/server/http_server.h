#pragma once
// HttpServer: serves a DirectionsSite over HTTP with cpp-httplib.
//
// Contract:
// - A bounded pool of worker threads (kWorkerThreads) serves requests; reads and
//   writes time out, request bodies are capped (the pages take GET only) and
//   the request line is capped by the library (longer gets 414).
// - Every answer is text/html in UTF-8 with nosniff and no-store; any request
//   that fails gets a page that says what is wrong, never a crash: an exception
//   in a handler becomes 500.
// - bind() or adopt() first, then serve() blocks until stop() is called from
//   another thread (or a signal handler thread).

#include "service/server/directions_site.h"

#include <atomic>
#include <memory>
#include <string>

namespace tw::service {

inline constexpr std::size_t kWorkerThreads = 8;
inline constexpr std::size_t kMaxBodyBytes = 16 * 1024;

enum class RequestLog { Stderr, Quiet };

class HttpServer {
public:
    HttpServer(const DirectionsSite& site, RequestLog log);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and listens on host:port; port 0 picks a free port. Returns the
    // port bound, or -1 when the address cannot be bound (in use, not local,
    // not an address).
    int bind(const std::string& host, int port);

    // Serves on an already listening socket handed over by the service manager.
    void adopt(int listeningSocket);

    // Serves until stop(). Returns false when there was nothing to serve on.
    bool serve();

    // Makes serve() return; safe from any thread, also before serve() runs.
    void stop();

    // Returns true once serve() is accepting connections.
    bool isRunning() const;

private:
    class Engine;
    std::unique_ptr<Engine> m_engine;
    std::atomic<bool> m_serving{false};
    std::atomic<bool> m_stopped{false};
};

} // namespace tw::service
