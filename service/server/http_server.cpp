#include "service/server/http_server.h"

// After inlining, GCC's flow-based -Wnull-dereference flags Asio's scheduler (a
// thread-local pointer it cannot see being set); the finding is in the library.
#pragma GCC diagnostic ignored "-Wnull-dereference"

#include "service/server/directions_query.h"
#include "service/server/page_writer.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <sys/resource.h>
#include <sys/socket.h>

#include <array>
#include <climits>
#include <cstdio>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <string_view>
#include <thread>
#include <vector>

namespace tw::service {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

// How long, and how much, of an unread request is drained after a refusal
// before the connection closes.
constexpr std::chrono::seconds kLingerTime{3};
constexpr std::size_t kLingerBytes = 16 * 1024 * 1024;
// How long to wait before accepting again when the process is out of files.
constexpr std::chrono::milliseconds kAcceptPause{50};

constexpr std::string_view kTooLongNotice
    = "The addresses are too long. Please enter a shorter starting address and destination address.";
constexpr std::string_view kBrokenEscapeNotice
    = "The addresses could not be read: the request holds a broken %-escape. Please enter them again.";

Page pageOf(std::string_view path)
{
    if (path == "/dd")
        return Page::Form;
    if (path == "/dd_result")
        return Page::Result;
    if (path == "/")
        return Page::Root;
    if (path == "/healthz")
        return Page::Health;
    if (path == "/metrics")
        return Page::Metrics;
    return Page::Other;
}

// The path of a request target: everything before '?'.
std::string_view pathOf(std::string_view target)
{
    return target.substr(0, target.find('?'));
}

// What goes back for one request, before it is turned into HTTP.
struct Answer {
    int status = 200;
    std::string body;
    std::string location;
    const char* contentType = "text/html; charset=utf-8";
    bool close = false; // close the connection after this answer
    bool allow = false; // add "Allow: GET, HEAD"
    bool retryLater = false;
};

Answer problem(int status, std::string_view title, std::string_view sentence, bool close)
{
    Answer answer;
    answer.status = status;
    answer.body = writeProblemPage(title, sentence);
    answer.close = close;
    return answer;
}

Answer formWithNotice(std::string_view notice, bool close)
{
    FormPage page;
    page.notice = std::string(notice);
    Answer answer;
    answer.body = writeFormPage(page);
    answer.close = close;
    return answer;
}

// For the request log: at most 64 printable characters of a path.
std::string printablePath(std::string_view path)
{
    std::string out(path.substr(0, 64));
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7E)
            c = '?';
    }
    return out;
}

} // namespace

class HttpServer::Engine {
public:
    Engine(RequestLog log, const DirectionsSite* site)
        : m_metrics()
        , m_threads(std::max(1U, std::thread::hardware_concurrency()))
        , m_context(static_cast<int>(m_threads))
        , m_acceptor(net::make_strand(m_context))
        , m_acceptPause(m_acceptor.get_executor())
        , m_log(log)
        , m_site(site)
    {
        if (site)
            m_metrics.setMapSize({0, 0, site->geocoder().streetCount(), 0});
    }

    class Session;

    void accept();
    // The open connections, so that a graceful stop can close the idle ones.
    void remember(const std::shared_ptr<Session>& session);
    void forget(Session* session);
    void closeIdleSessions();
    std::mutex m_sessionsMutex;
    std::unordered_map<Session*, std::weak_ptr<Session>> m_sessions;

    Answer answer(const http::request<http::string_body>& request, Page page);

    // The metrics outlive the context: sessions still pending when the context
    // is destroyed count themselves out on the way.
    ServiceMetrics m_metrics;
    std::size_t m_threads;
    net::io_context m_context;
    tcp::acceptor m_acceptor;
    net::steady_timer m_acceptPause;
    RequestLog m_log;
    std::atomic<const DirectionsSite*> m_site;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stopped{false};
    std::atomic<bool> m_stopping{false}; // a graceful stop is under way
    net::steady_timer m_graceTimer{m_acceptor.get_executor()};

