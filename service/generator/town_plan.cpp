#include "service/generator/town_plan.h"

#include "service/generator/generator_error.h"
#include "service/generator/osm_file_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <numbers>

namespace tw::service {

namespace {

constexpr double kEarthRadius = 6371008.8;     // metres, the mean radius
constexpr double kJunctionClearance = 25.0;    // no house closer to a junction than this
constexpr double kHouseOffset = 15.0;          // address node beside the street
constexpr double kBuildingNear = 8.0;          // building outline: from the centre line
constexpr double kBuildingFar = 20.0;
constexpr double kBuildingHalfWidth = 5.0;

struct PlanNode {
    LocalPoint point;
    TagList tags;
};

struct PlanWay {
    std::vector<std::int64_t> refs;
    TagList tags;
};

// A house the plan places: its number, where its address node (or building
// centre) stands, and the unit vector from the street towards it.
struct House {
    int number = 0;
    LocalPoint point;
    LocalPoint outward;
    LocalPoint along;
};

LocalPoint plus(LocalPoint a, LocalPoint b, double scale)
{
    return {a.x + b.x * scale, a.y + b.y * scale};
}

// Polyline geometry of one street: cumulative numbering distance per vertex.
class StreetLine {
public:
    explicit StreetLine(const StreetSpec& street) : m_points(street.points)
    {
        m_distance.reserve(m_points.size());
        double d = street.startDistance;
        for (std::size_t i = 0; i < m_points.size(); ++i) {
            if (i > 0) {
                d += std::hypot(m_points[i].x - m_points[i - 1].x, m_points[i].y - m_points[i - 1].y);
            }
            m_distance.push_back(d);
        }
    }

    double distanceAt(std::size_t vertex) const { return m_distance[vertex]; }

    // The point `d` along the line and the unit direction there.
    std::pair<LocalPoint, LocalPoint> at(double d) const
    {
        std::size_t i = 1;
        while (i + 1 < m_points.size() && m_distance[i] < d) {
            ++i;
        }
        const LocalPoint a = m_points[i - 1];
        const LocalPoint b = m_points[i];
        const double length = m_distance[i] - m_distance[i - 1];
        const LocalPoint direction{(b.x - a.x) / length, (b.y - a.y) / length};
        return {plus(a, direction, d - m_distance[i - 1]), direction};
    }

private:
    const std::vector<LocalPoint>& m_points;
    std::vector<double> m_distance;
};

Addressing addressingAt(const StreetSpec& street, double d)
{
    for (const AddressStretch& stretch : street.addresses) {
        if (d >= stretch.from && d < stretch.to) {
            return stretch.addressing;
        }
    }
    return Addressing::None;
}

// Collects nodes and ways in id order; equal points share one node.
class PlanBuilder {
public:
    std::int64_t pointNode(LocalPoint point)
    {
        const auto key = std::make_pair(std::llround(point.x * 100.0), std::llround(point.y * 100.0));
        const auto [it, inserted] = m_byPoint.try_emplace(key, static_cast<std::int64_t>(m_nodes.size()) + 1);
        if (inserted) {
            m_nodes.push_back({point, {}});
        }
        return it->second;
    }

    std::int64_t newNode(LocalPoint point, TagList tags)
    {
        m_nodes.push_back({point, std::move(tags)});
        return static_cast<std::int64_t>(m_nodes.size());
    }

    void addWay(std::vector<std::int64_t> refs, TagList tags) { m_ways.push_back({std::move(refs), std::move(tags)}); }

    void tagNode(std::int64_t id, std::string key, std::string value)
    {
        m_nodes[static_cast<std::size_t>(id - 1)].tags.emplace_back(std::move(key), std::move(value));
    }

