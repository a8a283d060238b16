#include "service/server/user_config.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace tw::service {

namespace {

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

} // namespace

std::string userConfigPath()
{
    std::filesystem::path folder = environment("XDG_CONFIG_HOME");
    // The XDG rule: a relative XDG_CONFIG_HOME is invalid and ignored.
    if (folder.empty() || folder.is_relative()) {
        const std::string home = environment("HOME");
        if (home.empty())
            return {};
        folder = std::filesystem::path(home) / ".config";
    }
    return (folder / "tarnwickley" / "directions.conf").string();
}

std::string configuredMapPath(const std::string& configPath)
{
    std::ifstream file(configPath);
    std::string line;
    std::string map;
    while (file && std::getline(file, line)) {
        line = trimmed(line);
        if (line.empty() || line.front() == '#')
            continue;
        const auto equals = line.find('=');
        if (equals == std::string::npos || trimmed(line.substr(0, equals)) != "map")
            continue;
        map = trimmed(line.substr(equals + 1));
    }
    if (map.empty())
        return {};
    std::filesystem::path path = map;
    const std::string home = environment("HOME");
    if (map.rfind("~/", 0) == 0 && !home.empty())
        path = std::filesystem::path(home) / map.substr(2);
    else if (path.is_relative())
        path = std::filesystem::path(configPath).parent_path() / path;
    return path.lexically_normal().string();
}

} // namespace tw::service
