#pragma once
// Benchmark support: writes a large synthetic street grid as .osm.pbf, so the
// import and routing benchmarks can run on a million-junction map without any
// download. side x side junctions; row streets carry one shape point between
// junctions (as real streets do); every tenth row and column is a faster
// arterial; some rows are one-way in alternating directions.

#include <osmium/builder/attr.hpp>
#include <osmium/io/pbf_output.hpp>
#include <osmium/io/writer.hpp>
#include <osmium/memory/buffer.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace tw::service::bench {

inline void writeGridMap(const std::string& path, int side)
{
    using namespace osmium::builder::attr;  // NOLINT: the builder's attribute vocabulary
    osmium::io::Header header;
    header.set("generator", "tarnwickley benchmark grid");
    osmium::io::Writer writer(osmium::io::File(path, "pbf"), header, osmium::io::overwrite::allow);
    osmium::memory::Buffer buffer(1 << 20, osmium::memory::Buffer::auto_grow::yes);
    auto flush = [&](bool force) {
        if (force || buffer.committed() > (1u << 20) - (1u << 16)) {
            writer(std::move(buffer));
            buffer = osmium::memory::Buffer(1 << 20, osmium::memory::Buffer::auto_grow::yes);
        }
    };
    const std::int64_t n = static_cast<std::int64_t>(side) * side;
    auto junction = [side](int r, int c) { return static_cast<std::int64_t>(r) * side + c + 1; };
    auto middle = [side, n](int r, int c) { return n + static_cast<std::int64_t>(r) * side + c + 1; };
    auto lat = [](double r) { return 40.0 + r * 0.001; };
    auto lon = [](double c) { return -100.0 + c * 0.0013; };
    for (int r = 0; r < side; ++r) {
        for (int c = 0; c < side; ++c) {
            osmium::builder::add_node(buffer, _id(junction(r, c)), _version(1),
                                      _location(osmium::Location(lon(c), lat(r))));
            flush(false);
        }
    }
    for (int r = 0; r < side; ++r) {
        for (int c = 0; c + 1 < side; ++c) {
            // A slight bend, so the shape point matters for geometry.
            osmium::builder::add_node(buffer, _id(middle(r, c)), _version(1),
                                      _location(osmium::Location(lon(c + 0.5), lat(r + 0.05))));
            flush(false);
        }
    }
    std::int64_t wayId = 1;
    auto addStreet = [&](const std::vector<osmium::object_id_type>& refs, bool arterial, int oneway,
                         const std::string& name) {
        std::vector<std::pair<std::string, std::string>> tags = {
            {"highway", arterial ? "primary" : "residential"}, {"name", name}};
        if (arterial) {
            tags.emplace_back("maxspeed", "45 mph");
        }
        if (oneway != 0) {
            tags.emplace_back("oneway", oneway > 0 ? "yes" : "-1");
        }
        osmium::builder::add_way(buffer, _id(wayId++), _version(1), _nodes(refs), _tags(tags));
        flush(false);
    };
    for (int r = 0; r < side; ++r) {
        std::vector<osmium::object_id_type> refs;
        for (int c = 0; c < side; ++c) {
            refs.push_back(junction(r, c));
            if (c + 1 < side) {
                refs.push_back(middle(r, c));
            }
        }
        const int oneway = (r % 7 == 3) ? ((r / 7) % 2 == 0 ? 1 : -1) : 0;
        addStreet(refs, r % 10 == 0, r % 10 == 0 ? 0 : oneway, "Row " + std::to_string(r) + " Street");
    }
    for (int c = 0; c < side; ++c) {
        std::vector<osmium::object_id_type> refs;
        for (int r = 0; r < side; ++r) {
            refs.push_back(junction(r, c));
        }
        addStreet(refs, c % 10 == 0, 0, "Column " + std::to_string(c) + " Avenue");
    }
    flush(true);
    writer.close();
}

}  // namespace tw::service::bench
