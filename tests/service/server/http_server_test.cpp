// The service over real loopback HTTP: odd and hostile requests get a 4xx or a
// page that says what is wrong, and many clients at once are all answered.

#include "service/server/http_server.h"
#include "tests/service/server/site_town.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <tuple>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace tw::service {
namespace {

// Sends `request` byte for byte and returns the status code (0 when no answer)
// and the whole answer.
std::pair<int, std::string> rawRequest(int port, const std::string& request)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return {0, "connect failed: " + std::to_string(errno)};
    }
    std::size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<std::size_t>(n);
    }
    std::string answer;
    char buffer[4096];
    // Read one whole answer (headers and Content-Length bytes), not until the
    // server gives up on a kept-alive connection.
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        answer.append(buffer, static_cast<std::size_t>(n));
        const std::size_t headerEnd = answer.find("\r\n\r\n");
        const std::size_t length = answer.find("Content-Length: ");
        if (headerEnd != std::string::npos && length != std::string::npos && length < headerEnd
            && answer.size() >= headerEnd + 4 + std::stoul(answer.substr(length + 16)))
            break;
    }
    ::close(fd);
    if (answer.rfind("HTTP/1.1 ", 0) != 0)
        return {0, answer};
    return {std::atoi(answer.c_str() + 9), answer};
}

class HttpServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_port = m_server.bind("127.0.0.1", 0);
        ASSERT_GT(m_port, 0);
        m_thread = std::thread([this] { m_server.serve(); });
    }
    void TearDown() override
    {
        m_server.stop();
        if (m_thread.joinable())
            m_thread.join();
    }

    std::pair<int, std::string> get(const std::string& target)
    {
        return rawRequest(m_port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    }

    RoadMap m_map = test::siteTown();
    DirectionsSite m_site{m_map};
    HttpServer m_server{m_site, RequestLog::Quiet};
    int m_port = 0;
    std::thread m_thread;
};

TEST_F(HttpServerTest, anyQueryGetsAnAnswerNeverACrash)
{
    const std::string good = "addr=103+Main+St&csz=Testville+QZ+11111&taddr=15+Oak+Ave&tcsz=++&getrte=Get+Directions";
    struct Case {
        const char* name;
        std::string target;
        int status;
        const char* bodyPart;
    };
    const Case cases[] = {
        {"form", "/dd", 200, "<form name=\"dd\" action=\"/dd_result\" method=\"get\">"},
        {"directions", "/dd_result?" + good, 200, "Start at"},
        {"root", "/", 302, ""},
        {"no query", "/dd_result", 302, ""},
        {"empty query", "/dd_result?", 302, ""},
        {"NUL", "/dd_result?addr=1%00Main&taddr=x", 302, "control character"},
        {"invalid UTF-8", "/dd_result?addr=%ff%fe%fd", 302, "not valid UTF-8"},
        {"raw high bytes", "/dd_result?addr=\xc3\x28", 302, "not valid UTF-8"},
        {"repeated", "/dd_result?addr=1+A&addr=2+B", 302, "more than once"},
        {"broken escape", "/dd_result?addr=%zz%&taddr=%", 302, ""},
        {"long field", "/dd_result?addr=" + std::string(300, 'a'), 302, "too long"},
        {"long multibyte field", "/dd_result?addr=" + [] { std::string s; for (int i = 0; i < 150; ++i) s += "%C3%A9"; return s; }(), 302, "too long"},
        {"markup", "/dd?addr=%3Cscript%3Ealert(1)%3C/script%3E&taddr=x", 200, "&lt;script&gt;"},
        {"unknown page", "/dd_resultx", 404, "no such page"},
        {"path traversal", "/../../etc/passwd", 404, ""},
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
    // A 1 MB request line is refused after its first 8 KB; the refusal may be
    // lost in the reset of the unread rest, but the server answers on.
    const int huge = get("/dd_result?addr=" + std::string(1 << 20, 'a')).first;
    EXPECT_TRUE(huge == 414 || huge == 0) << huge;
    // The server is still there after all of that.
    EXPECT_EQ(get("/dd").first, 200);
}

TEST_F(HttpServerTest, malformedRequestsAreRefused)
{
    struct Case {
        const char* name;
        std::string request;
    };
    const Case cases[] = {
        {"garbage", "\x01\x02\x03 nonsense\r\n\r\n"},
        {"no version", "GET /dd\r\n\r\n"},
        {"huge header", "GET /dd HTTP/1.1\r\nX: " + std::string(100000, 'x') + "\r\n\r\n"},
        {"big body", "POST /dd HTTP/1.1\r\nContent-Length: 10000000\r\n\r\n" + std::string(100000, 'x')},
        {"post", "POST /dd_result HTTP/1.1\r\nContent-Length: 3\r\nConnection: close\r\n\r\nabc"},
    };
    for (const auto& c : cases) {
        const auto [status, answer] = rawRequest(m_port, c.request);
        EXPECT_TRUE(status == 0 || (status >= 400 && status < 500)) << c.name << ": " << status;
    }
    EXPECT_EQ(get("/dd").first, 200);
}

TEST_F(HttpServerTest, answersManyClientsAtOnce)
{
    constexpr int kThreads = 8;
    constexpr int kRequestsEach = 25;
    std::atomic<int> directions{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < kThreads; ++t) {
        clients.emplace_back([&, t] {
            httplib::Client client("127.0.0.1", m_port);
            client.set_keep_alive(t % 2 == 0);
            for (int i = 0; i < kRequestsEach; ++i) {
                const std::string target = "/dd_result?addr=" + std::to_string(101 + 2 * (i % 10))
                    + "%20Main%20St&csz=&taddr=" + std::to_string(1 + 2 * (t % 10)) + "%20Oak%20Ave&tcsz=";
                const auto res = client.Get(target);
                if (res && res->status == 200 && res->body.find("Start at") != std::string::npos)
                    ++directions;
                else if (i == 0)
                    ADD_FAILURE() << "thread " << t << ": " << (res ? std::to_string(res->status) : httplib::to_string(res.error()));
            }
        });
    }
    for (auto& c : clients)
        c.join();
    EXPECT_EQ(directions.load(), kThreads * kRequestsEach);
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
    const auto [status, answer] = rawRequest(port, "GET /dd HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
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
