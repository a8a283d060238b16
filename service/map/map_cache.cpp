#include "service/map/map_cache.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <type_traits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tw::service {

namespace {

// "TWMC" read as a host-order integer: a file written on a machine of the
// other byte order fails the magic check.
constexpr std::uint32_t kMagic = 0x434D5754u;
// Raise on every change to what is written (layout or import rules).
constexpr std::uint32_t kFormatVersion = 1;

class Writer {
public:
    template <typename T>
    void put(T value)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        const auto* bytes = reinterpret_cast<const char*>(&value);
        m_data.append(bytes, sizeof(T));
    }

    void putString(const std::string& text)
    {
        put<std::uint32_t>(static_cast<std::uint32_t>(text.size()));
        m_data.append(text);
    }

    void putCoordinates(const std::vector<Coordinate>& list)
    {
        put<std::uint64_t>(list.size());
        for (const Coordinate& c : list) {
            put(c.lat);
            put(c.lon);
        }
    }

    std::string& data() { return m_data; }

private:
    std::string m_data;
};

class Reader {
public:
    Reader(const char* data, std::size_t size) : m_data(data), m_left(size) {}

    template <typename T>
    bool get(T& value)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        if (m_left < sizeof(T)) {
            return false;
        }
        std::memcpy(&value, m_data, sizeof(T));
        m_data += sizeof(T);
        m_left -= sizeof(T);
        return true;
    }

    bool getString(std::string& text)
    {
        std::uint32_t size = 0;
        if (!get(size) || size > m_left) {
            return false;
        }
        text.assign(m_data, size);
        m_data += size;
        m_left -= size;
        return true;
    }

    // Reads a count of items that take at least `minBytes` each, refusing a
    // count the rest of the file cannot hold (so a damaged count never makes
    // a huge allocation).
    bool getCount(std::size_t& count, std::size_t minBytes)
    {
        std::uint64_t value = 0;
        if (!get(value) || value > m_left / minBytes) {
            return false;
        }
        count = static_cast<std::size_t>(value);
        return true;
    }

    bool getCoordinates(std::vector<Coordinate>& list)
    {
        std::size_t count = 0;
        if (!getCount(count, 16)) {
            return false;
        }
        list.resize(count);
        for (Coordinate& c : list) {
            get(c.lat);
            get(c.lon);
        }
        return true;
    }

    bool atEnd() const { return m_left == 0; }

private:
    const char* m_data;
    std::size_t m_left;
};

void putEdge(Writer& w, const Edge& e)
{
    w.put(e.source);
    w.put(e.target);
    w.put(e.twin);
    w.put(e.name);
    w.put(e.ref);
    w.put(e.shapeFirst);
    w.put(e.shapeCount);
    w.put(e.metres);
    w.put(e.deciseconds);
    w.put(e.wayId);
    w.put(static_cast<std::uint8_t>(e.roadClass));
    w.put(e.flags);
    w.put(e.speedKmh);
}
constexpr std::size_t kEdgeBytes = 7 * 4 + 4 + 4 + 8 + 3;

bool getEdge(Reader& r, Edge& e)
{
    std::uint8_t roadClass = 0;
    const bool ok = r.get(e.source) && r.get(e.target) && r.get(e.twin) && r.get(e.name) && r.get(e.ref) &&
                    r.get(e.shapeFirst) && r.get(e.shapeCount) && r.get(e.metres) && r.get(e.deciseconds) &&
                    r.get(e.wayId) && r.get(roadClass) && r.get(e.flags) && r.get(e.speedKmh);
    if (!ok || roadClass >= kRoadClassCount) {
        return false;
    }
    e.roadClass = static_cast<RoadClass>(roadClass);
    return true;
}

void putTexts(Writer& w, StringId street, StringId city, StringId postcode, StringId state)
{
    w.put(street);
    w.put(city);
    w.put(postcode);
    w.put(state);
}

void putKey(Writer& w, const CacheKey& key)
{
    w.putString(key.sourcePath);
    w.put(key.sourceSize);
    w.put(key.sourceMtime);
}

