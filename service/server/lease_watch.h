#pragma once
// LeaseWatch: keeps a service that an application started alive exactly as long
// as some application uses it.
//
// Each application that uses the service holds one connection to a Unix socket
// (the lease socket) and sends nothing; the kernel closes the connection when the
// application ends, however it ends. The watch counts the open connections on
// its own thread; once there have been none for `idleGrace` (counted from open()
// for the first one) it calls `onIdle` once, and the service stops.
//
// Contract:
// - open() takes a lock file beside the socket ("PATH.lock", held for the life
//   of the watch), so one service at most serves a lease socket: a second one
//   fails with "in use" and the application connects to the first. A socket file
//   left behind by a service that died is replaced.
// - The socket is made readable by its owner only (mode 0600).
// - On idle the socket file is removed before `onIdle` runs, so an application
//   that comes later finds no lease and starts a new service.
// - Once announceReady() has been called, every lease (those open and those
//   that come later) receives the line "ready\n": the service answers now.
// - The destructor stops the thread and removes the socket file.

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace tw::service {

class LeaseWatch {
public:
    LeaseWatch() = default;
    ~LeaseWatch();
    LeaseWatch(const LeaseWatch&) = delete;
    LeaseWatch& operator=(const LeaseWatch&) = delete;

    // Listens on the Unix socket `path` and starts watching. Returns false with
    // `error` set when the path is too long, its folder is not writable or
    // another service holds it.
    bool open(const std::string& path, std::chrono::milliseconds idleGrace, std::function<void()> onIdle,
        std::string& error);

    // Tells the applications holding leases that the service answers now.
    void announceReady();

private:
    void run(std::chrono::milliseconds idleGrace);
    void removeSocketFile();

    std::string m_path;
    std::function<void()> m_onIdle;
    int m_listener = -1;
    int m_lockFile = -1;
    int m_wake[2] = { -1, -1 };
    std::atomic<bool> m_ready { false };
    std::thread m_thread;
};

} // namespace tw::service
