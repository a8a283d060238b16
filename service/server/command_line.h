#pragma once
// The command line of tarnwickley-directions and its exit codes.
//
//   tarnwickley-directions [--map FILE] [--listen HOST:PORT] [--quiet]
//                          [--lease-socket PATH] [--help] [--version]
//   tarnwickley-directions --prepare FILE

#include <optional>
#include <string>
#include <vector>

namespace tw::service {

// Exit codes, one per kind of failure, so scripts and the service manager can tell them apart.
enum ExitCode : int {
    kExitOk = 0,
    kExitInternal = 1,     // an unexpected failure
    kExitUsage = 2,        // bad command line
    kExitMapMissing = 3,   // no map file at the path (or no bundled map found)
    kExitMapUnreadable = 4,// the file exists but cannot be read
    kExitMapCorrupt = 5,   // the file is truncated or corrupt
    kExitListen = 6,       // the address cannot be listened on (port busy, bad host)
    kExitMapNoRoads = 7,   // the file is a valid map without a road a car can drive
};

struct CommandLine {
    std::string mapPath;        // empty: the bundled sample map
    std::string host = "127.0.0.1";
    int port = 47800;
    bool quiet = false;         // no request log
    bool help = false;
    bool version = false;
    std::string leaseSocket;    // set: stop once no application holds a lease (lease_watch.h)
    std::string preparePath;    // --prepare FILE: prepare that map for fast routing, then exit
};

struct CommandLineParse {
    std::optional<CommandLine> options; // set on success
    std::string error;                  // otherwise: what is wrong
};

// Parses the arguments after the program name.
CommandLineParse parseCommandLine(const std::vector<std::string>& args);

// Splits "HOST:PORT" ("127.0.0.1:47800", "[::1]:8080", "localhost:0").
// Returns false when the text is not of that form or the port is out of 0..65535.
bool parseListenAddress(const std::string& text, std::string& host, int& port);

// The usage text for --help.
std::string usageText();

// The text for --version: the program's name and version, one line.
std::string versionText();

// Returns the first existing file among the bundled map's places: beside the
// running program (the build tree), ../share/tarnwickley beside the program's
// folder (installed under any prefix or root), the installed data folder
// (TW_SERVICE_INSTALLED_MAP), then the build's own path (TW_SERVICE_BUILD_MAP).
// Empty when none exists.
std::string defaultMapPath();

} // namespace tw::service