std::string serialise(const CacheKey& key, const RoadMap& map)
{
    Writer w;
    w.put(kMagic);
    w.put(kFormatVersion);
    putKey(w, key);

    w.put<std::uint64_t>(map.strings.size());
    for (const std::string& s : map.strings) {
        w.putString(s);
    }
    w.putCoordinates(map.nodes);
    w.put<std::uint64_t>(map.firstEdge.size());
    for (EdgeId first : map.firstEdge) {
        w.put(first);
    }
    w.put<std::uint64_t>(map.edges.size());
    for (const Edge& e : map.edges) {
        putEdge(w, e);
    }
    w.putCoordinates(map.shape);
    w.put<std::uint64_t>(map.addresses.size());
    for (const AddressPoint& a : map.addresses) {
        putTexts(w, a.street, a.city, a.postcode, a.state);
        w.put(a.houseNumber);
        w.put(a.number);
        w.put(a.location.lat);
        w.put(a.location.lon);
    }
    w.put<std::uint64_t>(map.interpolations.size());
    for (const InterpolationLine& l : map.interpolations) {
        putTexts(w, l.street, l.city, l.postcode, l.state);
        w.put(l.fromNumber);
        w.put(l.toNumber);
        w.put(static_cast<std::uint8_t>(l.parity));
        w.put(l.shapeFirst);
        w.put(l.shapeCount);
    }
    const auto crc = static_cast<std::uint32_t>(
        crc32_z(0L, reinterpret_cast<const Bytef*>(w.data().data()), w.data().size()));
    w.put(crc);
    return std::move(w.data());
}

std::optional<RoadMap> deserialise(const std::string& bytes, const CacheKey& key)
{
    if (bytes.size() < 12) {
        return std::nullopt;
    }
    const std::size_t payload = bytes.size() - sizeof(std::uint32_t);
    std::uint32_t storedCrc = 0;
    std::memcpy(&storedCrc, bytes.data() + payload, sizeof storedCrc);
    const auto crc =
        static_cast<std::uint32_t>(crc32_z(0L, reinterpret_cast<const Bytef*>(bytes.data()), payload));
    if (crc != storedCrc) {
        return std::nullopt;
    }
    Reader r(bytes.data(), payload);
    std::uint32_t magic = 0;
    std::uint32_t version = 0;
    CacheKey stored;
    if (!r.get(magic) || magic != kMagic || !r.get(version) || version != kFormatVersion ||
        !r.getString(stored.sourcePath) || !r.get(stored.sourceSize) || !r.get(stored.sourceMtime) ||
        !(stored == key)) {
        return std::nullopt;
    }

    RoadMap map;
    std::size_t count = 0;
    if (!r.getCount(count, 4)) {
        return std::nullopt;
    }
    map.strings.resize(count);
    for (std::string& s : map.strings) {
        if (!r.getString(s)) {
            return std::nullopt;
        }
    }
    if (!r.getCoordinates(map.nodes) || !r.getCount(count, 4)) {
        return std::nullopt;
    }
    map.firstEdge.resize(count);
    for (EdgeId& first : map.firstEdge) {
        r.get(first);
    }
    if (!r.getCount(count, kEdgeBytes)) {
        return std::nullopt;
    }
    map.edges.resize(count);
    for (Edge& e : map.edges) {
        if (!getEdge(r, e)) {
            return std::nullopt;
        }
    }
    if (!r.getCoordinates(map.shape) || !r.getCount(count, 40)) {
        return std::nullopt;
    }
    map.addresses.resize(count);
    for (AddressPoint& a : map.addresses) {
        if (!(r.get(a.street) && r.get(a.city) && r.get(a.postcode) && r.get(a.state) && r.get(a.houseNumber) &&
              r.get(a.number) && r.get(a.location.lat) && r.get(a.location.lon))) {
            return std::nullopt;
        }
    }
    if (!r.getCount(count, 33)) {
        return std::nullopt;
    }
    map.interpolations.resize(count);
    for (InterpolationLine& l : map.interpolations) {
        std::uint8_t parity = 0;
        if (!(r.get(l.street) && r.get(l.city) && r.get(l.postcode) && r.get(l.state) && r.get(l.fromNumber) &&
              r.get(l.toNumber) && r.get(parity) && r.get(l.shapeFirst) && r.get(l.shapeCount)) ||
            parity > static_cast<std::uint8_t>(Parity::Even)) {
            return std::nullopt;
        }
        l.parity = static_cast<Parity>(parity);
    }
    if (!r.atEnd()) {
        return std::nullopt;
    }
    // The derived indexes need every stored index to be in range first.
    if (map.firstEdge.size() != map.nodes.size() + 1 || map.strings.empty()) {
        return std::nullopt;
    }
    for (const Edge& e : map.edges) {
        if (e.target >= map.nodes.size() || e.source >= map.nodes.size() || e.name >= map.strings.size()) {
            return std::nullopt;
        }
    }
    map.finishIndexes();
    if (!map.validate().empty()) {
        return std::nullopt;
    }
    return map;
}

