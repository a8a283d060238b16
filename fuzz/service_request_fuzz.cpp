// Any bytes as an HTTP request to the directions service, through the real
// server on a loopback port: the library's parser, the limits, the query
// parser, the pages. The first byte picks how the rest is sent: odd, as the
// whole request; even, as the query of a GET /dd_result (so that the fuzzer
// reaches the pages without first finding HTTP's syntax). Nothing may crash,
// leak or hang, every answer must be HTTP/1.1, and no answer may carry a raw
// "<script" from the input.

#include "service/server/http_server.h"
#include "tests/service/server/site_town.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

using namespace tw::service;

namespace {

int serverPort()
{
    // Made once and never destroyed: the serving thread runs until the process
    // ends, so nothing it uses may be torn down by static destructors at exit.
    static const RoadMap& map = *new RoadMap(test::siteTown());
    static const DirectionsSite& site = *new DirectionsSite(map);
    static HttpServer& server = *new HttpServer(site, RequestLog::Quiet);
    static const int port = [] {
        const int bound = server.bind("127.0.0.1", 0);
        std::thread([] { server.serve(); }).detach();
        while (!server.isRunning())
            std::this_thread::yield();
        return bound;
    }();
    return port;
}

// Sends `request`, ends the sending side and returns everything the server
// writes until it closes.
std::string exchange(const std::string& request)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval timeout{15, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(serverPort()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        std::abort();
    for (std::size_t sent = 0; sent < request.size();) {
        const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<std::size_t>(n);
    }
    ::shutdown(fd, SHUT_WR);
    std::string answer;
    char buffer[16384];
    ssize_t n = 0;
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
        answer.append(buffer, static_cast<std::size_t>(n));
    const bool timedOut = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    ::close(fd);
    if (timedOut)
        std::abort(); // the server neither answered nor closed
    return answer;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string request = (data[0] & 1U) != 0
        ? rest
        : "GET /dd_result?" + rest + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    const std::string answer = exchange(request);
    if (!answer.empty() && answer.rfind("HTTP/1.1 ", 0) != 0)
        std::abort();
    if (answer.find("<script") != std::string::npos)
        std::abort();
    return 0;
}
