#include "service/map/map_cache.h"

#include "service/map/huge_pages.h"

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
constexpr std::uint32_t kFormatVersion = 3;

// Writes the cache in chunks to a file descriptor, keeping a running CRC-32.
class Writer {
public:
    explicit Writer(int fd) : m_fd(fd) { m_buffer.reserve(kChunk + 64); }

    template <typename T>
    void put(T value)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        const auto* bytes = reinterpret_cast<const char*>(&value);
        append(bytes, sizeof(T));
    }

    void putString(const std::string& text)
    {
        put<std::uint32_t>(static_cast<std::uint32_t>(text.size()));
        append(text.data(), text.size());
    }

    void putCoordinates(const std::vector<Coordinate>& list)
    {
        put<std::uint64_t>(list.size());
        for (const Coordinate& c : list) {
            put(c.lat);
            put(c.lon);
        }
    }

    // Writes what is buffered and the checksum; returns whether every write
    // succeeded.
    bool finish()
    {
        flush();
        const auto crc = static_cast<std::uint32_t>(m_crc);
        writeOut(reinterpret_cast<const char*>(&crc), sizeof crc);
        return m_ok;
    }

private:
    static constexpr std::size_t kChunk = 1 << 20;

    void append(const char* data, std::size_t size)
    {
        m_buffer.append(data, size);
        if (m_buffer.size() >= kChunk) {
            flush();
        }
    }

    void flush()
    {
        m_crc = crc32_z(m_crc, reinterpret_cast<const Bytef*>(m_buffer.data()), m_buffer.size());
        writeOut(m_buffer.data(), m_buffer.size());
        m_buffer.clear();
    }

    void writeOut(const char* data, std::size_t left)
    {
        while (m_ok && left > 0) {
            const ssize_t written = ::write(m_fd, data, left);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            m_ok = written > 0;
            if (m_ok) {
                data += written;
                left -= static_cast<std::size_t>(written);
            }
        }
    }

    int m_fd;
    std::string m_buffer;
    uLong m_crc = crc32_z(0L, Z_NULL, 0);
    bool m_ok = true;
};

// Reads the cache in chunks, keeping a running CRC-32 of the payload (all but
// the last four bytes, which hold the stored checksum).
class Reader {
public:
    Reader(std::istream& in, std::uint64_t fileSize) : m_in(in), m_left(fileSize - sizeof(std::uint32_t)) {}

    template <typename T>
    bool get(T& value)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        return take(reinterpret_cast<char*>(&value), sizeof(T));
    }

    // Reads a fixed-size record whole, to be taken apart with Record.
    bool getBytes(char* out, std::size_t size) { return take(out, size); }

    bool getString(std::string& text)
    {
        std::uint32_t size = 0;
        if (!get(size) || size > m_left) {
            return false;
        }
        text.resize(size);
        return take(text.data(), size);
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
        list.clear();
        reserveOnHugePages(list, count);
        for (std::size_t i = 0; i < count; ++i) {
            char bytes[16];
            if (!getBytes(bytes, sizeof bytes)) {
                return false;
            }
            Coordinate c;
            std::memcpy(&c.lat, bytes, 8);
            std::memcpy(&c.lon, bytes + 8, 8);
            list.push_back(c);
        }
        return true;
    }

    // Returns whether the payload was read to its end and matches the stored
    // checksum.
    bool finishedIntact()
    {
        if (m_left != 0 || m_position != m_buffer.size()) {
            return false;
        }
        std::uint32_t stored = 0;
        if (!m_in.read(reinterpret_cast<char*>(&stored), sizeof stored)) {
            return false;
        }
        return static_cast<std::uint32_t>(m_crc) == stored;
    }

private:
    static constexpr std::size_t kChunk = 1 << 20;

    bool take(char* out, std::size_t size)
    {
        // Most fields lie wholly in the buffer: one copy of a size the
        // compiler knows.
        if (size <= m_buffer.size() - m_position) {
            std::memcpy(out, m_buffer.data() + m_position, size);
            m_position += size;
            m_left -= size;
            return true;
        }
        return takeAcross(out, size);
    }

    bool takeAcross(char* out, std::size_t size)
    {
        if (size > m_left) {
            return false;
        }
        while (size > 0) {
            if (m_position == m_buffer.size() && !refill()) {
                return false;
            }
            const std::size_t n = std::min(size, m_buffer.size() - m_position);
            std::memcpy(out, m_buffer.data() + m_position, n);
            m_position += n;
            out += n;
            size -= n;
            m_left -= n;
        }
        return true;
    }

    bool refill()
    {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, m_unbuffered()));
        m_buffer.resize(want);
        m_position = 0;
        if (want == 0 || !m_in.read(m_buffer.data(), static_cast<std::streamsize>(want))) {
            m_buffer.clear();
            return false;
        }
        m_crc = crc32_z(m_crc, reinterpret_cast<const Bytef*>(m_buffer.data()), want);
        return true;
    }

    // Payload bytes not yet pulled into the buffer.
    std::uint64_t m_unbuffered() const { return m_left - (m_buffer.size() - m_position); }

    std::istream& m_in;
    std::uint64_t m_left;  // payload bytes not yet taken
    std::vector<char> m_buffer;
    std::size_t m_position = 0;
    uLong m_crc = crc32_z(0L, Z_NULL, 0);
};