    // Stops the context once no connection is open or at `deadline`.
    void stopWhenQuiet(Clock::time_point deadline)
    {
        if (m_metrics.openConnections() == 0 || Clock::now() >= deadline) {
            m_context.stop();
            return;
        }
        m_graceTimer.expires_after(std::chrono::milliseconds(20));
        m_graceTimer.async_wait([this, deadline](beast::error_code) { stopWhenQuiet(deadline); });
    }
};

// One client connection: reads a request, answers it, and starts over, every
// step an asynchronous operation on the connection's strand.
class HttpServer::Engine::Session : public std::enable_shared_from_this<Session> {
public:
    Session(Engine& engine, tcp::socket&& socket)
        : m_engine(engine), m_stream(std::move(socket)), m_buffer(kMaxHeaderBytes + kMaxBodyBytes)
    {
        m_engine.m_metrics.connectionOpened();
    }
    ~Session()
    {
        m_engine.forget(this);
        m_engine.m_metrics.connectionClosed();
    }

    void start()
    {
        m_engine.remember(shared_from_this());
        beast::error_code ignored;
        m_stream.socket().set_option(tcp::no_delay(true), ignored);
        waitForRequest();
    }

    net::any_io_executor executor() { return m_stream.get_executor(); }

    // On its strand: closes the connection if it is waiting for a next request.
    void closeIfIdle()
    {
        if (m_idle)
            close();
    }

private:
    // Between requests: waits up to kIdleTimeout for a first byte. The byte
    // lands in a small array of the session, so an idle connection holds no
    // buffer.
    void waitForRequest()
    {
        if (m_buffer.size() > 0) {
            readHeader();
            return;
        }
        if (m_engine.m_stopping)
            return close(); // nothing unread: a plain close loses nothing
        m_idle = true;
        m_stream.expires_after(kIdleTimeout);
        m_stream.async_read_some(net::buffer(m_first),
                                 [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                                     self->onFirstBytes(ec, n);
                                 });
    }

    void onFirstBytes(beast::error_code ec, std::size_t n)
    {
        m_idle = false;
        if (ec)
            return close();
        m_buffer.commit(net::buffer_copy(m_buffer.prepare(n), net::buffer(m_first, n)));
        readHeader();
    }

    void readHeader()
    {
        m_started = Clock::now();
        m_parser.emplace();
        m_parser->header_limit(static_cast<std::uint32_t>(kMaxHeaderBytes));
        m_parser->body_limit(kMaxBodyBytes);
        // One deadline for the whole request, header and body.
        m_stream.expires_after(kHeaderDeadline);
        http::async_read_header(m_stream, m_buffer, *m_parser,
                                [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                    self->onHeader(ec);
                                });
    }

    void onHeader(beast::error_code ec)
    {
        if (ec == http::error::header_limit || ec == http::error::buffer_overflow)
            return headerTooLarge();
        if (ec == http::error::body_limit) { // a Content-Length over the limit
            m_path = pathOf(std::string_view(m_parser->get().target().data(), m_parser->get().target().size()));
            return send(pageOf(m_path), problem(413, "Too large", "The request is too large.", true));
        }
        if (ec) {
            // A request the parser refused gets 400; a closed, reset or timed-out
            // connection has no one left to answer.
            const bool malformed = ec.category() == beast::error_code(http::error::bad_method).category()
                && ec != http::error::end_of_stream && ec != http::error::partial_message;
            if (!malformed)
                return close();
            return send(Page::Other, problem(400, "Bad request", "The request could not be understood.", true));
        }

        const auto& request = m_parser->get();
        const std::string_view target(request.target().data(), request.target().size());
        m_path = pathOf(target);
        const Page page = pageOf(m_path);
        if (target.size() > kMaxTargetBytes)
            return send(page, targetTooLong(request.method(), m_path));
        if (m_parser->content_length() && *m_parser->content_length() > kMaxBodyBytes)
            return send(page, problem(413, "Too large", "The request is too large.", true));
        if (!m_parser->chunked() && request.count(http::field::transfer_encoding) > 0)
            return send(page, problem(400, "Bad request", "The request's transfer coding is not supported.", true));
        if (request.method() != http::verb::get && request.method() != http::verb::head) {
            Answer refused = problem(405, "Not allowed", "Only GET and HEAD are answered here.", true);
            refused.allow = true;
            return send(page, std::move(refused));
        }
        if (m_parser->is_done())
            return respond(page);
        // A body on GET is allowed but unused: read it within the request's deadline.
        http::async_read(m_stream, m_buffer, *m_parser,
                         [self = shared_from_this(), page](beast::error_code bodyError, std::size_t) {
                             if (bodyError == http::error::body_limit)
                                 return self->send(page, problem(413, "Too large", "The request is too large.", true));
                             if (bodyError)
                                 return self->close();
                             self->respond(page);
                         });
    }

