#pragma once
// OsmFileWriter: writes OSM nodes and ways to an .osm.pbf file, streaming, with
// output that depends on nothing but the objects given: no timestamps, no object
// metadata, a fixed header ("generator" = tarnwickley-mapgen, sorted by type then
// id). Memory stays bounded: objects are handed to libosmium in small buffers.
//
// Contract:
// - Nodes first, then ways, then relations, each with strictly increasing ids (the order every
//   reader of sorted files expects); a violation throws GeneratorError.
// - The data goes to a temporary file beside the target; commit() flushes,
//   syncs and renames it over the target. Destroying the writer without commit()
//   removes the temporary file and leaves any old target untouched.
// - Every failure (cannot create, disk full, rename failed) throws GeneratorError
//   naming the target file.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace tw::service {

using OsmTag = std::pair<std::string_view, std::string_view>;

struct OsmBounds {
    double minLat = 0.0;
    double minLon = 0.0;
    double maxLat = 0.0;
    double maxLon = 0.0;
};

class OsmFileWriter {
public:
    // Opens the temporary file next to `target`; `bounds` goes into the header.
    OsmFileWriter(const std::filesystem::path& target, const OsmBounds& bounds);
    ~OsmFileWriter();
    OsmFileWriter(const OsmFileWriter&) = delete;
    OsmFileWriter& operator=(const OsmFileWriter&) = delete;

    void addNode(std::int64_t id, double lat, double lon, std::span<const OsmTag> tags = {});
    void addWay(std::int64_t id, std::span<const std::int64_t> nodeIds, std::span<const OsmTag> tags);

    // A relation member: 'n' (node) or 'w' (way), its id and role.
    struct Member {
        char type;
        std::int64_t ref;
        std::string role;
    };
    // Relations come after every way, in increasing id order.
    void addRelation(std::int64_t id, std::span<const Member> members, std::span<const OsmTag> tags);

    // Finishes the file and moves it to the target name.
    void commit();

    std::uint64_t nodeCount() const { return m_nodeCount; }
    std::uint64_t wayCount() const { return m_wayCount; }

private:
    struct State;
    void flushIfFull();
    [[noreturn]] void fail(std::string_view what) const;

    std::filesystem::path m_target;
    std::filesystem::path m_temp;
    std::unique_ptr<State> m_state;
    std::int64_t m_lastNodeId = 0;
    std::int64_t m_lastWayId = 0;
    std::int64_t m_lastRelationId = 0;
    std::uint64_t m_nodeCount = 0;
    std::uint64_t m_wayCount = 0;
    bool m_committed = false;
};

} // namespace tw::service
