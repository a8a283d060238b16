#include "service/generator/osm_file_writer.h"

#include "service/generator/generator_error.h"

#include <osmium/builder/osm_object_builder.hpp>
#include <osmium/io/pbf_output.hpp>
#include <osmium/io/writer.hpp>
#include <osmium/memory/buffer.hpp>
#include <osmium/osm/box.hpp>
#include <osmium/osm/location.hpp>

#include <exception>
#include <string>
#include <system_error>

namespace tw::service {

namespace {

// Objects are handed to libosmium in buffers of about this size; a full buffer
// becomes one or more PBF blocks, so memory stays flat however big the map.
constexpr std::size_t kBufferBytes = 4U * 1024U * 1024U;
constexpr std::size_t kFlushAt = kBufferBytes - 256U * 1024U;

void addTags(osmium::builder::Builder& parent, std::span<const OsmTag> tags)
{
    if (tags.empty()) {
        return;
    }
    osmium::builder::TagListBuilder tagBuilder{parent};
    for (const auto& [key, value] : tags) {
        tagBuilder.add_tag(key.data(), key.size(), value.data(), value.size());
    }
}

} // namespace

struct OsmFileWriter::State {
    osmium::io::Writer writer;
    osmium::memory::Buffer buffer{kBufferBytes, osmium::memory::Buffer::auto_grow::yes};

    State(const osmium::io::File& file, const osmium::io::Header& header)
        : writer(file, header, osmium::io::overwrite::allow, osmium::io::fsync::yes)
    {
    }
};

OsmFileWriter::OsmFileWriter(const std::filesystem::path& target, const OsmBounds& bounds)
    : m_target(target), m_temp(target.string() + ".part")
{
    osmium::io::Header header;
    header.set("generator", "tarnwickley-mapgen");
    header.set("sorting", "Type_then_ID");
    header.add_box(osmium::Box{bounds.minLon, bounds.minLat, bounds.maxLon, bounds.maxLat});
    try {
        // Metadata (version, timestamp, user) would carry nothing but noise.
        const osmium::io::File file{m_temp.string(), "pbf,add_metadata=false"};
        m_state = std::make_unique<State>(file, header);
    } catch (const std::exception& error) {
        fail(error.what());
    }
}

OsmFileWriter::~OsmFileWriter()
{
    if (m_committed) {
        return;
    }
    try {
        if (m_state) {
            m_state->writer.close();
        }
    } catch (...) {
        // The partial file is removed below; there is nothing more to report.
    }
    std::error_code ignored;
    std::filesystem::remove(m_temp, ignored);
}

void OsmFileWriter::fail(std::string_view what) const
{
    throw GeneratorError("cannot write the map " + m_target.string() + ": " + std::string(what));
}

void OsmFileWriter::flushIfFull()
{
    if (m_state->buffer.committed() < kFlushAt) {
        return;
    }
    try {
        m_state->writer(std::move(m_state->buffer));
    } catch (const std::exception& error) {
        fail(error.what());
    }
    m_state->buffer = osmium::memory::Buffer{kBufferBytes, osmium::memory::Buffer::auto_grow::yes};
}

void OsmFileWriter::addNode(std::int64_t id, double lat, double lon, std::span<const OsmTag> tags)
{
    if (m_wayCount != 0 || m_lastRelationId != 0 || id <= m_lastNodeId) {
        throw GeneratorError("internal error: node " + std::to_string(id) + " written out of order");
    }
    m_lastNodeId = id;
    {
        osmium::builder::NodeBuilder builder{m_state->buffer};
        builder.set_id(id);
        builder.set_location(osmium::Location{lon, lat});
        addTags(builder, tags);
    }
    m_state->buffer.commit();
    ++m_nodeCount;
    flushIfFull();
}

void OsmFileWriter::addWay(std::int64_t id, std::span<const std::int64_t> nodeIds, std::span<const OsmTag> tags)
{
    if (id <= m_lastWayId) {
        throw GeneratorError("internal error: way " + std::to_string(id) + " written out of order");
    }
    m_lastWayId = id;
    {
        osmium::builder::WayBuilder builder{m_state->buffer};
        builder.set_id(id);
        {
            osmium::builder::WayNodeListBuilder nodes{builder};
            for (const std::int64_t ref : nodeIds) {
                nodes.add_node_ref(ref);
            }
        }
        addTags(builder, tags);
    }
    m_state->buffer.commit();
    ++m_wayCount;
    flushIfFull();
}

void OsmFileWriter::addRelation(std::int64_t id, std::span<const Member> members, std::span<const OsmTag> tags)
{
    if (id <= m_lastRelationId) {
        throw GeneratorError("internal error: relation " + std::to_string(id) + " written out of order");
    }
    m_lastRelationId = id;
    {
        osmium::builder::RelationBuilder builder{m_state->buffer};
        builder.set_id(id);
        {
            osmium::builder::RelationMemberListBuilder list{builder};
            for (const Member& member : members) {
                list.add_member(member.type == 'n' ? osmium::item_type::node : osmium::item_type::way, member.ref,
                                member.role);
            }
        }
        addTags(builder, tags);
    }
    m_state->buffer.commit();
    flushIfFull();
}

void OsmFileWriter::commit()
{
    try {
        if (m_state->buffer.committed() > 0) {
            m_state->writer(std::move(m_state->buffer));
        }
        m_state->writer.close();
    } catch (const std::exception& error) {
        fail(error.what());
    }
    std::error_code error;
    std::filesystem::rename(m_temp, m_target, error);
    if (error) {
        fail(error.message());
    }
    m_committed = true;
}

} // namespace tw::service