    // The header section did not fit: either the request line itself is too
    // long (a huge target) or the fields are.
    void headerTooLarge()
    {
        // The parser keeps a request line it has read; one it could not finish
        // is still at the front of the buffer.
        const auto& request = m_parser->get();
        if (!request.method_string().empty()) {
            const std::string_view target(request.target().data(), request.target().size());
            m_path = pathOf(target);
            if (target.size() > kMaxTargetBytes)
                return send(pageOf(m_path), targetTooLong(request.method(), m_path));
            return send(pageOf(m_path), problem(431, "Too large", "The request's header fields are too large.", true));
        }
        const auto bytes = m_buffer.cdata();
        const std::string_view seen(static_cast<const char*>(bytes.data()), bytes.size());
        const std::string_view line = seen.substr(0, seen.find('\n'));
        const std::size_t space = line.find(' ');
        const std::string_view method = line.substr(0, space);
        const std::string_view rest = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
        const std::string_view target = rest.substr(0, rest.find(' '));
        m_path = pathOf(target);
        const Page page = pageOf(m_path);
        send(page, targetTooLong(http::string_to_verb(beast::string_view(method.data(), method.size())), m_path));
    }

    static Answer targetTooLong(http::verb method, std::string_view path)
    {
        const Page page = pageOf(path);
        if ((method == http::verb::get || method == http::verb::head) && (page == Page::Form || page == Page::Result))
            return formWithNotice(kTooLongNotice, true);
        return problem(414, "Too long", "The address of the request is too long.", true);
    }

    void respond(Page page)
    {
        Answer reply;
        try {
            reply = m_engine.answer(m_parser->get(), page);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "tarnwickley-directions: request failed: %s\n", e.what());
            reply = problem(500, "Server error", "The directions could not be made. Please try again.", false);
        }
        send(page, std::move(reply));
    }

    void send(Page page, Answer answer)
    {
        const bool head = m_parser && m_parser->is_header_done() && m_parser->get().method() == http::verb::head;
        const bool keepAlive = !answer.close && !m_engine.m_stopping && m_parser && m_parser->is_header_done() && m_parser->get().keep_alive();
        m_page = page;
        m_response = {};
        m_response.version(11);
        m_response.result(static_cast<unsigned>(answer.status));
        m_response.set(http::field::content_type, answer.contentType);
        m_response.set("X-Content-Type-Options", "nosniff");
        m_response.set(http::field::cache_control, "no-store");
        if (!answer.location.empty())
            m_response.set(http::field::location, answer.location);
        if (answer.allow)
            m_response.set(http::field::allow, "GET, HEAD");
        if (answer.retryLater)
            m_response.set(http::field::retry_after, "5");
        m_response.keep_alive(keepAlive);
        m_response.content_length(answer.body.size());
        if (!head)
            m_response.body() = std::move(answer.body);
        m_stream.expires_after(kWriteDeadline);
        http::async_write(m_stream, m_response,
                          [self = shared_from_this(), keepAlive](beast::error_code ec, std::size_t) {
                              self->onWritten(ec, keepAlive);
                          });
    }

    void onWritten(beast::error_code ec, bool keepAlive)
    {
        const int status = static_cast<int>(m_response.result_int());
        m_engine.m_metrics.recordRequest(m_page, status, Clock::now() - m_started);
        if (m_engine.m_log == RequestLog::Stderr) {
            const char* method = m_parser && m_parser->is_header_done() ? m_parser->get().method_string().data() : "-";
            const int methodLength = m_parser && m_parser->is_header_done() ? static_cast<int>(m_parser->get().method_string().size()) : 1;
            std::fprintf(stderr, "%.*s %s %d\n", methodLength, method, printablePath(m_path).c_str(), status);
        }
        m_response = {};
        m_parser.reset();
        m_path = {};
        if (ec)
            return close();
        if (!keepAlive)
            return lingeringClose();
        if (m_buffer.size() == 0)
            m_buffer.shrink_to_fit();
        waitForRequest();
    }

    // Ends the sending side and reads, for a short while, whatever the client
    // still sends, so that its unread request does not turn the close into a
    // reset that destroys the answer before the client reads it.
    void lingeringClose()
    {
        beast::error_code ignored;
        m_stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
        m_buffer.clear();
        m_buffer.shrink_to_fit();
        m_stream.expires_after(kLingerTime);
        drain();
    }

    void drain()
    {
        m_stream.async_read_some(m_buffer.prepare(4096), [self = shared_from_this()](beast::error_code ec, std::size_t n) {
            self->m_drained += n;
            if (ec || self->m_drained > kLingerBytes)
                return self->close();
            self->drain();
        });
    }

    void close()
    {
        beast::error_code ignored;
        m_stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
        m_stream.close();
    }

    Engine& m_engine;
    beast::tcp_stream m_stream;
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::string_body>> m_parser;
    http::response<http::string_body> m_response;
    std::array<char, 512> m_first{};
    Clock::time_point m_started;
    std::string_view m_path; // into the parser's target or the buffer; valid until the answer is written
    Page m_page = Page::Other;
    std::size_t m_drained = 0;
    bool m_idle = false; // waiting for the first byte of a request
};

