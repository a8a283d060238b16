// The service over real loopback HTTP: odd and hostile requests get an answer
// and a close at once, slow and idle clients starve no one, pipelined requests
// are all answered, and /healthz and /metrics report the service's state.

#include "service/server/http_server.h"
#include "tests/service/server/site_town.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <sstream>
#include <thread>
#include <tuple>

namespace tw::service {
namespace {

using Clock = std::chrono::steady_clock;

// A client socket on a loopback port; every read gives up after 5 s.
class Client {
public:
    explicit Client(int port) : m_fd(::socket(AF_INET, SOCK_STREAM, 0))
    {
        timeval timeout{5, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { ::close(m_fd); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool connected() const { return m_connected; }

    void send(const std::string& bytes)
    {
        for (std::size_t sent = 0; sent < bytes.size();) {
            const ssize_t n = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return; // the server may refuse before reading everything
            sent += static_cast<std::size_t>(n);
        }
    }

    // Reads one answer (header and Content-Length bytes). Returns its status
    // (0 when the connection ended first) and the answer.
    std::pair<int, std::string> readAnswer()
    {
        for (;;) {
            const std::size_t headerEnd = m_pending.find("\r\n\r\n");
            if (headerEnd != std::string::npos) {
                const std::size_t length = m_pending.find("Content-Length: ");
                const std::size_t total = headerEnd + 4
                    + (length < headerEnd ? std::stoul(m_pending.substr(length + 16)) : 0);
                if (m_pending.size() >= total && m_pending.rfind("HTTP/1.1 ", 0) == 0) {
                    std::string answer = m_pending.substr(0, total);
                    m_pending.erase(0, total);
                    return {std::atoi(answer.c_str() + 9), answer};
                }
            }
            if (!readSome())
                return {0, std::exchange(m_pending, {})};
        }
    }

    // Returns true when the server has closed the connection (nothing more comes).
    bool closedByServer()
    {
        while (readSome()) {
        }
        return m_pending.empty() && m_ended;
    }

private:
    bool readSome()
    {
        char buffer[16384];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            m_pending.append(buffer, static_cast<std::size_t>(n));
            return true;
        }
        m_ended = n == 0 || errno == ECONNRESET;
        return false;
    }

    int m_fd;
    bool m_connected = false;
    bool m_ended = false;
    std::string m_pending;
};

std::string getRequest(const std::string& target, const char* connection = "close")
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: " + connection + "\r\n\r\n";
}

class HttpServerTest : public ::testing::Test {
protected:
    void SetUp() override { start(); }
    void TearDown() override
    {
        m_server->stop();
        if (m_thread.joinable())
            m_thread.join();
    }

    void start()
    {
        m_port = m_server->bind("127.0.0.1", 0);
        ASSERT_GT(m_port, 0);
        m_thread = std::thread([this] { m_server->serve(); });
    }

    std::pair<int, std::string> get(const std::string& target)
    {
        Client client(m_port);
        client.send(getRequest(target));
        return client.readAnswer();
    }

