#include "osm_snapshot.h"

#include <osmium/handler.hpp>
#include <osmium/io/pbf_input.hpp>
#include <osmium/visitor.hpp>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <set>
#include <sstream>

namespace tw::service::testing {

namespace {

Tags tagsOf(const osmium::TagList& list)
{
    Tags tags;
    for (const osmium::Tag& tag : list) {
        tags.emplace(tag.key(), tag.value());
    }
    return tags;
}

struct Collector : osmium::handler::Handler {
    OsmSnapshot* snapshot = nullptr;

    void node(const osmium::Node& node)
    {
        snapshot->nodes[node.id()] = {node.location().lat(), node.location().lon(), tagsOf(node.tags())};
    }

    void way(const osmium::Way& way)
    {
        SnapshotWay copy{way.id(), {}, tagsOf(way.tags())};
        for (const osmium::NodeRef& ref : way.nodes()) {
            copy.refs.push_back(ref.ref());
        }
        snapshot->ways.push_back(std::move(copy));
    }
};

bool isCarRoad(const std::string& highway)
{
    static const std::set<std::string> kRoads{
        "motorway", "trunk", "primary", "secondary", "tertiary", "unclassified", "residential", "living_street",
        "service", "motorway_link", "trunk_link", "primary_link", "secondary_link", "tertiary_link"};
    return kRoads.contains(highway);
}

std::set<std::int64_t> reach(const std::map<std::int64_t, std::vector<std::int64_t>>& edges, std::int64_t start)
{
    std::set<std::int64_t> seen{start};
    std::vector<std::int64_t> stack{start};
    while (!stack.empty()) {
        const std::int64_t at = stack.back();
        stack.pop_back();
        const auto it = edges.find(at);
        if (it == edges.end()) {
            continue;
        }
        for (const std::int64_t next : it->second) {
            if (seen.insert(next).second) {
                stack.push_back(next);
            }
        }
    }
    return seen;
}

} // namespace

OsmSnapshot OsmSnapshot::read(const std::filesystem::path& path)
{
    OsmSnapshot snapshot;
    Collector collector;
    collector.snapshot = &snapshot;
    osmium::io::Reader reader{path.string()};
    osmium::apply(reader, collector);
    reader.close();
    return snapshot;
}

std::vector<const SnapshotWay*> OsmSnapshot::drivableWays() const
{
    std::vector<const SnapshotWay*> result;
    for (const SnapshotWay& way : ways) {
        const std::string access = way.tag("access");
        if (isCarRoad(way.tag("highway")) && access != "no" && access != "private") {
            result.push_back(&way);
        }
    }
    return result;
}

std::size_t OsmSnapshot::junctionCount() const
{
    std::map<std::int64_t, int> uses;
    std::set<std::int64_t> ends;
    for (const SnapshotWay* way : drivableWays()) {
        for (const std::int64_t ref : std::set<std::int64_t>(way->refs.begin(), way->refs.end())) {
            ++uses[ref];
        }
        ends.insert(way->refs.front());
        ends.insert(way->refs.back());
    }
    std::size_t count = 0;
    for (const auto& [id, n] : uses) {
        if (n >= 2 || ends.contains(id)) {
            ++count;
        }
    }
    return count;
}

bool OsmSnapshot::stronglyConnected() const
{
    std::map<std::int64_t, std::vector<std::int64_t>> forward;
    std::map<std::int64_t, std::vector<std::int64_t>> backward;
    for (const SnapshotWay* way : drivableWays()) {
        const std::string oneway = way->tag("oneway");
        const bool along = oneway != "-1";
        const bool against = oneway != "yes" && oneway != "-1" && way->tag("junction") != "roundabout";
        for (std::size_t i = 1; i < way->refs.size(); ++i) {
            const std::int64_t a = way->refs[i - 1];
            const std::int64_t b = way->refs[i];
            if (along) {
                forward[a].push_back(b);
                backward[b].push_back(a);
            }
            if (against || oneway == "-1") {
                forward[b].push_back(a);
                backward[a].push_back(b);
            }
        }
    }
    if (forward.empty()) {
        return false;
    }
    std::set<std::int64_t> all;
    for (const auto& [id, next] : forward) {
        all.insert(id);
        all.insert(next.begin(), next.end());
    }
    const std::int64_t start = forward.begin()->first;
    return reach(forward, start) == all && reach(backward, start) == all;
}

ScratchDir::ScratchDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tw-mapgen-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    m_path = pattern;
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string readFileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

} // namespace tw::service::testing