std::uint64_t fnv1a(const std::string& text)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : text) {
        hash = (hash ^ c) * 0x100000001b3ull;
    }
    return hash;
}

}  // namespace

std::optional<CacheKey> cacheKeyOf(const std::string& sourcePath)
{
    std::error_code error;
    CacheKey key;
    key.sourcePath = fs::absolute(sourcePath, error).lexically_normal().string();
    if (error) {
        return std::nullopt;
    }
    key.sourceSize = fs::file_size(sourcePath, error);
    if (error) {
        return std::nullopt;
    }
    const auto mtime = fs::last_write_time(sourcePath, error);
    if (error) {
        return std::nullopt;
    }
    key.sourceMtime = static_cast<std::int64_t>(mtime.time_since_epoch().count());
    return key;
}

std::string cachePathBeside(const std::string& sourcePath)
{
    return sourcePath + ".twcache";
}

std::string cachePathInUserFolder(const CacheKey& key)
{
    fs::path folder;
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    if (xdg != nullptr && fs::path(xdg).is_absolute()) {
        folder = fs::path(xdg);
    } else if (home != nullptr && *home != '\0') {
        folder = fs::path(home) / ".cache";
    } else {
        folder = fs::temp_directory_path();
    }
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(key.sourcePath)));
    const std::string name = std::string(hash) + "-" + fs::path(key.sourcePath).filename().string() + ".twcache";
    return (folder / "tarnwickley" / name).string();
}

std::optional<RoadMap> readMapCache(const std::string& cachePath, const CacheKey& key)
{
    try {
        std::error_code error;
        const auto size = fs::file_size(cachePath, error);
        if (error || size < 12) {
            return std::nullopt;
        }
        std::ifstream in(cachePath, std::ios::binary);
        if (!in) {
            return std::nullopt;
        }
        std::string bytes(static_cast<std::size_t>(size), '\0');
        if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size())) || in.peek() != EOF) {
            return std::nullopt;
        }
        return deserialise(bytes, key);
    } catch (const std::exception&) {
        return std::nullopt;  // e.g. out of memory on a damaged file: just rebuild
    }
}

bool writeMapCache(const std::string& cachePath, const CacheKey& key, const RoadMap& map)
{
    std::string bytes;
    try {
        bytes = serialise(key, map);
    } catch (const std::exception&) {
        return false;
    }
    std::error_code error;
    const fs::path target(cachePath);
    if (target.has_parent_path()) {
        fs::create_directories(target.parent_path(), error);
    }
    std::string temp = cachePath + ".tmp-XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        return false;
    }
    bool ok = ::fchmod(fd, 0644) == 0;
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (ok && left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        ok = written > 0;
        if (ok) {
            data += written;
            left -= static_cast<std::size_t>(written);
        }
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && std::rename(temp.c_str(), cachePath.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
    }
    return ok;
}

}  // namespace tw::service
