#include "service/server/http_server.h"

#include "service/server/page_writer.h"

#include <httplib.h>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

namespace tw::service {

// The library's server, with a way to adopt a socket that is already listening
// (systemd socket activation): the listening socket is a protected member.
class HttpServer::Engine : public httplib::Server {
public:
    void adoptSocket(int fd) { svr_sock_ = fd; }

    // Closes a socket that was bound (or handed over) but never served.
    void closeUnserved()
    {
        if (!is_running()) {
            const int fd = svr_sock_.exchange(INVALID_SOCKET);
            if (fd != INVALID_SOCKET)
                ::close(fd);
        }
    }
};

namespace {

void send(httplib::Response& res, const Reply& reply)
{
    res.status = reply.status;
    if (!reply.location.empty())
        res.set_header("Location", reply.location);
    res.set_content(reply.body, "text/html; charset=utf-8");
}

void setProblem(httplib::Response& res, int status, std::string_view title, std::string_view sentence)
{
    send(res, {status, writeProblemPage(title, sentence), {}});
}

} // namespace

HttpServer::HttpServer(const DirectionsSite& site, RequestLog log)
    : m_engine(std::make_unique<Engine>())
{
    Engine& server = *m_engine;
    server.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    server.set_payload_max_length(kMaxBodyBytes);
    server.set_read_timeout(std::chrono::seconds(5));
    server.set_write_timeout(std::chrono::seconds(5));
    server.set_keep_alive_max_count(100);
    server.set_keep_alive_timeout(5);
    // SO_REUSEADDR only: the library's default also sets SO_REUSEPORT, which
    // lets a second service bind the same busy port and share its connections.
    server.set_socket_options([](int sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // Headers and body go out in separate writes; without TCP_NODELAY each
    // answer waits ~40 ms on the client's delayed acknowledgement.
    server.set_tcp_nodelay(true);
    server.set_default_headers({{"X-Content-Type-Options", "nosniff"}, {"Cache-Control", "no-store"}});

    server.Get("/dd", [&site](const httplib::Request& req, httplib::Response& res) {
        send(res, site.form(req.params));
    });
    server.Get("/dd_result", [&site](const httplib::Request& req, httplib::Response& res) {
        send(res, site.result(req.params));
    });
    server.Get("/", [](const httplib::Request&, httplib::Response& res) {
        send(res, {302, {}, "/dd"});
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty())
            return;
        switch (res.status) {
        case 404: setProblem(res, 404, "Not found", "There is no such page here. The directions form is at /dd."); break;
        case 413: setProblem(res, 413, "Too large", "The request is too large."); break;
        case 414: setProblem(res, 414, "Too long", "The address of the request is too long."); break;
        default: setProblem(res, res.status, "Bad request", "The request could not be understood."); break;
        }
    });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
        std::string what = "unknown error";
        try {
            if (ep)
                std::rethrow_exception(ep);
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        std::fprintf(stderr, "tarnwickley-directions: request failed: %s\n", what.c_str());
        setProblem(res, 500, "Server error", "The directions could not be made. Please try again.");
    });
    if (log == RequestLog::Stderr) {
        server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
            // The path only: the addresses people look up stay out of the log.
            std::fprintf(stderr, "%s %s %d\n", req.method.c_str(), req.path.c_str(), res.status);
        });
    }
}

HttpServer::~HttpServer()
{
    stop();
    m_engine->closeUnserved();
}

int HttpServer::bind(const std::string& host, int port)
{
    if (port == 0)
        return m_engine->bind_to_any_port(host);
    return m_engine->bind_to_port(host, port) ? port : -1;
}

void HttpServer::adopt(int listeningSocket)
{
    m_engine->adoptSocket(listeningSocket);
}

bool HttpServer::serve()
{
    m_serving = true;
    if (m_stopped) {
        m_serving = false;
        return true;
    }
    const bool ok = m_engine->listen_after_bind();
    m_serving = false;
    return ok;
}

void HttpServer::stop()
{
    m_stopped = true;
    // The library ignores stop() until its accept loop runs; wait for that.
    while (m_serving && !m_engine->is_running())
        std::this_thread::yield();
    m_engine->stop();
}

bool HttpServer::isRunning() const
{
    return m_engine->is_running();
}

} // namespace tw::service