    RoadMap m_map = test::siteTown();
    DirectionsSite m_site{m_map};
    std::unique_ptr<HttpServer> m_server = std::make_unique<HttpServer>(m_site, RequestLog::Quiet);
    int m_port = 0;
    std::thread m_thread;
};

const std::string kGoodQuery = "addr=103+Main+St&csz=Testville+QZ+11111&taddr=15+Oak+Ave&tcsz=++&getrte=Get+Directions";

TEST_F(HttpServerTest, anyQueryGetsAnAnswerNeverACrash)
{
    struct Case {
        const char* name;
        std::string target;
        int status;
        const char* bodyPart;
    };
    const Case cases[] = {
        {"form", "/dd", 200, "<form name=\"dd\" action=\"/dd_result\" method=\"get\">"},
        {"directions", "/dd_result?" + kGoodQuery, 200, "Start at"},
        {"root", "/", 302, ""},
        {"no query", "/dd_result", 302, ""},
        {"empty query", "/dd_result?", 302, ""},
        {"NUL", "/dd_result?addr=1%00Main&taddr=x", 302, "control character"},
        {"invalid UTF-8", "/dd_result?addr=%ff%fe%fd", 302, "not valid UTF-8"},
        {"raw high bytes", "/dd_result?addr=\xc3\x28", 302, "not valid UTF-8"},
        {"repeated", "/dd_result?addr=1+A&addr=2+B", 302, "more than once"},
        {"broken escape", "/dd_result?addr=%zz%&taddr=%", 200, "broken %-escape"},
        {"equals in a value", "/dd?addr=335+1st+Street=x&taddr=y", 200, "value=\"335 1st Street=x\""},
        {"long field", "/dd_result?addr=" + std::string(300, 'a'), 302, "too long"},
        {"long multibyte field", "/dd_result?addr=" + [] { std::string s; for (int i = 0; i < 150; ++i) s += "%C3%A9"; return s; }(), 302, "too long"},
        {"markup", "/dd?addr=%3Cscript%3Ealert(1)%3C/script%3E&taddr=x", 200, "&lt;script&gt;"},
        {"unknown page", "/dd_resultx", 404, "no such page"},
        {"path traversal", "/../../etc/passwd", 404, ""},
        // The longest addresses the application can send come back to the form.
        {"target over the limit", "/dd_result?addr=" + std::string(kMaxTargetBytes + 100, 'a'), 200, "addresses are too long"},
        {"1 MB target", "/dd_result?addr=" + std::string(1 << 20, 'a'), 200, "addresses are too long"},
        {"1 MB target, other page", "/x?" + std::string(1 << 20, 'a'), 414, "too long"},
    };
    for (const auto& c : cases) {
        auto [status, answer] = get(c.target);
        EXPECT_EQ(status, c.status) << c.name << "\n" << answer.size() << answer.substr(0, 300);
        if (status == 302 && c.target.rfind("/dd_result?", 0) == 0) {
            // A refused search goes back to the form, which answers and says why.
            const auto at = answer.find("Location: ");
            ASSERT_NE(at, std::string::npos) << c.name;
            const std::string location = answer.substr(at + 10, answer.find("\r\n", at) - at - 10);
            ASSERT_EQ(location.rfind("/dd?", 0), 0U) << c.name << ": " << location;
            EXPECT_LT(location.size(), 2048U) << c.name;
            std::tie(status, answer) = get(location);
            EXPECT_EQ(status, 200) << c.name << ": " << location;
        }
        EXPECT_NE(answer.find(c.bodyPart), std::string::npos) << c.name;
        EXPECT_EQ(answer.find("<script>"), std::string::npos) << c.name;
    }
    EXPECT_EQ(get("/dd").first, 200);
}

TEST_F(HttpServerTest, refusalsAreAnsweredAtOnceAndClosed)
{
    struct Case {
        const char* name;
        std::string request;
        int status;
    };
    std::string manyHeaders = "GET /dd HTTP/1.1\r\n";
    for (int i = 0; i < 100000; ++i)
        manyHeaders += "X: y\r\n";
    const Case cases[] = {
        {"garbage", "\x01\x02\x03 nonsense\r\n\r\n", 400},
        {"no version", "GET /dd\r\n\r\n", 400},
        {"bare LF", "GET /dd HTTP/1.1\nHost: x\n\n", 400},
        {"space in a header name", "GET /dd HTTP/1.1\r\nBad Name: x\r\n\r\n", 400},
        {"length and chunked", "POST /dd HTTP/1.1\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400},
        {"two lengths", "GET /dd HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\nhello!", 400},
        {"unknown coding", "GET /dd HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n", 400},
        {"huge header", "GET /dd HTTP/1.1\r\nX: " + std::string(100000, 'x') + "\r\n\r\n", 431},
        {"100,000 headers", manyHeaders, 431},
        {"1 GB body announced", "POST /dd_result HTTP/1.1\r\nContent-Length: 1000000000\r\n\r\n", 413},
        {"post", "POST /dd_result HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", 405},
        {"delete", "DELETE /dd HTTP/1.1\r\n\r\n", 405},
    };
    for (const auto& c : cases) {
        const auto started = Clock::now();
        Client client(m_port);
        client.send(c.request);
        const auto [status, answer] = client.readAnswer();
        EXPECT_EQ(status, c.status) << c.name << "\n" << answer.substr(0, 200);
        EXPECT_TRUE(client.closedByServer()) << c.name;
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(2)) << c.name;
        if (c.status == 405) {
            EXPECT_NE(answer.find("\r\nAllow: GET, HEAD\r\n"), std::string::npos) << answer;
        }
    }
    EXPECT_EQ(get("/dd").first, 200);
}

TEST_F(HttpServerTest, pipelinedRequestsAreAllAnsweredInOrder)
{
    Client client(m_port);
    client.send(getRequest("/dd", "keep-alive") + getRequest("/healthz", "keep-alive"));
    const auto [first, form] = client.readAnswer();
    const auto [second, health] = client.readAnswer();
    EXPECT_EQ(first, 200);
    EXPECT_NE(form.find("name=\"getrte\""), std::string::npos);
    EXPECT_EQ(second, 200);
    EXPECT_NE(health.find("\r\n\r\nok"), std::string::npos);

    std::string many;
    for (int i = 0; i < 150; ++i)
        many += getRequest("/dd_result?" + kGoodQuery, i == 149 ? "close" : "keep-alive");
    client.send(many);
    int answered = 0;
    while (client.readAnswer().first == 200)
        ++answered;
    EXPECT_EQ(answered, 150);
}

TEST_F(HttpServerTest, slowAndIdleClientsStarveNoOne)
{
    std::vector<std::unique_ptr<Client>> held;
    for (int i = 0; i < 500; ++i)
        held.push_back(std::make_unique<Client>(m_port));
    for (int i = 0; i < 50; ++i) {
        held.push_back(std::make_unique<Client>(m_port));
        held.back()->send("GET /dd HTTP/1.1\r\nX: "); // a request that trickles in
    }
    for (const auto& client : held)
        ASSERT_TRUE(client->connected());
    const auto started = Clock::now();
    const auto [status, answer] = get("/dd_result?" + kGoodQuery);
    EXPECT_EQ(status, 200);
    EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(100));
}

TEST_F(HttpServerTest, manyClientsAtOnceAreAllAnswered)
{
    constexpr int kThreads = 8;
    constexpr int kRequestsEach = 25;
    std::atomic<int> directions{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < kThreads; ++t) {
        clients.emplace_back([&, t] {
            Client client(m_port);
            for (int i = 0; i < kRequestsEach; ++i) {
                const std::string target = "/dd_result?addr=" + std::to_string(101 + 2 * (i % 10))
                    + "%20Main%20St&csz=&taddr=" + std::to_string(1 + 2 * (t % 10)) + "%20Oak%20Ave&tcsz=";
                client.send(getRequest(target, "keep-alive"));
                const auto [status, answer] = client.readAnswer();
                if (status == 200 && answer.find("Start at") != std::string::npos)
                    ++directions;
            }
        });
    }
    for (auto& c : clients)
        c.join();
    EXPECT_EQ(directions.load(), kThreads * kRequestsEach);
}

TEST_F(HttpServerTest, metricsAreExpositionTextAndCountRequests)
{
    const auto requestsOnForm = [this] {
        const std::string text = get("/metrics").second;
        const std::string name = "tarnwickley_http_requests_total{page=\"dd\",status=\"200\"} ";
        const std::size_t at = text.find(name);
        return at == std::string::npos ? 0L : std::stol(text.substr(at + name.size()));
    };
    const long before = requestsOnForm();
    get("/dd");
    get("/dd_result?" + kGoodQuery);
    EXPECT_EQ(requestsOnForm(), before + 1);

    const auto [status, answer] = get("/metrics");
    ASSERT_EQ(status, 200);
    EXPECT_NE(answer.find("Content-Type: text/plain; version=0.0.4"), std::string::npos);
    const std::regex comment(R"(# (HELP [a-zA-Z_:][a-zA-Z0-9_:]* .+|TYPE [a-zA-Z_:][a-zA-Z0-9_:]* (counter|gauge|histogram)))");
    const std::regex sample(R"([a-zA-Z_:][a-zA-Z0-9_:]*(\{[a-zA-Z_]\w*="[^"\\\n]*"(,[a-zA-Z_]\w*="[^"\\\n]*")*\})? ([-+0-9.eE]+|\+Inf))");
    std::istringstream lines(answer.substr(answer.find("\r\n\r\n") + 4));
    int samples = 0;
    for (std::string line; std::getline(lines, line);) {
        const bool isComment = line.rfind('#', 0) == 0;
        EXPECT_TRUE(std::regex_match(line, isComment ? comment : sample)) << line;
        samples += isComment ? 0 : 1;
    }
    EXPECT_GT(samples, 20);
    for (const char* needed : {"tarnwickley_http_request_duration_seconds_bucket{le=\"+Inf\"}",
                               "tarnwickley_geocode_total{outcome=\"found\"} 2", "tarnwickley_open_connections ",
                               "tarnwickley_map_streets 5"})
        EXPECT_NE(answer.find(needed), std::string::npos) << needed;
}

TEST_F(HttpServerTest, healthTurnsGoodWhenTheMapIsSet)
{
    TearDown();
    m_server = std::make_unique<HttpServer>(RequestLog::Quiet);
    start();
    EXPECT_EQ(get("/healthz").first, 503);
    EXPECT_EQ(get("/dd").first, 503);
    m_server->setSite(m_site);
    EXPECT_EQ(get("/healthz").first, 200);
    EXPECT_EQ(get("/dd").first, 200);
}

TEST_F(HttpServerTest, gracefulStopAnswersThenClosesIdleConnections)
{
    std::vector<std::unique_ptr<Client>> idle;
    for (int i = 0; i < 20; ++i) {
        idle.push_back(std::make_unique<Client>(m_port));
        idle.back()->send(getRequest("/healthz", "keep-alive"));
        EXPECT_EQ(idle.back()->readAnswer().first, 200);
    }
    const auto started = Clock::now();
    m_server->stop(StopMode::Graceful);
    m_thread.join();
    EXPECT_LT(Clock::now() - started, kGraceTime);
    for (const auto& client : idle)
        EXPECT_TRUE(client->closedByServer());
}

TEST(HttpServer, servesOnASocketHandedOver)
{
    // What systemd socket activation hands over: a socket already listening.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(fd, 16), 0);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    const int port = ntohs(address.sin_port);

    RoadMap map = test::siteTown();
    DirectionsSite site(map);
    HttpServer server(site, RequestLog::Quiet);
    server.adopt(fd);
    std::thread serving([&] { server.serve(); });
    Client client(port);
    client.send(getRequest("/dd"));
    const auto [status, answer] = client.readAnswer();
    server.stop();
    serving.join();
    EXPECT_EQ(status, 200);
    EXPECT_NE(answer.find("name=\"getrte\""), std::string::npos);
}

TEST(HttpServer, busyPortIsReportedNotThrown)
{
    RoadMap map = test::siteTown();
    DirectionsSite site(map);
    HttpServer first(site, RequestLog::Quiet);
    const int port = first.bind("127.0.0.1", 0);
    ASSERT_GT(port, 0);
    HttpServer second(site, RequestLog::Quiet);
    EXPECT_EQ(second.bind("127.0.0.1", port), -1);
    EXPECT_EQ(second.bind("not an address", 1), -1);
}

} // namespace
} // namespace tw::service