void putEdge(Writer& w, const Edge& e)
{
    w.put(e.source);
    w.put(e.target);
    w.put(e.twin);
    w.put(e.name);
    w.put(e.ref);
    w.put(e.destination);
    w.put(e.destinationRef);
    w.put(e.shapeFirst);
    w.put(e.shapeCount);
    w.put(e.metres);
    w.put(e.deciseconds);
    w.put(e.wayId);
    w.put(static_cast<std::uint8_t>(e.roadClass));
    w.put(e.flags);
    w.put(e.speedKmh);
}
constexpr std::size_t kEdgeBytes = 9 * 4 + 4 + 4 + 8 + 3;

// Takes the fields of a record read whole, in the order they were written.
class Record {
public:
    explicit Record(const char* bytes) : m_at(bytes) {}
    template <typename T>
    Record& operator>>(T& value)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        std::memcpy(&value, m_at, sizeof(T));
        m_at += sizeof(T);
        return *this;
    }

private:
    const char* m_at;
};

bool getEdge(Reader& r, Edge& e)
{
    char bytes[kEdgeBytes];
    if (!r.getBytes(bytes, sizeof bytes)) {
        return false;
    }
    std::uint8_t roadClass = 0;
    Record(bytes) >> e.source >> e.target >> e.twin >> e.name >> e.ref >> e.destination >> e.destinationRef
        >> e.shapeFirst >> e.shapeCount >> e.metres >> e.deciseconds >> e.wayId >> roadClass >> e.flags >> e.speedKmh;
    if (roadClass >= kRoadClassCount) {
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

void putIds(Writer& w, const std::vector<std::uint32_t>& ids)
{
    w.put<std::uint64_t>(ids.size());
    for (std::uint32_t id : ids) {
        w.put(id);
    }
}

bool getIds(Reader& r, std::vector<std::uint32_t>& ids)
{
    std::size_t count = 0;
    if (!r.getCount(count, 4)) {
        return false;
    }
    ids.resize(count);
    for (std::uint32_t& id : ids) {
        if (!r.get(id)) {
            return false;
        }
    }
    return true;
}

bool serialise(Writer& w, const CacheKey& key, const RoadMap& map)
{
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
    w.put<std::uint64_t>(map.restrictions.size());
    for (const TurnRestriction& r : map.restrictions) {
        w.put(r.first);
        w.put(r.count);
        w.put(static_cast<std::uint8_t>(r.kind));
    }
    putIds(w, map.restrictionEdges);
    putIds(w, map.barrierNodes);
    w.put(map.counts);
    return w.finish();
}

std::optional<RoadMap> deserialise(Reader& r, const CacheKey& key)
{
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
        if (!r.get(first)) {
            return std::nullopt;
        }
    }
    if (!r.getCount(count, kEdgeBytes)) {
        return std::nullopt;
    }
    // Filled as read rather than sized first: each page of the large arrays
    // is written once.
    reserveOnHugePages(map.edges, count);
    for (std::size_t i = 0; i < count; ++i) {
        Edge e;
        if (!getEdge(r, e)) {
            return std::nullopt;
        }
        map.edges.push_back(e);
    }
    if (!r.getCoordinates(map.shape) || !r.getCount(count, 40)) {
        return std::nullopt;
    }
    reserveOnHugePages(map.addresses, count);
    for (std::size_t i = 0; i < count; ++i) {
        char bytes[40];
        if (!r.getBytes(bytes, sizeof bytes)) {
            return std::nullopt;
        }
        AddressPoint a;
        Record(bytes) >> a.street >> a.city >> a.postcode >> a.state >> a.houseNumber >> a.number >> a.location.lat
            >> a.location.lon;
        map.addresses.push_back(a);
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
    if (!r.getCount(count, 9)) {
        return std::nullopt;
    }
    map.restrictions.resize(count);
    for (TurnRestriction& t : map.restrictions) {
        std::uint8_t kind = 0;
        if (!(r.get(t.first) && r.get(t.count) && r.get(kind)) || kind > static_cast<std::uint8_t>(RestrictionKind::Only)) {
            return std::nullopt;
        }
        t.kind = static_cast<RestrictionKind>(kind);
    }
    if (!getIds(r, map.restrictionEdges) || !getIds(r, map.barrierNodes) || !r.get(map.counts)) {
        return std::nullopt;
    }
    if (!r.finishedIntact()) {
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
        Reader reader(in, size);
        return deserialise(reader, key);
    } catch (const std::exception&) {
        return std::nullopt;  // e.g. out of memory on a damaged file: just rebuild
    }
}

bool writeMapCache(const std::string& cachePath, const CacheKey& key, const RoadMap& map)
{
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
    try {
        Writer writer(fd);
        ok = serialise(writer, key, map) && ok;
    } catch (const std::exception&) {
        ok = false;
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
