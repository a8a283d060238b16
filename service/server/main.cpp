// tarnwickley-directions: the directions service. Loads a map, then serves the
// directions pages until SIGINT or SIGTERM. See command_line.h for the options
// and exit codes.

#include "service/map/map_loader.h"
#include "service/routing/prepared_hierarchy.h"
#include "service/server/command_line.h"
#include "service/server/directions_site.h"
#include "service/server/http_server.h"
#include "service/server/lease_watch.h"
#include "service/server/user_config.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace tw::service;

namespace {

void say(const std::string& text)
{
    std::fprintf(stderr, "tarnwickley-directions: %s\n", text.c_str());
}

// A map without a prepared file is prepared at start up to this many turn
// states (road pieces and their restriction copies): some tens of seconds.
constexpr std::size_t kPrepareAtStartStates = 100000;

// Returns the listening socket systemd handed over, or -1 when not socket-activated.
int activatedSocket()
{
    const char* pid = std::getenv("LISTEN_PID");
    const char* fds = std::getenv("LISTEN_FDS");
    if (pid == nullptr || fds == nullptr)
        return -1;
    if (std::strtol(pid, nullptr, 10) != static_cast<long>(getpid()) || std::strtol(fds, nullptr, 10) < 1)
        return -1;
    return 3; // SD_LISTEN_FDS_START
}

// Returns the exit code for a map that cannot be used before trying to load it, or kExitOk.
int checkMapFile(const std::string& path)
{
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        say("the map file " + path + " does not exist.");
        return kExitMapMissing;
    }
    if (std::filesystem::is_directory(path, ec)) {
        say("the map path " + path + " is a folder, not a file.");
        return kExitMapUnreadable;
    }
    std::ifstream probe(path, std::ios::binary);
    char byte;
    if (!probe || (!probe.get(byte) && !probe.eof())) {
        say("the map file " + path + " cannot be read (check its permissions).");
        return kExitMapUnreadable;
    }
    return kExitOk;
}

// Returns true when host:port can be bound now. Checked before the map loads so
// a busy port is reported at once, not after a long import.
bool portLooksFree(const std::string& host, int port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || found == nullptr)
        return false;
    const int fd = ::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    bool ok = false;
    if (fd >= 0) {
        int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        ok = ::bind(fd, found->ai_addr, found->ai_addrlen) == 0;
        ::close(fd);
    }
    freeaddrinfo(found);
    return ok;
}

// --prepare: imports the map (or reads its cache) and writes its prepared file.
int prepareOnly(const std::string& mapPath)
{
    if (const int code = checkMapFile(mapPath); code != kExitOk)
        return code;
    try {
        say("loading map " + mapPath);
        const RoadMap map = loadMap(mapPath);
        bool prepared = false;
        const TurnModel model(map);
        loadOrPrepareHierarchy(mapPath, model, PrepareProgress::Stderr, DamagedPrepared::Replace, &prepared);
        say(prepared ? "prepared " + mapPath : mapPath + " was already prepared");
        return kExitOk;
    } catch (const MapError& e) {
        say(e.what());
        return kExitMapCorrupt;
    } catch (const std::exception& e) {
        say(std::string("unexpected failure: ") + e.what());
        return kExitInternal;
    }
}

} // namespace

