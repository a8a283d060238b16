#include "service/server/lease_watch.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tw::service {

namespace {

constexpr char kStopByte = 's';
constexpr char kReadyByte = 'r';
constexpr char kReadyLine[] = "ready\n";

void tellReady(int lease)
{
    // Six bytes into an empty socket buffer: a short or failed write only means
    // the application has gone, which its EOF will say.
    [[maybe_unused]] const ssize_t written = ::send(lease, kReadyLine, sizeof kReadyLine - 1, MSG_NOSIGNAL);
}

std::string systemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

} // namespace

LeaseWatch::~LeaseWatch()
{
    if (m_thread.joinable()) {
        [[maybe_unused]] const ssize_t written = ::write(m_wake[1], &kStopByte, 1);
        m_thread.join();
    }
    removeSocketFile();
    for (const int fd : { m_listener, m_wake[0], m_wake[1], m_lockFile }) {
        if (fd >= 0)
            ::close(fd);
    }
}

bool LeaseWatch::open(const std::string& path, std::chrono::milliseconds idleGrace,
    std::function<void()> onIdle, std::string& error)
{
    sockaddr_un address {};
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        error = "the lease socket path \"" + path + "\" is empty or too long";
        return false;
    }
    const std::string lockPath = path + ".lock";
    m_lockFile = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockFile < 0) {
        error = systemError("cannot open " + lockPath);
        return false;
    }
    if (::flock(m_lockFile, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? "another service already serves the lease socket " + path
                                     : systemError("cannot lock " + lockPath);
        return false;
    }
    // Holding the lock, any socket file there is one a dead service left behind.
    ::unlink(path.c_str());
    m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listener < 0) {
        error = systemError("cannot make the lease socket");
        return false;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    const mode_t oldMask = ::umask(0177);
    const int bound = ::bind(m_listener, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::umask(oldMask);
    if (bound != 0 || ::listen(m_listener, 64) != 0) {
        error = systemError("cannot listen on the lease socket " + path);
        return false;
    }
    m_path = path;
    if (::pipe2(m_wake, O_CLOEXEC) != 0) {
        error = systemError("cannot make a pipe");
        return false;
    }
    m_onIdle = std::move(onIdle);
    m_thread = std::thread([this, idleGrace] { run(idleGrace); });
    return true;
}

void LeaseWatch::announceReady()
{
    if (m_thread.joinable() && !m_ready.exchange(true)) {
        [[maybe_unused]] const ssize_t written = ::write(m_wake[1], &kReadyByte, 1);
    }
}

void LeaseWatch::run(std::chrono::milliseconds idleGrace)
{
    using Clock = std::chrono::steady_clock;
    std::vector<int> leases;
    struct CloseAll {
        std::vector<int>& fds;
        ~CloseAll()
        {
            for (const int fd : fds)
                ::close(fd);
        }
    } closeLeases { leases };
    Clock::time_point idleSince = Clock::now();
    const auto acceptAll = [&] {
        for (;;) {
            const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (client < 0)
                return;
            leases.push_back(client);
            if (m_ready)
                tellReady(client);
        }
    };
    for (;;) {
        std::vector<pollfd> watched;
        watched.push_back({ m_wake[0], POLLIN, 0 });
        watched.push_back({ m_listener, POLLIN, 0 });
        for (const int lease : leases)
            watched.push_back({ lease, POLLIN, 0 });
        int timeout = -1;
        if (leases.empty()) {
            const auto left
                = std::chrono::duration_cast<std::chrono::milliseconds>(idleSince + idleGrace - Clock::now());
            timeout = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
        }
        const int ready = ::poll(watched.data(), watched.size(), timeout);
        if (ready < 0 && errno != EINTR)
            return;
        if (watched[0].revents != 0) {
            char wake = kStopByte;
            if (::read(m_wake[0], &wake, 1) != 1 || wake == kStopByte)
                return; // the destructor wants the thread to end
            for (const int lease : leases)
                tellReady(lease);
            continue;
        }
        if (ready == 0 && leases.empty()) {
            // Idle for the whole grace: a connection that raced in is still a user.
            acceptAll();
            if (leases.empty()) {
                removeSocketFile();
                if (m_onIdle)
                    m_onIdle();
                return;
            }
            continue;
        }
        if (watched[1].revents != 0)
            acceptAll();
        // A lease ends when its application closes it (or ends): EOF, an error
        // or a hang-up. Anything sent on it is read and ignored.
        for (size_t i = 2; i < watched.size(); ++i) {
            if (watched[i].revents == 0)
                continue;
            char buffer[256];
            const ssize_t got = ::read(watched[i].fd, buffer, sizeof buffer);
            if (got > 0 || (got < 0 && (errno == EAGAIN || errno == EINTR)))
                continue;
            ::close(watched[i].fd);
            leases.erase(std::find(leases.begin(), leases.end(), watched[i].fd));
            if (leases.empty())
                idleSince = Clock::now();
        }
    }
}

void LeaseWatch::removeSocketFile()
{
    if (!m_path.empty())
        ::unlink(m_path.c_str());
    m_path.clear();
}

} // namespace tw::service
