#include "service/server/command_line.h"

#include <charconv>
#include <filesystem>

namespace tw::service {

bool parseListenAddress(const std::string& text, std::string& host, int& port)
{
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
        return false;
    std::string h = text.substr(0, colon);
    if (h.front() == '[') {
        if (h.back() != ']' || h.size() < 3)
            return false;
        h = h.substr(1, h.size() - 2);
    } else if (h.find(':') != std::string::npos) {
        return false;
    }
    const std::string p = text.substr(colon + 1);
    int value = -1;
    const auto [end, ec] = std::from_chars(p.data(), p.data() + p.size(), value);
    if (ec != std::errc() || end != p.data() + p.size() || value < 0 || value > 65535)
        return false;
    host = h;
    port = value;
    return true;
}

CommandLineParse parseCommandLine(const std::vector<std::string>& args)
{
    CommandLine options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&](const char* name) -> std::optional<std::string> {
            const std::string prefix = std::string(name) + "=";
            if (arg.rfind(prefix, 0) == 0)
                return arg.substr(prefix.size());
            if (arg == name && i + 1 < args.size())
                return args[++i];
            return std::nullopt;
        };
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--lease-socket" || arg.rfind("--lease-socket=", 0) == 0) {
            auto v = value("--lease-socket");
            if (!v || v->empty())
                return {std::nullopt, "--lease-socket needs a path"};
            options.leaseSocket = *v;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--map" || arg.rfind("--map=", 0) == 0) {
            auto v = value("--map");
            if (!v || v->empty())
                return {std::nullopt, "--map needs a file name"};
            options.mapPath = *v;
        } else if (arg == "--prepare" || arg.rfind("--prepare=", 0) == 0) {
            auto v = value("--prepare");
            if (!v || v->empty())
                return {std::nullopt, "--prepare needs a map file"};
            options.preparePath = *v;
        } else if (arg == "--listen" || arg.rfind("--listen=", 0) == 0) {
            auto v = value("--listen");
            if (!v)
                return {std::nullopt, "--listen needs HOST:PORT"};
            if (!parseListenAddress(*v, options.host, options.port))
                return {std::nullopt, "--listen: \"" + *v + "\" is not HOST:PORT with a port from 0 to 65535"};
        } else {
            return {std::nullopt, "unknown argument \"" + arg + "\""};
        }
    }
    return {options, {}};
}

std::string usageText()
{
    return "Usage: tarnwickley-directions [--map FILE] [--listen HOST:PORT] [--quiet]\n"
           "                              [--lease-socket PATH]\n"
           "       tarnwickley-directions --prepare FILE\n"
           "\n"
           "Serves driving directions for Tarnwickley over HTTP: the form at /dd and\n"
           "the directions at /dd_result.\n"
           "\n"
           "  --map FILE          OpenStreetMap extract (.osm, .osm.bz2, .osm.pbf);\n"
           "                      default: the file named by \"map =\" in\n"
           "                      ~/.config/tarnwickley/directions.conf, else the bundled\n"
           "                      sample town\n"
           "  --listen HOST:PORT  address to serve on (default 127.0.0.1:47800; port 0\n"
           "                      picks a free one). Under systemd socket activation the\n"
           "                      socket handed over is used instead.\n"
           "  --quiet             do not log requests on stderr\n"
           "  --lease-socket PATH serve while an application holds a connection to this\n"
           "                      Unix socket; stop 5 s after the last one closes (the\n"
           "                      application uses this for a service it starts itself)\n"
           "  --prepare FILE      prepare that map for fast routing (FILE.twch beside it,\n"
           "                      or in the cache folder) and exit; a service started\n"
           "                      on the map later maps the prepared file at once\n"
           "  --help              show this text\n"
           "  --version           show the version\n"
           "\n"
           "Besides the pages it answers /healthz (200 once the map is loaded) and\n"
           "/metrics (Prometheus text format).\n"
           "\n"
           "Exit codes: 0 stopped normally, 2 bad command line, 3 map file missing,\n"
           "4 map file unreadable, 5 map file truncated or corrupt, 6 cannot listen\n"
           "(address in use), 7 map without drivable roads, 1 other failure.\n";
}

std::string versionText()
{
#ifdef TW_VERSION
    return std::string("tarnwickley-directions ") + TW_VERSION + "\n";
#else
    return "tarnwickley-directions\n";
#endif
}

std::string defaultMapPath()
{
    std::error_code ec;
    // The build writes the map beside the program; an installed program finds it
    // in the data folder.
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const std::filesystem::path beside = self.parent_path() / "sample-town.osm.pbf";
        if (std::filesystem::is_regular_file(beside, ec))
            return beside.string();
        // Installed under any prefix (or unpacked into another root): bin/../share.
        const std::filesystem::path shared
            = self.parent_path().parent_path() / "share" / "tarnwickley" / "sample-town.osm.pbf";
        if (std::filesystem::is_regular_file(shared, ec))
            return shared.string();
    }
#ifdef TW_SERVICE_INSTALLED_MAP
    if (std::filesystem::is_regular_file(TW_SERVICE_INSTALLED_MAP, ec))
        return TW_SERVICE_INSTALLED_MAP;
#endif
#ifdef TW_SERVICE_BUILD_MAP
    if (std::filesystem::is_regular_file(TW_SERVICE_BUILD_MAP, ec))
        return TW_SERVICE_BUILD_MAP;
#endif
    return {};
}

} // namespace tw::service