int main(int argc, char** argv)
{
    const CommandLineParse parsed = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        say(parsed.error);
        std::fputs(usageText().c_str(), stderr);
        return kExitUsage;
    }
    const CommandLine& options = *parsed.options;
    if (options.help) {
        std::fputs(usageText().c_str(), stdout);
        return kExitOk;
    }
    if (options.version) {
        std::fputs(versionText().c_str(), stdout);
        return kExitOk;
    }
    if (!options.preparePath.empty())
        return prepareOnly(options.preparePath);

    std::string mapPath = options.mapPath;
    if (const std::string config = userConfigPath(); mapPath.empty() && !config.empty()) {
        mapPath = configuredMapPath(config);
        if (!mapPath.empty())
            say("using the map named in " + config);
    }
    // The bundled map imports in milliseconds; no cache for it, so none is ever
    // written into the installed data folder (where root could write one that
    // the package would then leave behind).
    LoadOptions loadOptions;
    if (mapPath.empty()) {
        loadOptions.cache = CacheUse::Ignore;
        mapPath = defaultMapPath();
        if (mapPath.empty()) {
            say("the bundled sample map was not found; build it, or give --map FILE.");
            return kExitMapMissing;
        }
    }
    if (const int code = checkMapFile(mapPath); code != kExitOk)
        return code;
    const bool activated = activatedSocket() >= 0;
    if (!activated && options.port != 0 && !portLooksFree(options.host, options.port)) {
        say("cannot listen on " + options.host + ":" + std::to_string(options.port)
            + " (is another service already using that port?)");
        return kExitListen;
    }

    // SIGINT and SIGTERM are taken by one thread that stops the server; block
    // them before any other thread starts so none of those gets them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    // A service an application started stops once no application holds a lease.
    LeaseWatch leases;
    if (std::string error; !options.leaseSocket.empty()
        && !leases.open(options.leaseSocket, std::chrono::seconds(5), [] { ::kill(::getpid(), SIGTERM); }, error)) {
        say(error);
        return kExitListen;
    }

    try {
        say("loading map " + mapPath);
        RoadMap map;
        try {
            map = loadMap(mapPath, loadOptions);
        } catch (const MapError& e) {
            say(e.what());
            return kExitMapCorrupt;
        }
        // Routes come from the contraction hierarchy in the map's prepared
        // file, mapped at once when current. Without one, a small map is
        // prepared now (and saved for the next start); a large one is routed
        // with landmarks, since preparing it takes minutes to hours: that is
        // --prepare's work. The bundled map is prepared in memory, so nothing
        // is written into the installed data folder.
        RouterOptions routing{RouteSearch::Hierarchy, mapPath, true};
        routing.prepareAtMostStates = kPrepareAtStartStates;
        if (loadOptions.cache == CacheUse::Ignore)
            routing.mapPath.clear();
        std::unique_ptr<DirectionsSite> prepared;
        try {
            prepared = std::make_unique<DirectionsSite>(map, routing);
        } catch (const MapError& e) {
            say(std::string(e.what()) + " (remove it, or run --prepare again)");
            return kExitMapCorrupt;
        }
        DirectionsSite& site = *prepared;
        if (site.router().hierarchy() == nullptr)
            say("routing with landmarks: this map has no prepared file yet; run tarnwickley-directions --prepare "
                + mapPath + " once for faster routes");
        say("map ready: " + std::to_string(map.nodeCount()) + " junctions, " + std::to_string(map.edgeCount())
            + " road pieces, " + std::to_string(site.geocoder().streetCount()) + " streets, "
            + std::to_string(map.addresses.size()) + " addresses");

        HttpServer server(site, options.quiet ? RequestLog::Quiet : RequestLog::Stderr);
        const int fd = activatedSocket();
        if (fd >= 0) {
            server.adopt(fd);
            say("serving on the socket from the service manager");
        } else {
            const int port = server.bind(options.host, options.port);
            if (port < 0) {
                say("cannot listen on " + options.host + ":" + std::to_string(options.port)
                    + " (is another service already using that port?)");
                return kExitListen;
            }
            say("serving on http://" + options.host + ":" + std::to_string(port) + "/dd");
        }
        leases.announceReady();

        std::thread signalWaiter([&server, stopSignals] {
            int signal = 0;
            sigwait(&stopSignals, &signal);
            say("stopping");
            server.stop();
        });
        const bool served = server.serve();
        if (!served) {
            say("the server stopped with an error");
            pthread_kill(signalWaiter.native_handle(), SIGTERM);
            signalWaiter.join();
            return kExitListen;
        }
        signalWaiter.join();
        return kExitOk;
    } catch (const std::exception& e) {
        say(std::string("unexpected failure: ") + e.what());
        return kExitInternal;
    }
}
