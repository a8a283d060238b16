// The lease socket that keeps a service an application started alive while any
// application uses it, and the user's configuration file that names a map.

#include "service/server/lease_watch.h"
#include "service/server/user_config.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using tw::service::LeaseWatch;

namespace {

struct TempFolder {
    fs::path path;
    TempFolder()
    {
        char name[] = "/tmp/tw-lease-XXXXXX";
        path = ::mkdtemp(name);
    }
    ~TempFolder() { fs::remove_all(path); }
};

int connectTo(const fs::path& socketPath)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Counts the idle calls and lets the test wait for one.
struct IdleSignal {
    std::mutex mutex;
    std::condition_variable changed;
    int calls = 0;
    void operator()()
    {
        std::lock_guard lock(mutex);
        ++calls;
        changed.notify_all();
    }
    bool waitFor(std::chrono::milliseconds limit)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, [this] { return calls > 0; });
    }
};

} // namespace

TEST(LeaseWatch, StopsOnlyAfterTheLastOfSeveralLeasesHasClosed)
{
    TempFolder folder;
    const fs::path socket = folder.path / "lease";
    IdleSignal idle;
    LeaseWatch watch;
    std::string error;
    ASSERT_TRUE(watch.open(
        socket, 300ms, [&idle] { idle(); }, error))
        << error;
    const int first = connectTo(socket);
    const int second = connectTo(socket);
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    ::close(first);
    // One lease is left: well past the grace, no stop.
    EXPECT_FALSE(idle.waitFor(700ms));
    ::close(second);
    EXPECT_TRUE(idle.waitFor(3s));
    EXPECT_FALSE(fs::exists(socket)) << "a later application must not find the stopping service";
}

TEST(LeaseWatch, StopsWhenNoApplicationEverTakesALease)
{
    TempFolder folder;
    IdleSignal idle;
    LeaseWatch watch;
    std::string error;
    ASSERT_TRUE(watch.open(
        folder.path / "lease", 100ms, [&idle] { idle(); }, error))
        << error;
    EXPECT_TRUE(idle.waitFor(3s));
}

TEST(LeaseWatch, OneServicePerSocketAndALeftoverSocketFileIsReplaced)
{
    TempFolder folder;
    const fs::path socket = folder.path / "lease";
    std::ofstream(socket) << "left behind";
    std::string error;
    {
        LeaseWatch first;
        ASSERT_TRUE(first.open(socket, 10s, {}, error)) << error;
        LeaseWatch second;
        EXPECT_FALSE(second.open(socket, 10s, {}, error));
        EXPECT_NE(error.find("another service"), std::string::npos) << error;
        const int lease = connectTo(socket);
        EXPECT_GE(lease, 0);
        ::close(lease);
    }
    EXPECT_FALSE(fs::exists(socket));
}

TEST(UserConfig, NamesTheMapAsTheUserWroteIt)
{
    TempFolder folder;
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", "/home/driver", 1);
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        { "map = /srv/maps/region.osm.pbf\n", "/srv/maps/region.osm.pbf" },
        { "# my region\n\n  map=~/maps/qz.osm.pbf  \r\n", "/home/driver/maps/qz.osm.pbf" },
        { "map = maps/../qz.osm\n", "" }, // relative: beside the file (checked below)
        { "mapfile = /x.osm\nmap =\n", "" },
        { "", "" },
    };
    for (const Case& c : cases) {
        const fs::path config = folder.path / "directions.conf";
        std::ofstream(config) << c.text;
        std::string expected = c.expected;
        if (std::string(c.text).find("maps/../") != std::string::npos)
            expected = (folder.path / "qz.osm").string();
        EXPECT_EQ(tw::service::configuredMapPath(config), expected) << c.text;
    }
    EXPECT_EQ(tw::service::configuredMapPath((folder.path / "missing.conf").string()), "");
    ::setenv("HOME", home.c_str(), 1);
}
