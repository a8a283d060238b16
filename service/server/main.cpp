// tarnwickley-directions: the directions service. Loads a map, then serves the
// directions pages until SIGINT or SIGTERM. See command_line.h for the options
// and exit codes.

#include "service/geocoder/geocoder.h"
#include "service/map/map_loader.h"
#include "service/map/mapped_file.h"
#include "service/routing/prepared_hierarchy.h"
#include "service/server/command_line.h"
#include "service/server/directions_site.h"
#include "service/server/http_server.h"
#include "service/server/lease_watch.h"
#include "service/server/user_config.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace tw::service;

namespace {

void say(const std::string& text)
{
    std::fprintf(stderr, "tarnwickley-directions: %s\n", text.c_str());
}

// A map without a prepared file is prepared at start up to this many turn
// states (road pieces and their restriction copies, about 120,000 junctions):
// under half a minute on two cores.
constexpr std::size_t kPrepareAtStartStates = 400000;

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

// "http://127.0.0.1:47800", "http://[::1]:8080".
std::string baseAddress(const std::string& host, int port)
{
    const bool ipv6 = host.find(':') != std::string::npos;
    return "http://" + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

// Opens the map's files as a start does, so that they are checked whole now
// and remembered as sound (MappedFile::rememberSound): the starts that follow
// skip that pass, seconds on a large map. Files written just now are first
// left to settle. Small maps are checked in milliseconds at every start, so
// nothing is done for them.
void checkForStarts(const std::string& mapPath, const CacheKey& key)
{
    // The latest change to the map caches and to the prepared files, and
    // whether any is large.
    bool large = false;
    const auto latestChange = [&large](std::initializer_list<std::string> paths) {
        std::int64_t latest = 0;
        for (const std::string& path : paths) {
            struct stat info {};
            if (::stat(path.c_str(), &info) == 0) {
                large = large || static_cast<std::uint64_t>(info.st_size) >= MappedFile::smallestRemembered();
                latest = std::max({latest, static_cast<std::int64_t>(info.st_mtim.tv_sec),
                                   static_cast<std::int64_t>(info.st_ctim.tv_sec)});
            }
        }
        return latest;
    };
    const std::int64_t caches = latestChange({cachePathBeside(mapPath), cachePathInUserFolder(key)});
    const std::int64_t prepared = latestChange({preparedPathBeside(mapPath), preparedPathInUserFolder(key)});
    if (!large) {
        return;
    }
    const auto settle = [](std::int64_t latest) {
        const std::int64_t settled = latest + MappedFile::kSettledSeconds + 1;
        if (const std::int64_t now = ::time(nullptr); now < settled) {
            std::this_thread::sleep_for(std::chrono::seconds(settled - now));
        }
    };
    say("checking the map's files for fast starts");
    // The map is loaded while the prepared file just written settles.
    settle(caches);
    LoadOptions load;
    load.cacheExtras = Geocoder::cacheSections;
    const RoadMap map = loadMap(mapPath, load);
    settle(prepared);
    RouterOptions routing{RouteSearch::Hierarchy, mapPath, false};
    routing.prepareAtMostStates = 0;
    routing.topDistancesFromNodes = std::numeric_limits<std::uint32_t>::max();
    const Router router(map, routing);
}

// --prepare: imports the map (or reads its cache) and writes its prepared file.
int prepareOnly(const std::string& mapPath)
{
    if (const int code = checkMapFile(mapPath); code != kExitOk)
        return code;
    try {
        say("loading map " + mapPath);
        const std::optional<CacheKey> key = cacheKeyOf(mapPath);
        if (!key) {
            throw MapError("Cannot read map file " + mapPath);
        }
        PrepareInput input;
        bool alreadyPrepared = false;
        {
            LoadOptions load;
            load.cacheExtras = Geocoder::cacheSections;
            RoadMap map = loadMap(mapPath, load);
            // The preparation reads the roads only: the address data goes
            // before the turn model is built, and of a mapped cache this
            // process keeps only the pages it reads from here on.
            if (map.cacheFile) {
                map.cacheFile->dropResidentPages();
            }
            map.addresses.release();
            map.interpolations.release();
            map.nameEdges.release();
            map.firstNameEdge.release();
            // Whether the map is prepared asks nothing of the turns.
            TurnModel model(map, TurnModel::GeometryLater{});
            if (findPreparedHierarchy(mapPath, model, DamagedPrepared::Replace)) {
                say(mapPath + " was already prepared");
                alreadyPrepared = true;
            } else {
                model.computeGeometry();
                map.shape.release();  // the model has taken the headings from it
                input = prepareInputOf(*key, model);
                // A map read from its cache can be mapped again once the
                // contraction is done, to make what a start would otherwise
                // compute from it.
                input.startIndexes = map.edges.mapped();
            }
        }
        if (alreadyPrepared) {
            checkForStarts(mapPath, *key);
            return kExitOk;
        }
        // The map and its model are gone: the contraction has the memory.
        const std::string written = writePreparedFrom(std::move(input), PrepareProgress::Stderr);
        if (written.empty()) {
            say("could not save the prepared map beside " + mapPath + " nor in the cache folder");
            return kExitInternal;
        }
        say("prepared " + mapPath + " (" + written + ")");
        checkForStarts(mapPath, *key);
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
    loadOptions.cacheExtras = Geocoder::cacheSections;
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

    // SIGINT and SIGTERM are taken by one thread that stops the server; block
    // them before any other thread starts so none of those gets them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    raiseOpenFileLimit();

    // A service an application started stops once no application holds a lease.
    LeaseWatch leases;
    if (std::string error; !options.leaseSocket.empty()
        && !leases.open(options.leaseSocket, std::chrono::seconds(5), [] { ::kill(::getpid(), SIGTERM); }, error)) {
        say(error);
        return kExitListen;
    }

    // Listen first, so that a busy port is reported at once and /healthz
    // answers (503) while the map loads.
    HttpServer server(options.quiet ? RequestLog::Quiet : RequestLog::Stderr);
    std::string where = "the socket from the service manager";
    if (const int fd = activatedSocket(); fd >= 0) {
        server.adopt(fd);
    } else {
        const int port = server.bind(options.host, options.port);
        if (port < 0) {
            say("cannot listen on " + options.host + ":" + std::to_string(options.port)
                + " (is another service already using that port?)");
            return kExitListen;
        }
        where = baseAddress(options.host, port) + "/dd";
    }
    bool served = true;
    std::thread serving([&server, &served] { served = server.serve(); });
    std::thread signalWaiter([&server, stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.stop(StopMode::Graceful);
    });

    int code = kExitOk;
    RoadMap map;
    std::unique_ptr<DirectionsSite> site;
    try {
        say("loading map " + mapPath);
        map = loadMap(mapPath, loadOptions);
        // Routes come from the contraction hierarchy in the map's prepared
        // file, mapped at once when current. Without one, a small map is
        // prepared now (and saved for the next start); a large one is routed
        // with landmarks, since preparing it takes minutes: that is
        // --prepare's work. The bundled map is prepared in memory, so nothing
        // is written into the installed data folder.
        RouterOptions routing{RouteSearch::Hierarchy, mapPath, true};
        routing.prepareAtMostStates = kPrepareAtStartStates;
        if (loadOptions.cache == CacheUse::Ignore)
            routing.mapPath.clear();
        try {
            site = std::make_unique<DirectionsSite>(map, routing);
        } catch (const MapError& e) {
            throw MapError(std::string(e.what()) + " (remove it, or run --prepare again)");
        }
        if (site->router().hierarchy() == nullptr) {
            // A file that is there but was not used is out of date: made by
            // another version of this program or from an older copy of the map.
            std::string stale;
            std::error_code error;
            const std::optional<CacheKey> key = cacheKeyOf(mapPath);
            for (const std::string& path : {preparedPathBeside(mapPath),
                                            key ? preparedPathInUserFolder(*key) : std::string()}) {
                if (stale.empty() && !path.empty() && std::filesystem::exists(path, error))
                    stale = path;
            }
            if (stale.empty())
                say("routing with landmarks: this map has no prepared file yet; run tarnwickley-directions --prepare "
                    + mapPath + " once for faster routes");
            else
                say("routing with landmarks: the prepared file " + stale
                    + " is out of date (made by another version or from another copy of the map); run "
                      "tarnwickley-directions --prepare " + mapPath + " again for faster routes");
        }
        say("map ready: " + std::to_string(map.nodeCount()) + " junctions, " + std::to_string(map.edgeCount())
            + " road pieces, " + std::to_string(site->geocoder().streetCount()) + " streets, "
            + std::to_string(map.addresses.size()) + " addresses; " + map.restrictionSummary());
        server.setSite(*site, {map.nodeCount(), map.edgeCount(), site->geocoder().streetCount(), map.addresses.size()});
        say("serving on " + where);
        leases.announceReady();
    } catch (const MapHasNoRoads& e) {
        say(e.what());
        code = kExitMapNoRoads;
    } catch (const MapError& e) {
        say(e.what());
        code = kExitMapCorrupt;
    } catch (const std::exception& e) {
        say(std::string("unexpected failure: ") + e.what());
        code = kExitInternal;
    }
    if (code != kExitOk)
        server.stop();
    serving.join();
    // Wake the signal thread if no signal came.
    pthread_kill(signalWaiter.native_handle(), SIGTERM);
    signalWaiter.join();
    if (code == kExitOk && !served) {
        say("the server stopped with an error");
        return kExitListen;
    }
    if (code == kExitOk)
        say("stopped");
    return code;
}
