#include "service/geocoder/geocoder.h"

#include "service/map/map_error.h"
#include "service/map/mapped_file.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numeric>

namespace tw::service {

struct Geocoder::Filter {
    std::string city;
    std::string state;
    std::string zip;
    // The same as classes of the map's strings (textClass, zipClass), so a
    // request compares numbers across the thousands of addresses of a common
    // street name.
    std::uint32_t cityClass = kNoClass;
    std::uint32_t stateClass = kNoClass;
    std::uint32_t zipClass = kNoClass;

    bool empty() const { return city.empty() && state.empty() && zip.empty(); }
};

namespace {

constexpr double kEarthRadiusMetres = 6371008.8;

double metresBetween(Coordinate a, Coordinate b)
{
    constexpr double kRad = 3.14159265358979323846 / 180.0;
    const double dLat = (b.lat - a.lat) * kRad;
    const double dLon = (b.lon - a.lon) * kRad;
    const double h = std::sin(dLat / 2) * std::sin(dLat / 2)
        + std::cos(a.lat * kRad) * std::cos(b.lat * kRad) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2 * kEarthRadiusMetres * std::asin(std::min(1.0, std::sqrt(h)));
}

// Returns the point at `fraction` (0..1) of the polyline's length.
Coordinate alongPolyline(std::span<const Coordinate> line, double fraction)
{
    if (line.empty())
        return {};
    double total = 0;
    for (size_t i = 1; i < line.size(); ++i)
        total += metresBetween(line[i - 1], line[i]);
    double wanted = std::clamp(fraction, 0.0, 1.0) * total;
    for (size_t i = 1; i < line.size(); ++i) {
        const double piece = metresBetween(line[i - 1], line[i]);
        if (wanted <= piece && piece > 0) {
            const double t = wanted / piece;
            return {line[i - 1].lat + (line[i].lat - line[i - 1].lat) * t,
                    line[i - 1].lon + (line[i].lon - line[i - 1].lon) * t};
        }
        wanted -= piece;
    }
    return line.back();
}

bool parityFits(Parity parity, std::int32_t number)
{
    switch (parity) {
    case Parity::Odd: return number % 2 != 0;
    case Parity::Even: return number % 2 == 0;
    case Parity::All: return true;
    }
    return true;
}

std::string upperAscii(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

} // namespace

namespace {

// Raise on any change to how the street lists are made (keys, sorting).
constexpr std::uint32_t kListsVersion = 1;
constexpr std::uint32_t kListsVersionTag = sectionTag("GVER");
constexpr std::uint32_t kFirstNameTag = sectionTag("GFNM");
constexpr std::uint32_t kNamesTag = sectionTag("GNAM");
constexpr std::uint32_t kFirstEdgeTag = sectionTag("GFED");
constexpr std::uint32_t kEdgesTag = sectionTag("GEDG");
constexpr std::uint32_t kFirstAddressTag = sectionTag("GFAD");
constexpr std::uint32_t kAddressesTag = sectionTag("GADR");
constexpr std::uint32_t kByCityTag = sectionTag("GCTY");
constexpr std::uint32_t kFirstInterpolationTag = sectionTag("GFIN");
constexpr std::uint32_t kInterpolationsTag = sectionTag("GINT");

template <typename Lists, typename Visit>
void forEachList(Lists& lists, Visit&& visit)
{
    visit(kFirstNameTag, lists.firstName);
    visit(kNamesTag, lists.names);
    visit(kFirstEdgeTag, lists.firstEdge);
    visit(kEdgesTag, lists.edges);
    visit(kFirstAddressTag, lists.firstAddress);
    visit(kAddressesTag, lists.addresses);
    visit(kByCityTag, lists.byCity);
    visit(kFirstInterpolationTag, lists.firstInterpolation);
    visit(kInterpolationsTag, lists.interpolations);
}

// Whether `first` is a CSR index over `streets` rows of `items` items.
bool soundIndex(const MapArray<std::uint32_t>& first, std::size_t streets, std::size_t items)
{
    if (first.size() != streets + 1 || first.front() != 0 || first.back() != items)
        return false;
    for (std::size_t i = 0; i < streets; ++i) {
        if (first[i] > first[i + 1])
            return false;
    }
    return true;
}

bool allBelow(std::span<const std::uint32_t> items, std::size_t limit)
{
    return std::all_of(items.begin(), items.end(), [limit](std::uint32_t v) { return v < limit; });
}

} // namespace

Geocoder::Geocoder(const RoadMap& map)
    : m_map(map)
{
    // Place names and house numbers compared per request, simplified once.
    m_simple.reserve(m_map.strings.size());
    for (const std::string& text : m_map.strings)
        m_simple.push_back(simplifyText(text));
    m_textClass.reserve(m_simple.size());
    for (const std::string& text : m_simple)
        m_textClass.push_back(m_textClasses.try_emplace(text, static_cast<std::uint32_t>(m_textClasses.size())).first->second);
    m_zipClass.reserve(m_simple.size());
    for (StringId id = 0; id < m_simple.size(); ++id) {
        const std::string zip(zipOf(id));
        m_zipClass.push_back(m_zipClasses.try_emplace(zip, static_cast<std::uint32_t>(m_zipClasses.size())).first->second);
    }
    Lists lists;
    if (!readLists(lists))
        lists = buildLists();
    adopt(std::move(lists));
}

Geocoder::Lists Geocoder::buildLists() const
{
    // One street per normalised key; every map spelling with that key joins it.
    struct Building {
        std::vector<StringId> nameIds;
        std::vector<std::uint32_t> addresses;
        std::vector<std::uint32_t> interpolations;
        std::vector<EdgeId> edges;
    };
    std::vector<Building> streets;
    std::unordered_map<std::string, std::size_t> byFullKey;
    std::unordered_map<StringId, std::size_t> byNameId;
    const auto streetFor = [&](StringId nameId) -> Building* {
        if (nameId == 0 || nameId >= m_map.strings.size())
            return nullptr;
        if (auto it = byNameId.find(nameId); it != byNameId.end())
            return &streets[it->second];
        const StreetKey key = streetKey(m_map.text(nameId));
        if (key.core.empty())
            return nullptr;
        const auto [it, added] = byFullKey.try_emplace(key.full(), streets.size());
        if (added)
            streets.emplace_back();
        streets[it->second].nameIds.push_back(nameId);
        byNameId.emplace(nameId, it->second);
        return &streets[it->second];
    };
    for (EdgeId e = 0; e < m_map.edges.size(); ++e) {
        if (Building* street = streetFor(m_map.edges[e].name))
            street->edges.push_back(e);
    }
    for (std::uint32_t i = 0; i < m_map.addresses.size(); ++i) {
        if (Building* street = streetFor(m_map.addresses[i].street))
            street->addresses.push_back(i);
    }
    for (std::uint32_t i = 0; i < m_map.interpolations.size(); ++i) {
        if (Building* street = streetFor(m_map.interpolations[i].street))
            street->interpolations.push_back(i);
    }

    std::vector<std::uint32_t> firstName{0}, firstEdge{0}, firstAddress{0}, firstInterpolation{0};
    std::vector<StringId> names;
    std::vector<EdgeId> edges;
    std::vector<std::uint32_t> addresses, byCity, interpolations;
    for (Building& street : streets) {
        std::stable_sort(street.addresses.begin(), street.addresses.end(), [&](auto a, auto b) {
            return m_map.addresses[a].number < m_map.addresses[b].number;
        });
        // Positions in `addresses` by city (no city first), each city's in order.
        const auto cityKey = [&](std::uint32_t position) {
            return cityKeyOf(m_map.addresses[street.addresses[position]].city);
        };
        std::vector<std::uint32_t> positions(street.addresses.size());
        std::iota(positions.begin(), positions.end(), 0u);
        std::stable_sort(positions.begin(), positions.end(),
                         [&](std::uint32_t a, std::uint32_t b) { return cityKey(a) < cityKey(b); });
        names.insert(names.end(), street.nameIds.begin(), street.nameIds.end());
        edges.insert(edges.end(), street.edges.begin(), street.edges.end());
        addresses.insert(addresses.end(), street.addresses.begin(), street.addresses.end());
        byCity.insert(byCity.end(), positions.begin(), positions.end());
        interpolations.insert(interpolations.end(), street.interpolations.begin(), street.interpolations.end());
        firstName.push_back(static_cast<std::uint32_t>(names.size()));
        firstEdge.push_back(static_cast<std::uint32_t>(edges.size()));
        firstAddress.push_back(static_cast<std::uint32_t>(addresses.size()));
        firstInterpolation.push_back(static_cast<std::uint32_t>(interpolations.size()));
        street = Building{};  // the flat copy is all that is kept
    }
    return Lists{std::move(firstName),    std::move(names),     std::move(firstEdge),
                 std::move(edges),        std::move(firstAddress), std::move(addresses),
                 std::move(byCity),       std::move(firstInterpolation), std::move(interpolations)};
}

bool Geocoder::readLists(Lists& lists) const
{
    const std::shared_ptr<const MappedFile>& file = m_map.cacheFile;
    if (!file || !file->has(kListsVersionTag))
        return false;
    try {
        const auto version = file->section<std::uint32_t>(kListsVersionTag);
        if (version.size() != 1 || version[0] != kListsVersion)
            return false;
        forEachList(lists, [&](std::uint32_t tag, auto& list) {
            using Item = typename std::decay_t<decltype(list)>::value_type;
            list.view(file->section<Item>(tag), file);
        });
    } catch (const MapError&) {
        return false;
    }
    // Every index checked before use; lists that do not fit are made anew.
    const std::size_t streets = lists.firstName.empty() ? 0 : lists.firstName.size() - 1;
    if (!soundIndex(lists.firstName, streets, lists.names.size())
        || !soundIndex(lists.firstEdge, streets, lists.edges.size())
        || !soundIndex(lists.firstAddress, streets, lists.addresses.size())
        || !soundIndex(lists.firstInterpolation, streets, lists.interpolations.size())
        || lists.byCity.size() != lists.addresses.size() || !allBelow(lists.names, m_map.strings.size())
        || !allBelow(lists.edges, m_map.edges.size()) || !allBelow(lists.addresses, m_map.addresses.size())
        || !allBelow(lists.interpolations, m_map.interpolations.size())) {
        return false;
    }
    for (std::size_t s = 0; s < streets; ++s) {
        const std::uint32_t count = lists.firstAddress[s + 1] - lists.firstAddress[s];
        const auto positions = std::span<const std::uint32_t>(lists.byCity).subspan(lists.firstAddress[s], count);
        if (lists.firstName[s] == lists.firstName[s + 1] || lists.names[lists.firstName[s]] == 0
            || !allBelow(positions, count)) {
            return false;
        }
    }
    return true;
}

void Geocoder::adopt(Lists lists)
{
    m_lists = std::move(lists);
    const Lists& l = m_lists;
    const auto range = [](const auto& items, const MapArray<std::uint32_t>& first, std::size_t s) {
        using Item = typename std::decay_t<decltype(items)>::value_type;
        return std::span<const Item>(items).subspan(first[s], first[s + 1] - first[s]);
    };
    const std::size_t streets = l.firstName.empty() ? 0 : l.firstName.size() - 1;
    m_streets.reserve(streets);
    for (std::size_t s = 0; s < streets; ++s) {
        Street street;
        street.nameIds = range(l.names, l.firstName, s);
        street.key = streetKey(m_map.text(street.nameIds.front()));
        street.edges = range(l.edges, l.firstEdge, s);
        street.addresses = range(l.addresses, l.firstAddress, s);
        street.byCity = range(l.byCity, l.firstAddress, s);
        street.interpolations = range(l.interpolations, l.firstInterpolation, s);
        // The display spelling is one that has roads, if any does.
        street.name = m_map.text(street.nameIds.front());
        for (StringId id : street.nameIds) {
            if (!m_map.streetEdges(id).empty()) {
                street.name = m_map.text(id);
                break;
            }
        }
        m_byFullKey.emplace(street.key.full(), s);
        m_byCore[street.key.core].push_back(s);
        m_streets.push_back(std::move(street));
    }
    // A name with neither roads nor addresses (a waterway, a footway with no
    // house on it) is no place to go; drop it from lookup. A street of
    // addresses whose own way is not drivable (a footway, a pedestrian zone, a
    // place) stays: its addresses are reached from the nearest road.
    const auto nowhere = [&](std::size_t i) {
        const Street& street = m_streets[i];
        return street.edges.empty() && street.addresses.empty() && street.interpolations.empty();
    };
    for (auto it = m_byFullKey.begin(); it != m_byFullKey.end();) {
        if (nowhere(it->second))
            it = m_byFullKey.erase(it);
        else
            ++it;
    }
    for (auto& [core, list] : m_byCore) {
        std::erase_if(list, nowhere);
    }
}

std::shared_ptr<const void> Geocoder::cacheSections(const RoadMap& map, MappedFileWriter& writer)
{
    static const std::uint32_t version = kListsVersion;
    auto geocoder = std::make_shared<const Geocoder>(map);
    writer.add(kListsVersionTag, std::span<const std::uint32_t>(&version, 1));
    forEachList(geocoder->m_lists, [&](std::uint32_t tag, const auto& list) {
        using Item = typename std::decay_t<decltype(list)>::value_type;
        writer.add(tag, std::span<const Item>(list));
    });
    return geocoder;
}

const std::string& Geocoder::simple(StringId id) const
{
    static const std::string kEmpty;
    return id < m_simple.size() ? m_simple[id] : kEmpty;
}

std::uint32_t Geocoder::textClass(StringId id) const
{
    return id < m_textClass.size() ? m_textClass[id] : kNoClass;
}

std::uint32_t Geocoder::zipClass(StringId id) const
{
    return id < m_zipClass.size() ? m_zipClass[id] : kNoClass;
}

std::uint32_t Geocoder::cityKeyOf(StringId city) const
{
    if (city == 0)
        return kNoCityKey;
    const std::uint32_t c = textClass(city);
    return c == kNoClass ? kNoClass : c + 1;
}

std::string_view Geocoder::zipOf(StringId id) const
{
    const std::string& text = m_map.text(id);
    return std::string_view(text).substr(0, 5);
}

std::vector<std::size_t> Geocoder::candidates(const StreetKey& typed) const
{
    if (auto it = m_byFullKey.find(typed.full()); it != m_byFullKey.end())
        return {it->second};
    std::vector<std::size_t> out;
    if (auto it = m_byCore.find(typed.core); it != m_byCore.end()) {
        for (std::size_t i : it->second) {
            if (m_streets[i].key.loosely(typed))
                out.push_back(i);
        }
    }
    return out;
}

bool Geocoder::inPlace(StringId city, StringId state, StringId postcode, const Filter& filter) const
{
    const auto same = [&](StringId id, const std::string& wanted, std::uint32_t wantedClass) {
        return wanted.empty() || id == 0 || textClass(id) == wantedClass;
    };
    return same(city, filter.city, filter.cityClass) && same(state, filter.state, filter.stateClass)
        && (filter.zip.empty() || postcode == 0 || zipClass(postcode) == filter.zipClass);
}

std::vector<std::uint32_t> Geocoder::positionsInCity(const Street& street, const Filter& filter) const
{
    std::vector<std::uint32_t> positions;
    if (filter.city.empty()) {
        positions.resize(street.addresses.size());
        std::iota(positions.begin(), positions.end(), 0u);
        return positions;
    }
    const auto cityKey = [&](std::uint32_t position) {
        return cityKeyOf(m_map.addresses[street.addresses[position]].city);
    };
    // A city no string of the map has: only addresses without a city fit.
    std::vector<std::uint32_t> keys{kNoCityKey};
    if (filter.cityClass != kUnknownClass)
        keys.push_back(filter.cityClass + 1);
    for (const std::uint32_t key : keys) {
        const auto first = std::partition_point(street.byCity.begin(), street.byCity.end(),
                                                [&](std::uint32_t p) { return cityKey(p) < key; });
        for (auto it = first; it != street.byCity.end() && cityKey(*it) == key; ++it)
            positions.push_back(*it);
    }
    std::sort(positions.begin(), positions.end());
    return positions;
}

bool Geocoder::fitsPlace(const Street& street, const Filter& filter) const
{
    if (filter.empty() || (street.addresses.empty() && street.interpolations.empty()))
        return true;
    const auto fits = [&](StringId city, StringId state, StringId postcode) {
        return inPlace(city, state, postcode, filter);
    };
    if (filter.city.empty()) {
        for (std::uint32_t i : street.addresses) {
            const AddressPoint& a = m_map.addresses[i];
            if (fits(a.city, a.state, a.postcode))
                return true;
        }
    } else {
        for (std::uint32_t position : positionsInCity(street, filter)) {
            const AddressPoint& a = m_map.addresses[street.addresses[position]];
            if (fits(a.city, a.state, a.postcode))
                return true;
        }
    }
    for (std::uint32_t i : street.interpolations) {
        const InterpolationLine& l = m_map.interpolations[i];
        if (fits(l.city, l.state, l.postcode))
            return true;
    }
    return false;
}

std::string Geocoder::placeOf(StringId city, StringId state, StringId postcode) const
{
    std::string out = m_map.text(city);
    for (StringId id : {state, postcode}) {
        const std::string& part = m_map.text(id);
        if (part.empty())
            continue;
        if (!out.empty())
            out += ' ';
        out += part;
    }
    return out;
}

std::optional<Geocoder::Interpolated> Geocoder::interpolate(const Street& street, std::int32_t number,
                                                            const Filter& filter) const
{
    for (std::uint32_t i : street.interpolations) {
        const InterpolationLine& l = m_map.interpolations[i];
        const std::int32_t low = std::min(l.fromNumber, l.toNumber);
        const std::int32_t high = std::max(l.fromNumber, l.toNumber);
        if (number < low || number > high || !parityFits(l.parity, number))
            continue;
        if (!inPlace(l.city, l.state, l.postcode, filter))
            continue; // the same street name in another town
        const double fraction = l.toNumber == l.fromNumber
            ? 0.0
            : static_cast<double>(number - l.fromNumber) / static_cast<double>(l.toNumber - l.fromNumber);
        return Interpolated{alongPolyline(m_map.interpolationShape(l), fraction), &l};
    }
    return std::nullopt;
}

Coordinate Geocoder::streetMiddle(const Street& street) const
{
    // The edge whose midpoint lies nearest the middle of all the street's edges.
    if (street.edges.empty())
        return {};
    double lat = 0;
    double lon = 0;
    std::vector<Coordinate> mids;
    mids.reserve(street.edges.size());
    for (EdgeId e : street.edges) {
        const Coordinate mid = alongPolyline(m_map.edgeShape(e), 0.5);
        mids.push_back(mid);
        lat += mid.lat;
        lon += mid.lon;
    }
    const Coordinate centre{lat / static_cast<double>(mids.size()), lon / static_cast<double>(mids.size())};
    Coordinate best = mids.front();
    double bestDistance = std::numeric_limits<double>::max();
    for (const Coordinate& mid : mids) {
        const double d = metresBetween(mid, centre);
        if (d < bestDistance) {
            bestDistance = d;
            best = mid;
        }
    }
    return best;
}

GeocodeMatch Geocoder::locate(const Street& street, const AddressLine& line, const Filter& filter) const
{
    GeocodeMatch match;
    match.streetName = street.name;
    // Snap onto roads carrying the display spelling; the router takes one name id.
    match.street = 0;
    for (StringId id : street.nameIds) {
        if (!m_map.streetEdges(id).empty()) {
            match.street = id;
            break;
        }
    }

    const std::vector<std::uint32_t> positions = positionsInCity(street, filter);
    std::vector<std::uint32_t> usable;
    for (std::uint32_t position : positions) {
        const std::uint32_t i = street.addresses[position];
        const AddressPoint& a = m_map.addresses[i];
        if (filter.zip.empty() || a.postcode == 0 || zipClass(a.postcode) == filter.zipClass)
            usable.push_back(i);
    }
    const auto placeFrom = [&](const AddressPoint& a) { return placeOf(a.city, a.state, a.postcode); };

    if (line.number >= 0) {
        const AddressPoint* exact = nullptr;
        for (std::uint32_t i : usable) {
            const AddressPoint& a = m_map.addresses[i];
            if (a.number != line.number)
                continue;
            if (simple(a.houseNumber) == line.houseNumber) {
                exact = &a;
                break;
            }
            if (exact == nullptr)
                exact = &a;
        }
        if (exact != nullptr) {
            match.location = exact->location;
            match.label = m_map.text(exact->houseNumber) + " " + street.name;
            match.place = placeFrom(*exact);
            match.precision = Precision::ExactNumber;
            if (simple(exact->houseNumber) != line.houseNumber)
                match.note = "No house number " + upperAscii(line.houseNumber) + " on " + street.name
                    + "; using " + m_map.text(exact->houseNumber) + ".";
            return match;
        }
        if (auto where = interpolate(street, line.number, filter)) {
            match.location = where->location;
            match.label = std::to_string(line.number) + " " + street.name;
            match.precision = Precision::Interpolated;
            match.note = "The position of " + match.label + " is estimated from the house numbers along the street.";
            const InterpolationLine& l = *where->line;
            if (l.city != 0)
                match.place = placeOf(l.city, l.state, l.postcode);
            else if (!usable.empty())
                match.place = placeFrom(m_map.addresses[usable.front()]);
            return match;
        }
        // Nearest known number: an address point or an interpolation line's end.
        std::int64_t bestGap = std::numeric_limits<std::int64_t>::max();
        for (std::uint32_t i : usable) {
            const AddressPoint& a = m_map.addresses[i];
            if (a.number < 0)
                continue;
            const std::int64_t gap = std::llabs(static_cast<std::int64_t>(a.number) - line.number);
            if (gap < bestGap) {
                bestGap = gap;
                match.location = a.location;
                match.label = m_map.text(a.houseNumber) + " " + street.name;
                match.place = placeFrom(a);
            }
        }
        for (std::uint32_t i : street.interpolations) {
            const InterpolationLine& l = m_map.interpolations[i];
            if (!inPlace(l.city, l.state, l.postcode, filter))
                continue;
            const auto shape = m_map.interpolationShape(l);
            for (auto [number, point] : {std::pair{l.fromNumber, shape.front()}, std::pair{l.toNumber, shape.back()}}) {
                const std::int64_t gap = std::llabs(static_cast<std::int64_t>(number) - line.number);
                if (gap < bestGap) {
                    bestGap = gap;
                    match.location = point;
                    match.label = std::to_string(number) + " " + street.name;
                    match.place = placeOf(l.city, l.state, l.postcode);
                }
            }
        }
        if (bestGap != std::numeric_limits<std::int64_t>::max()) {
            match.precision = Precision::NearestNumber;
            match.note = "No house number " + upperAscii(line.houseNumber) + " on " + street.name
                + "; using the nearest known number, " + match.label + ".";
            return match;
        }
    }
    if (!street.edges.empty()) {
        match.location = streetMiddle(street);
    } else if (!street.addresses.empty()) {
        match.location = m_map.addresses[street.addresses[street.addresses.size() / 2]].location;
    } else {
        match.location = alongPolyline(m_map.interpolationShape(m_map.interpolations[street.interpolations.front()]), 0.5);
    }
    if (!usable.empty()) {
        // Prefer the middle of the addresses that fit the place typed.
        const AddressPoint& middle = m_map.addresses[usable[usable.size() / 2]];
        match.location = middle.location;
        match.place = placeFrom(middle);
    }
    match.label = street.name;
    match.precision = Precision::Street;
    match.note = line.number >= 0
        ? "No house numbers are known on " + street.name + "; using the street itself."
        : "No house number given; using " + street.name + " itself.";
    return match;
}

std::vector<Suggestion> Geocoder::similarStreets(const StreetKey& typed, const AddressLine& line) const
{
    const std::string wanted = typed.full();
    const std::size_t limit = std::max<std::size_t>(2, wanted.size() / 4);
    std::vector<std::pair<std::size_t, std::size_t>> scored; // (score, street)
    for (std::size_t i = 0; i < m_streets.size(); ++i) {
        const Street& street = m_streets[i];
        if (street.edges.empty() && street.addresses.empty())
            continue;
        std::size_t score;
        if (street.key.core == typed.core) {
            score = 0; // same name, other suffix or direction
        } else if (typed.core.size() >= 3 && street.key.core.starts_with(typed.core)) {
            score = 1;
        } else {
            const std::size_t d = std::min(editDistance(wanted, street.key.full(), limit),
                                           editDistance(typed.core, street.key.core, limit));
            if (d > limit)
                continue;
            score = d + 1;
        }
        scored.emplace_back(score, i);
    }
    std::sort(scored.begin(), scored.end(), [&](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : m_streets[a.second].name < m_streets[b.second].name;
    });
    std::vector<Suggestion> out;
    for (const auto& [score, i] : scored) {
        if (out.size() == 5)
            break;
        std::string streetLine = line.houseNumber.empty() ? m_streets[i].name
                                                          : upperAscii(line.houseNumber) + " " + m_streets[i].name;
        out.push_back({std::move(streetLine), {}});
    }
    return out;
}

GeocodeResult Geocoder::geocode(std::string_view streetLine, std::string_view cityLine) const
{
    GeocodeResult result;
    const AddressLine line = parseAddressLine(streetLine);
    if (line.street.empty() && line.houseNumber.empty()) {
        result.status = GeocodeStatus::Empty;
        result.problem = "No street address was given.";
        return result;
    }
    const StreetKey typed = streetKey(line.street);
    if (typed.core.empty()) {
        result.status = GeocodeStatus::NotFound;
        result.problem = "The address has no street name.";
        return result;
    }
    const CityLine place = parseCityLine(cityLine);
    Filter filter{place.city, place.state, place.zip};
    const auto classOf = [](const auto& classes, const std::string& text) {
        const auto it = classes.find(text);
        return it == classes.end() ? kUnknownClass : it->second;
    };
    filter.cityClass = classOf(m_textClasses, filter.city);
    filter.stateClass = classOf(m_textClasses, filter.state);
    filter.zipClass = classOf(m_zipClasses, filter.zip);
    // The street as the user wrote it (blanks collapsed), for messages.
    std::string asTyped;
    for (char c : streetLine) {
        const bool blank = c == ' ' || c == '\t';
        if (!blank)
            asTyped += c;
        else if (!asTyped.empty() && asTyped.back() != ' ')
            asTyped += ' ';
    }
    while (!asTyped.empty() && asTyped.back() == ' ')
        asTyped.pop_back();

    std::vector<std::size_t> found = candidates(typed);
    std::erase_if(found, [&](std::size_t i) { return !fitsPlace(m_streets[i], filter); });

    if (found.empty()) {
        result.status = GeocodeStatus::NotFound;
        std::string where = simplifyText(cityLine);
        result.problem = "No street matches \"" + asTyped + "\""
            + (filter.empty() ? std::string() : " in " + upperAscii(place.zip.empty() ? where : place.zip))
            + ".";
        // Offer streets of that name elsewhere first, then similar names.
        for (std::size_t i : candidates(typed)) {
            std::string lineText = line.houseNumber.empty() ? m_streets[i].name
                                                            : upperAscii(line.houseNumber) + " " + m_streets[i].name;
            std::string cityText;
            if (!m_streets[i].addresses.empty()) {
                const AddressPoint& a = m_map.addresses[m_streets[i].addresses.front()];
                cityText = placeOf(a.city, a.state, a.postcode);
            }
            result.suggestions.push_back({std::move(lineText), std::move(cityText)});
        }
        for (Suggestion& s : similarStreets(typed, line)) {
            if (result.suggestions.size() >= 5)
                break;
            const bool seen = std::any_of(result.suggestions.begin(), result.suggestions.end(),
                                          [&](const Suggestion& have) { return have.streetLine == s.streetLine; });
            if (!seen)
                result.suggestions.push_back(std::move(s));
        }
        return result;
    }
    if (found.size() > 1) {
        result.status = GeocodeStatus::Ambiguous;
        result.problem = "\"" + asTyped + "\" could be more than one street.";
        for (std::size_t i : found) {
            if (result.suggestions.size() >= 5)
                break;
            result.suggestions.push_back({line.houseNumber.empty() ? m_streets[i].name
                                                                   : upperAscii(line.houseNumber) + " " + m_streets[i].name,
                                          {}});
        }
        return result;
    }
    result.status = GeocodeStatus::Found;
    result.match = locate(m_streets[found.front()], line, filter);
    if (!line.unit.empty() && result.match->note.empty())
        result.match->note = "Unit \"" + line.unit + "\" is not shown on the map; using the building.";
    return result;
}

} // namespace tw::service
