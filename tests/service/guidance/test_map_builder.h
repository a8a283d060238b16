#pragma once
// TestMapBuilder: small hand-made RoadMaps for the service's tests, laid out in
// metres east (x) and north (y) of a fixed origin, so a test reads like a
// sketch of the streets it needs.

#include "service/map/road_map.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tw::service::test {

enum class Direction { TwoWay, OneWay };

struct RoadStyle {
    RoadClass roadClass = RoadClass::Residential;
    std::uint8_t flags = 0;
    double speedKmh = 40;
    std::string ref;
};

class TestMapBuilder {
public:
    static constexpr double kOriginLat = 41.0;
    static constexpr double kOriginLon = -99.0;

    static Coordinate at(double x, double y)
    {
        constexpr double kMetresPerDegree = 111195.0;
        const double lat = kOriginLat + y / kMetresPerDegree;
        const double lon = kOriginLon + x / (kMetresPerDegree * std::cos(kOriginLat * 3.14159265358979323846 / 180.0));
        return {lat, lon};
    }

    // Returns the junction at (x, y), making it on first use.
    NodeId node(double x, double y)
    {
        const auto key = std::make_pair(std::lround(x * 10), std::lround(y * 10));
        for (std::size_t i = 0; i < m_points.size(); ++i) {
            if (m_points[i] == key)
                return static_cast<NodeId>(i);
        }
        m_points.push_back(key);
        m_map.nodes.push_back(at(x, y));
        return static_cast<NodeId>(m_map.nodes.size() - 1);
    }

    // Adds a road through the given points (each one a junction), one edge per
    // consecutive pair, both ways unless OneWay.
    void road(const std::vector<std::pair<double, double>>& points, const std::string& name,
              Direction direction = Direction::TwoWay, const RoadStyle& style = {})
    {
        for (std::size_t i = 1; i < points.size(); ++i) {
            const NodeId a = node(points[i - 1].first, points[i - 1].second);
            const NodeId b = node(points[i].first, points[i].second);
            addEdge(a, b, name, style, direction == Direction::TwoWay);
        }
    }

    void address(const std::string& street, const std::string& houseNumber, double x, double y,
                 const std::string& city = "Testville", const std::string& state = "QZ",
                 const std::string& postcode = "11111")
    {
        AddressPoint a;
        a.street = text(street);
        a.houseNumber = text(houseNumber);
        a.number = std::atoi(houseNumber.c_str());
        a.city = text(city);
        a.state = text(state);
        a.postcode = text(postcode);
        a.location = at(x, y);
        m_map.addresses.push_back(a);
    }

    void interpolation(const std::string& street, std::int32_t from, std::int32_t to, Parity parity,
                       const std::vector<std::pair<double, double>>& points, const std::string& postcode = "11111",
                       const std::string& city = "Testville")
    {
        InterpolationLine line;
        line.street = text(street);
        line.fromNumber = from;
        line.toNumber = to;
        line.parity = parity;
        line.shapeFirst = static_cast<std::uint32_t>(m_interpolationShape.size());
        line.shapeCount = static_cast<std::uint32_t>(points.size());
        for (const auto& [x, y] : points)
            m_interpolationShape.push_back(at(x, y));
        line.city = text(city);
        line.state = text("QZ");
        line.postcode = text(postcode);
        m_map.interpolations.push_back(line);
    }

    RoadMap build()
    {
        RoadMap map = m_map;
        std::vector<std::size_t> order(m_raw.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return m_raw[a].edge.source < m_raw[b].edge.source; });
        std::vector<EdgeId> newId(m_raw.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            newId[order[i]] = static_cast<EdgeId>(i);
        map.edges.clear();
        map.shape.clear();
        for (std::size_t i : order) {
            Edge edge = m_raw[i].edge;
            edge.twin = m_raw[i].twin == kNoId ? kNoId : newId[m_raw[i].twin];
            edge.shapeFirst = static_cast<std::uint32_t>(map.shape.size());
            edge.shapeCount = 2;
            map.shape.push_back(map.nodes[edge.source]);
            map.shape.push_back(map.nodes[edge.target]);
            map.edges.push_back(edge);
        }
        const std::uint32_t interpolationBase = static_cast<std::uint32_t>(map.shape.size());
        map.shape.append(m_interpolationShape.begin(), m_interpolationShape.end());
        for (InterpolationLine& line : map.interpolations.modify())
            line.shapeFirst += interpolationBase;
        std::vector<EdgeId> firstEdge(map.nodes.size() + 1, 0);
        for (const Edge& edge : map.edges)
            ++firstEdge[edge.source + 1];
        for (std::size_t n = 1; n < firstEdge.size(); ++n)
            firstEdge[n] += firstEdge[n - 1];
        map.firstEdge = std::move(firstEdge);
        map.finishIndexes();
        if (const std::string fault = map.validate(); !fault.empty())
            throw std::logic_error("test map invalid: " + fault);
        return map;
    }

private:
    static RoadMap emptyMap()
    {
        RoadMap map;
        map.strings.push_back("");
        return map;
    }

    struct RawEdge {
        Edge edge;
        EdgeId twin = kNoId; // index into m_raw
    };

    StringId text(const std::string& value)
    {
        if (value.empty())
            return 0;
        if (auto it = m_strings.find(value); it != m_strings.end())
            return it->second;
        m_map.strings.push_back(value);
        const auto id = static_cast<StringId>(m_map.strings.size() - 1);
        m_strings.emplace(value, id);
        return id;
    }

    void addEdge(NodeId a, NodeId b, const std::string& name, const RoadStyle& style, bool twoWay)
    {
        Edge edge;
        edge.source = a;
        edge.target = b;
        edge.name = text(name);
        edge.ref = text(style.ref);
        edge.roadClass = style.roadClass;
        edge.flags = static_cast<std::uint8_t>(style.flags | (twoWay ? 0 : kEdgeOneway));
        const double dx = (m_points[b].first - m_points[a].first) / 10.0;
        const double dy = (m_points[b].second - m_points[a].second) / 10.0;
        edge.metres = static_cast<float>(std::sqrt(dx * dx + dy * dy));
        edge.speedKmh = static_cast<std::uint8_t>(style.speedKmh);
        edge.deciseconds = std::max<std::uint32_t>(1, static_cast<std::uint32_t>(edge.metres / (style.speedKmh / 3.6) * 10));
        m_raw.push_back({edge, kNoId});
        if (twoWay) {
            Edge back = edge;
            std::swap(back.source, back.target);
            back.flags = static_cast<std::uint8_t>(back.flags | kEdgeAgainstWay);
            m_raw.push_back({back, static_cast<EdgeId>(m_raw.size() - 1)});
            m_raw[m_raw.size() - 2].twin = static_cast<EdgeId>(m_raw.size() - 1);
        }
    }

    RoadMap m_map = emptyMap();
    std::vector<std::pair<long, long>> m_points;
    std::vector<Coordinate> m_interpolationShape;
    std::vector<RawEdge> m_raw;
    std::unordered_map<std::string, StringId> m_strings;
};

} // namespace tw::service::test
