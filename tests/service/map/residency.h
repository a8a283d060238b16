#pragma once
// How much of a file this process has mapped in, from /proc/self/smaps.

#include <cctype>
#include <fstream>
#include <string>
#include <utility>

namespace tw::service::test {

// Resident and proportional kilobytes of this process's mapping of `path`.
inline std::pair<long, long> residency(const std::string& path)
{
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    bool inside = false;
    long rss = 0;
    long pss = 0;
    while (std::getline(smaps, line)) {
        if (line.find('-') < line.find(' ') && line.find(' ') != std::string::npos && !line.empty()
            && std::isxdigit(static_cast<unsigned char>(line[0]))) {
            inside = line.size() >= path.size() && line.compare(line.size() - path.size(), path.size(), path) == 0;
        } else if (inside && line.rfind("Rss:", 0) == 0) {
            rss += std::stol(line.substr(4));
        } else if (inside && line.rfind("Pss:", 0) == 0) {
            pss += std::stol(line.substr(4));
        }
    }
    return {rss, pss};
}

} // namespace tw::service::test
