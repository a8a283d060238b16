#pragma once
// OsmSnapshot: a whole (small) OSM file read back with libosmium, for checking
// what the generator wrote, plus the road-graph questions the tests ask of it.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace tw::service::testing {

using Tags = std::map<std::string, std::string>;

struct SnapshotNode {
    double lat = 0.0;
    double lon = 0.0;
    Tags tags;
};

struct SnapshotWay {
    std::int64_t id = 0;
    std::vector<std::int64_t> refs;
    Tags tags;

    std::string tag(const std::string& key) const
    {
        const auto it = tags.find(key);
        return it == tags.end() ? std::string() : it->second;
    }
};

struct OsmSnapshot {
    std::map<std::int64_t, SnapshotNode> nodes;
    std::vector<SnapshotWay> ways;

    // Reads every node and way of `path`; throws on an unreadable file.
    static OsmSnapshot read(const std::filesystem::path& path);

    // Ways a car may use: highway=* of a road class, not access=no/private.
    std::vector<const SnapshotWay*> drivableWays() const;
    // Nodes that are road-graph junctions: shared by two drivable ways, or a way's end.
    std::size_t junctionCount() const;
    // Whether every node of a drivable way can reach every other one, following
    // one-way rules (oneway=yes/-1, roundabouts).
    bool stronglyConnected() const;
};

std::string readFileBytes(const std::filesystem::path& path);

// A fresh temporary folder, removed with everything in it on destruction.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace tw::service::testing