void HttpServer::Engine::remember(const std::shared_ptr<Session>& session)
{
    const std::lock_guard lock(m_sessionsMutex);
    m_sessions.emplace(session.get(), session);
}

void HttpServer::Engine::forget(Session* session)
{
    const std::lock_guard lock(m_sessionsMutex);
    m_sessions.erase(session);
}

void HttpServer::Engine::closeIdleSessions()
{
    // Taken out under the lock, posted after it: a session may end (and take
    // the lock to forget itself) as soon as its last reference here goes.
    std::vector<std::shared_ptr<Session>> open;
    {
        const std::lock_guard lock(m_sessionsMutex);
        for (const auto& [key, weak] : m_sessions) {
            if (auto session = weak.lock())
                open.push_back(std::move(session));
        }
    }
    for (auto& session : open)
        net::post(session->executor(), [session] { session->closeIfIdle(); });
}

void HttpServer::Engine::accept()
{
    m_acceptor.async_accept(net::make_strand(m_context), [this](beast::error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted || !m_acceptor.is_open())
            return;
        if (!ec) {
            std::make_shared<Session>(*this, std::move(socket))->start();
            accept();
            return;
        }
        // Out of files or memory: the connections already open will end and free
        // some; accepting again at once would only spin.
        m_acceptPause.expires_after(kAcceptPause);
        m_acceptPause.async_wait([this](beast::error_code) { accept(); });
    });
}

Answer HttpServer::Engine::answer(const http::request<http::string_body>& request, Page page)
{
    const DirectionsSite* site = m_site.load();
    const std::string_view target(request.target().data(), request.target().size());
    switch (page) {
    case Page::Root: {
        Answer answer;
        answer.status = 302;
        answer.location = "/dd";
        return answer;
    }
    case Page::Health: {
        Answer answer;
        answer.contentType = "text/plain; charset=utf-8";
        answer.status = site ? 200 : 503;
        answer.body = site ? "ok\n" : "loading the map\n";
        answer.retryLater = site == nullptr;
        return answer;
    }
    case Page::Metrics: {
        Answer answer;
        answer.contentType = "text/plain; version=0.0.4; charset=utf-8";
        answer.body = m_metrics.render();
        return answer;
    }
    case Page::Other:
        return problem(404, "Not found", "There is no such page here. The directions form is at /dd.", false);
    case Page::Form:
    case Page::Result:
        break;
    }
    if (!site) {
        Answer answer = problem(503, "Starting", "The directions service is still loading its map. Please try again in a moment.", false);
        answer.retryLater = true;
        return answer;
    }
    const std::size_t question = target.find('?');
    const auto params = parseQueryString(question == std::string_view::npos ? std::string_view() : target.substr(question + 1));
    if (!params)
        return formWithNotice(kBrokenEscapeNotice, false);
    const Reply reply = page == Page::Form ? site->form(*params) : site->result(*params);
    for (const GeocodeStatus lookup : reply.lookups)
        m_metrics.recordGeocode(lookup);
    Answer answer;
    answer.status = reply.status;
    answer.body = reply.body;
    answer.location = reply.location;
    return answer;
}