    const std::vector<PlanNode>& nodes() const { return m_nodes; }
    const std::vector<PlanWay>& ways() const { return m_ways; }

private:
    std::map<std::pair<long long, long long>, std::int64_t> m_byPoint;
    std::vector<PlanNode> m_nodes;
    std::vector<PlanWay> m_ways;
};

std::vector<OsmTag> osmTags(const TagList& tags)
{
    std::vector<OsmTag> result;
    result.reserve(tags.size());
    for (const auto& [key, value] : tags) {
        result.emplace_back(key, value);
    }
    return result;
}

} // namespace

TownPlan::TownPlan(double originLat, double originLon, PlanPlace place)
    : m_originLat(originLat), m_originLon(originLon), m_place(std::move(place))
{
}

std::size_t TownPlan::addStreet(StreetSpec street)
{
    m_streets.push_back(std::move(street));
    return m_streets.size() - 1;
}

void TownPlan::addRestriction(std::string value, std::size_t fromStreet, LocalPoint via, std::size_t toStreet)
{
    m_restrictions.push_back({std::move(value), fromStreet, via, toStreet});
}

void TownPlan::tagPoint(LocalPoint point, TagList tags)
{
    m_pointTags.emplace_back(point, std::move(tags));
}

void TownPlan::addFeature(std::vector<LocalPoint> points, TagList tags)
{
    m_features.push_back({std::move(points), std::move(tags)});
}

int TownPlan::houseNumber(double distance, int parity)
{
    int number = 100 + static_cast<int>(std::floor(distance * 10.0 / 13.0));
    if (std::abs(number % 2) != parity) {
        ++number;
    }
    return number;
}

void TownPlan::write(const std::filesystem::path& path) const
{
    PlanBuilder plan;

    // 1. Every vertex of every street and feature, shared where points coincide.
    std::vector<std::vector<std::int64_t>> streetRefs;
    std::map<std::int64_t, int> uses;
    for (const StreetSpec& street : m_streets) {
        std::vector<std::int64_t> refs;
        for (const LocalPoint& point : street.points) {
            refs.push_back(plan.pointNode(point));
        }
        std::vector<std::int64_t> distinct = refs;
        std::sort(distinct.begin(), distinct.end());
        distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
        for (const std::int64_t id : distinct) {
            ++uses[id];
        }
        if (street.turningCircleAtEnd) {
            plan.tagNode(refs.back(), "highway", "turning_circle");
        }
        streetRefs.push_back(std::move(refs));
    }
    std::vector<std::vector<std::int64_t>> featureRefs;
    for (const Feature& feature : m_features) {
        std::vector<std::int64_t> refs;
        for (const LocalPoint& point : feature.points) {
            refs.push_back(plan.pointNode(point));
        }
        for (const std::int64_t id : refs) {
            ++uses[id];
        }
        featureRefs.push_back(std::move(refs));
    }

    for (const auto& [point, tags] : m_pointTags) {
        const std::int64_t id = plan.pointNode(point);
        for (const auto& [key, value] : tags) {
            plan.tagNode(id, key, value);
        }
    }

    // 2. The roads and features themselves (street s is way s + 1).
    for (std::size_t s = 0; s < m_streets.size(); ++s) {
        const StreetSpec& street = m_streets[s];
        std::vector<std::int64_t> refs = streetRefs[s];
        if (street.wayDirection == WayDirection::AgainstPoints) {
            std::reverse(refs.begin(), refs.end());
        }
        TagList tags = street.tags;
        if (!street.name.empty()) {
            tags.emplace_back("name", street.name);
        }
        plan.addWay(std::move(refs), std::move(tags));
    }
    for (std::size_t f = 0; f < m_features.size(); ++f) {
        plan.addWay(featureRefs[f], m_features[f].tags);
    }

    // 3. Houses, block by block between junctions.
    const auto addressTags = [this](const StreetSpec& street, int number, LocalPoint at) {
        return TagList{{"addr:housenumber", std::to_string(number)},
                       {"addr:street", street.name},
                       {"addr:city", m_place.city},
                       {"addr:postcode", m_place.postcodeAt(at)},
                       {"addr:state", m_place.state}};
    };
    for (std::size_t s = 0; s < m_streets.size(); ++s) {
        const StreetSpec& street = m_streets[s];
        if (street.addresses.empty()) {
            continue;
        }
        const StreetLine line(street);
        const std::vector<std::int64_t>& refs = streetRefs[s];
        std::size_t blockStart = 0;
        for (std::size_t v = 1; v < refs.size(); ++v) {
            const bool junction = v + 1 == refs.size() || uses[refs[v]] >= 2;
            if (!junction) {
                continue;
            }
            const double from = line.distanceAt(blockStart) + kJunctionClearance;
            const double to = line.distanceAt(v) - kJunctionClearance;
            blockStart = v;
            // Interpolated houses of this block, odd side then even side.
            std::vector<House> interpolated[2];
            for (double d = from; d <= to + 1e-6; d += street.houseSpacing) {
                const Addressing addressing = addressingAt(street, d);
                if (addressing == Addressing::None || d < 0.0) {
                    continue;
                }
                const auto [base, along] = line.at(d);
                const LocalPoint left{-along.y, along.x};
                for (int parity : {1, 0}) {
                    const bool onLeft = (parity == 1) == (street.oddSide == OddSide::Left);
                    const LocalPoint outward = onLeft ? left : LocalPoint{-left.x, -left.y};
                    const House house{houseNumber(d, parity), plus(base, outward, kHouseOffset), outward, along};
                    switch (addressing) {
                    case Addressing::Nodes:
                        plan.newNode(house.point, addressTags(street, house.number, house.point));
                        break;
                    case Addressing::Buildings: {
                        const LocalPoint nearMid = plus(base, outward, kBuildingNear);
                        const LocalPoint farMid = plus(base, outward, kBuildingFar);
                        std::vector<std::int64_t> corners{
                            plan.newNode(plus(nearMid, along, -kBuildingHalfWidth), {}),
                            plan.newNode(plus(nearMid, along, kBuildingHalfWidth), {}),
                            plan.newNode(plus(farMid, along, kBuildingHalfWidth), {}),
                            plan.newNode(plus(farMid, along, -kBuildingHalfWidth), {}),
                        };
                        corners.push_back(corners.front());
                        TagList tags{{"building", "yes"}};
                        const TagList address = addressTags(street, house.number, house.point);
                        tags.insert(tags.end(), address.begin(), address.end());
                        plan.addWay(std::move(corners), std::move(tags));
                        break;
                    }
                    case Addressing::Interpolation:
                        interpolated[parity == 1 ? 0 : 1].push_back(house);
                        break;
                    case Addressing::None:
                        break;
                    }
                }
            }
            for (int side = 0; side < 2; ++side) {
                const std::vector<House>& houses = interpolated[side];
                if (houses.empty()) {
                    continue;
                }
                const House& first = houses.front();
                const House& last = houses.back();
                const std::int64_t firstId = plan.newNode(first.point, addressTags(street, first.number, first.point));
                if (houses.size() == 1) {
                    continue;
                }
                const std::int64_t lastId = plan.newNode(last.point, addressTags(street, last.number, last.point));
                plan.addWay({firstId, lastId},
                            {{"addr:interpolation", side == 0 ? "odd" : "even"},
                             {"addr:street", street.name}});
            }
        }
    }

    // 4. Out to the file, nodes then ways, in id order.
    const double degreesPerRadian = 180.0 / std::numbers::pi;
    const double metresPerDegreeLat = kEarthRadius / degreesPerRadian;
    const double metresPerDegreeLon = metresPerDegreeLat * std::cos(m_originLat / degreesPerRadian);
    OsmBounds bounds{std::numeric_limits<double>::max(), std::numeric_limits<double>::max(),
                     std::numeric_limits<double>::lowest(), std::numeric_limits<double>::lowest()};
    std::vector<std::pair<double, double>> latLon;
    latLon.reserve(plan.nodes().size());
    for (const PlanNode& node : plan.nodes()) {
        const double lat = m_originLat + node.point.y / metresPerDegreeLat;
        const double lon = m_originLon + node.point.x / metresPerDegreeLon;
        latLon.emplace_back(lat, lon);
        bounds.minLat = std::min(bounds.minLat, lat);
        bounds.maxLat = std::max(bounds.maxLat, lat);
        bounds.minLon = std::min(bounds.minLon, lon);
        bounds.maxLon = std::max(bounds.maxLon, lon);
    }
    OsmFileWriter writer(path, bounds);
    for (std::size_t i = 0; i < plan.nodes().size(); ++i) {
        const std::vector<OsmTag> tags = osmTags(plan.nodes()[i].tags);
        writer.addNode(static_cast<std::int64_t>(i) + 1, latLon[i].first, latLon[i].second, tags);
    }
    for (std::size_t i = 0; i < plan.ways().size(); ++i) {
        const std::vector<OsmTag> tags = osmTags(plan.ways()[i].tags);
        writer.addWay(static_cast<std::int64_t>(i) + 1, plan.ways()[i].refs, tags);
    }
    for (std::size_t i = 0; i < m_restrictions.size(); ++i) {
        const Restriction& r = m_restrictions[i];
        const std::vector<OsmFileWriter::Member> members = {
            {'w', static_cast<std::int64_t>(r.from) + 1, "from"},
            {'n', plan.pointNode(r.via), "via"},
            {'w', static_cast<std::int64_t>(r.to) + 1, "to"}};
        const TagList tags = {{"type", "restriction"}, {"restriction", r.value}};
        writer.addRelation(static_cast<std::int64_t>(i) + 1, members, osmTags(tags));
    }
    writer.commit();
}

} // namespace tw::service