HttpServer::HttpServer(RequestLog log)
    : m_engine(std::make_unique<Engine>(log, nullptr))
{
}

HttpServer::HttpServer(const DirectionsSite& site, RequestLog log)
    : m_engine(std::make_unique<Engine>(log, &site))
{
}

HttpServer::~HttpServer()
{
    stop();
}

void HttpServer::setSite(const DirectionsSite& site, const MapSize& size)
{
    MapSize reported = size;
    if (reported.streets == 0)
        reported.streets = site.geocoder().streetCount();
    m_engine->m_metrics.setMapSize(reported);
    m_engine->m_site = &site;
}

int HttpServer::bind(const std::string& host, int port)
{
    try {
        tcp::resolver resolver(m_engine->m_context);
        const auto found = resolver.resolve(host, std::to_string(port), tcp::resolver::passive);
        if (found.empty())
            return -1;
        const tcp::endpoint endpoint = found.begin()->endpoint();
        tcp::acceptor& acceptor = m_engine->m_acceptor;
        acceptor.open(endpoint.protocol());
        // SO_REUSEADDR only, never SO_REUSEPORT: a second service must not be
        // able to bind a busy port and share its connections.
        acceptor.set_option(net::socket_base::reuse_address(true));
        acceptor.bind(endpoint);
        // The kernel caps the backlog at its own maximum (net.core.somaxconn).
        acceptor.listen(INT_MAX);
        return acceptor.local_endpoint().port();
    } catch (const std::exception&) {
        beast::error_code ignored;
        m_engine->m_acceptor.close(ignored);
        return -1;
    }
}

void HttpServer::adopt(int listeningSocket)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ::getsockname(listeningSocket, reinterpret_cast<sockaddr*>(&address), &length);
    beast::error_code ec;
    m_engine->m_acceptor.assign(address.ss_family == AF_INET6 ? tcp::v6() : tcp::v4(), listeningSocket, ec);
}

bool HttpServer::serve()
{
    Engine& engine = *m_engine;
    if (!engine.m_acceptor.is_open())
        return false;
    if (engine.m_stopped)
        return true;
    net::post(engine.m_acceptor.get_executor(), [&engine] { engine.accept(); });
    engine.m_running = true;
    std::vector<std::thread> pool;
    for (std::size_t i = 1; i < engine.m_threads; ++i)
        pool.emplace_back([&engine] { engine.m_context.run(); });
    engine.m_context.run();
    for (auto& thread : pool)
        thread.join();
    engine.m_running = false;
    return true;
}

void HttpServer::stop(StopMode mode)
{
    Engine& engine = *m_engine;
    if (mode == StopMode::Graceful && engine.m_running && !engine.m_stopping.exchange(true)) {
        net::post(engine.m_acceptor.get_executor(), [&engine] {
            beast::error_code ignored;
            engine.m_acceptor.close(ignored);
            engine.closeIdleSessions();
            engine.stopWhenQuiet(Clock::now() + kGraceTime);
        });
        return;
    }
    engine.m_stopped = true;
    engine.m_context.stop();
}

bool HttpServer::isRunning() const
{
    return m_engine->m_running;
}

const ServiceMetrics& HttpServer::metrics() const
{
    return m_engine->m_metrics;
}

long raiseOpenFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    return limit.rlim_cur == RLIM_INFINITY ? LONG_MAX : static_cast<long>(limit.rlim_cur);
}

} // namespace tw::service
