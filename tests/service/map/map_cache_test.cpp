// The binary map cache: a restart reads it, and a stale, damaged or foreign
// cache is never trusted.

#include "service/map/map_cache.h"
#include "service/map/map_loader.h"
#include "service/map/mapped_file.h"
#include "tests/service/map/osm_xml.h"
#include "tests/service/map/residency.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <iterator>
#include <limits>
#include <sstream>
#include <thread>

#if defined(__x86_64__)
#include <cpuid.h>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tw::service {
namespace {

using test::OsmXml;
using test::TempFolder;

OsmXml smallTown(const char* streetName)
{
    OsmXml xml;
    xml.node(1, 41.0, -99.0).node(2, 41.0, -99.001).node(3, 41.001, -99.001);
    xml.node(4, 41.0005, -99.0005, {{"addr:housenumber", "7"}, {"addr:street", streetName}});
    xml.way(1, {1, 2, 3}, {{"highway", "residential"}, {"name", streetName}});
    xml.way(2, {3, 1}, {{"highway", "primary"}, {"oneway", "yes"}, {"ref", "QZ 9"}});
    return xml;
}

std::string readAll(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeAll(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

bool hasStreet(const RoadMap& map, const std::string& name)
{
    for (StringId s = 1; s < map.strings.size(); ++s) {
        if (map.strings[s] == name && !map.streetEdges(s).empty()) {
            return true;
        }
    }
    return false;
}

void expectSameMap(const RoadMap& a, const RoadMap& b)
{
    ASSERT_EQ(a.edges.size(), b.edges.size());
    EXPECT_EQ(a.nodes, b.nodes);
    EXPECT_EQ(a.shape, b.shape);
    EXPECT_EQ(a.strings, b.strings);
    EXPECT_EQ(a.firstEdge, b.firstEdge);
    EXPECT_EQ(a.nameEdges, b.nameEdges);
    for (std::size_t i = 0; i < a.edges.size(); ++i) {
        const Edge& x = a.edges[i];
        const Edge& y = b.edges[i];
        EXPECT_TRUE(x.source == y.source && x.target == y.target && x.twin == y.twin && x.name == y.name &&
                    x.ref == y.ref && x.shapeFirst == y.shapeFirst && x.shapeCount == y.shapeCount &&
                    x.metres == y.metres && x.deciseconds == y.deciseconds && x.wayId == y.wayId &&
                    x.roadClass == y.roadClass && x.flags == y.flags && x.speedKmh == y.speedKmh)
            << "edge " << i;
    }
    ASSERT_EQ(a.addresses.size(), b.addresses.size());
    for (std::size_t i = 0; i < a.addresses.size(); ++i) {
        EXPECT_EQ(a.addresses[i].houseNumber, b.addresses[i].houseNumber);
        EXPECT_EQ(a.addresses[i].location, b.addresses[i].location);
    }
}

class MapCache : public ::testing::Test {
protected:
    TempFolder folder;
    std::filesystem::path source = folder / "town.osm";
    std::filesystem::path cache = cachePathBeside(source.string());
    LoadOptions quiet{ProgressReport::Quiet, CacheUse::ReadWrite};

    CacheKey key() const { return *cacheKeyOf(source.string()); }
};

TEST_F(MapCache, ARestartReadsTheSameMapFromTheCache)
{
    smallTown("Alder Road").save(source);
    const RoadMap imported = loadMap(source.string(), quiet);
    ASSERT_TRUE(std::filesystem::exists(cache));
    const std::optional<RoadMap> cached = readMapCache(cache.string(), key());
    ASSERT_TRUE(cached.has_value());
    expectSameMap(imported, *cached);
    expectSameMap(imported, loadMap(source.string(), quiet));
    // Nothing but the cache is left behind (no temporary files).
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 2);
}

TEST_F(MapCache, AMapReadFromTheCacheViewsItAndACopyChangedLeavesItAlone)
{
    smallTown("Alder Road").save(source);
    loadMap(source.string(), quiet);
    const std::string bytes = readAll(cache);
    const RoadMap cached = *readMapCache(cache.string(), key());
    EXPECT_TRUE(cached.edges.mapped() && cached.shape.mapped() && cached.inEdges.mapped());
    RoadMap changed = cached;
    changed.edges.modify(0).metres = 12345.0f;
    changed.nodes.push_back(Coordinate{1.0, 2.0});
    EXPECT_FALSE(changed.edges.mapped());
    EXPECT_NE(cached.edges[0].metres, 12345.0f);
    EXPECT_EQ(cached.nodes.size() + 1, changed.nodes.size());
    EXPECT_EQ(readAll(cache), bytes);
    // The view outlives the map it came from.
    const MapArray<Coordinate> shape = RoadMap(*readMapCache(cache.string(), key())).shape;
    EXPECT_EQ(shape, cached.shape);
}

TEST_F(MapCache, AChangedSourceMakesTheCacheStale)
{
    smallTown("Alder Road").save(source);
    loadMap(source.string(), quiet);
    const CacheKey before = key();
    smallTown("Beech Road").save(source);
    // Same size, new contents: the modification time alone tells them apart.
    std::filesystem::last_write_time(source, std::filesystem::last_write_time(source) + std::chrono::seconds(5));
    EXPECT_FALSE(readMapCache(cache.string(), key()).has_value());
    EXPECT_TRUE(readMapCache(cache.string(), before).has_value());
    const RoadMap reloaded = loadMap(source.string(), quiet);
    EXPECT_TRUE(hasStreet(reloaded, "Beech Road"));
    EXPECT_FALSE(hasStreet(reloaded, "Alder Road"));
    EXPECT_TRUE(readMapCache(cache.string(), key()).has_value());  // rewritten
}

TEST_F(MapCache, ACacheOfAnotherSourceIsRefused)
{
    smallTown("Alder Road").save(source);
    loadMap(source.string(), quiet);
    const auto other = folder / "other.osm";
    smallTown("Alder Road").save(other);
    std::filesystem::copy_file(cache, cachePathBeside(other.string()));
    EXPECT_FALSE(readMapCache(cachePathBeside(other.string()), *cacheKeyOf(other.string())).has_value());
}

TEST_F(MapCache, DamagedOrTruncatedCachesAreIgnoredAndRebuilt)
{
    smallTown("Alder Road").save(source);
    loadMap(source.string(), quiet);
    const std::string good = readAll(cache);
    ASSERT_GT(good.size(), 100u);
    struct Case {
        const char* name;
        std::string bytes;
    };
    std::vector<Case> cases = {
        {"empty", ""},
        {"magic only", good.substr(0, 4)},
        {"half", good.substr(0, good.size() / 2)},
        {"last byte missing", good.substr(0, good.size() - 1)},
        {"extra byte", good + "x"},
        {"zeros", std::string(good.size(), '\0')},
    };
    for (std::size_t at : {std::size_t{0}, std::size_t{5}, good.size() / 3, good.size() / 2, good.size() - 2}) {
        std::string flipped = good;
        flipped[at] = static_cast<char>(flipped[at] ^ 0x40);
        cases.push_back({"one byte flipped", flipped});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeAll(cache, c.bytes);
        EXPECT_FALSE(readMapCache(cache.string(), key()).has_value());
        EXPECT_TRUE(hasStreet(loadMap(source.string(), quiet), "Alder Road"));
        EXPECT_EQ(readAll(cache), good);  // rebuilt
    }
}

TEST_F(MapCache, ACacheWithASoundChecksumButBadIndexesIsRefused)
{
    // A cache written by a faulty program: every byte intact, the content wrong.
    smallTown("Alder Road").save(source);
    RoadMap map = loadMap(source.string(), {ProgressReport::Quiet, CacheUse::Ignore});
    struct Case {
        const char* name;
        void (*spoil)(RoadMap&);
    };
    const Case cases[] = {
        {"edge target out of range", [](RoadMap& m) { m.edges.modify(0).target = 999; }},
        {"shape past the end",
         [](RoadMap& m) { m.edges.modify(0).shapeFirst = static_cast<std::uint32_t>(m.shape.size()); }},
        {"shape count overflows", [](RoadMap& m) { m.edges.modify(0).shapeCount = 0xFFFFFFFFu; }},
        {"name out of range", [](RoadMap& m) { m.edges.modify(0).name = 12345; }},
        {"twin not mutual", [](RoadMap& m) { m.edges.modify(0).twin = 0; }},
        {"address text out of range", [](RoadMap& m) { m.addresses.modify(0).city = 777; }},
        {"coordinate not finite",
         [](RoadMap& m) { m.nodes.modify(0).lat = std::numeric_limits<double>::quiet_NaN(); }},
        {"edge index too short", [](RoadMap& m) { m.firstEdge.pop_back(); }},
        {"no empty string", [](RoadMap& m) { m.strings[0] = "x"; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RoadMap spoilt = map;
        c.spoil(spoilt);
        ASSERT_TRUE(writeMapCache(cache.string(), key(), spoilt));
        EXPECT_FALSE(readMapCache(cache.string(), key()).has_value());
    }
}

TEST_F(MapCache, AFailedWriteLeavesTheOldCacheAsItWas)
{
    smallTown("Alder Road").save(source);
    loadMap(source.string(), quiet);
    const std::string good = readAll(cache);
    const RoadMap map = loadMap(source.string(), quiet);
    // A cache path whose folder cannot be made (a file is in the way).
    writeAll(folder / "blocker", "x");
    EXPECT_FALSE(writeMapCache((folder / "blocker" / "town.twcache").string(), key(), map));
    EXPECT_EQ(readAll(cache), good);
}

TEST_F(MapCache, TheUserCacheFolderFollowsXdgCacheHome)
{
    const test::CheckRecordsIn records(folder.path());
    smallTown("Alder Road").save(source);
    const std::string path = cachePathInUserFolder(key());
    EXPECT_EQ(path.rfind((folder / "tarnwickley").string(), 0), 0u) << path;
    setenv("XDG_CACHE_HOME", "relative/ignored", 1);
    EXPECT_EQ(cachePathInUserFolder(key()).find("relative"), std::string::npos);
}

// Empty sections lie where the next one starts; a file of many (a small map
// has empty lists) is sound however the table sorts them.
TEST(MappedFile, EmptySectionsBesideOthersAreSound)
{
    TempFolder folder;
    const std::string path = (folder / "file").string();
    const std::vector<std::uint64_t> items(8, 7);
    MappedFileWriter writer(1);
    for (char i = 0; i < 40; ++i) {
        const char tag[4] = {'T', 'S', static_cast<char>('A' + i / 10), static_cast<char>('0' + i % 10)};
        writer.add(sectionTag(std::string_view(tag, 4)),
                   i % 3 == 0 ? std::span<const std::uint64_t>(items) : std::span<const std::uint64_t>());
    }
    ASSERT_TRUE(writer.write(path));
    EXPECT_NO_THROW(MappedFile::open(path, 1));
}

// A freshly opened file's pages are mapped in at once, unless asked to stop.
TEST(MappedFile, PagesAreMappedInAtOnceUnlessStopped)
{
    TempFolder folder;
    const std::string path = (folder / "file").string();
    const std::vector<std::uint64_t> items(std::size_t{1} << 19, 7); // 4 MB
    MappedFileWriter writer(1);
    writer.add(sectionTag("PAGE"), std::span<const std::uint64_t>(items));
    ASSERT_TRUE(writer.write(path));
    const auto file = MappedFile::open(path, 1);
    const std::span<const std::uint64_t> section = file->section<std::uint64_t>(sectionTag("PAGE"));
    for (const bool stop : {true, false}) {
        file->dropResidentPages();
        ASSERT_LT(test::residency(path).first, 1024);
        mapPagesNow(section.data(), section.size_bytes(), std::atomic<bool>(stop));
        EXPECT_EQ(test::residency(path).first >= 4096, !stop);
    }
}

// A large section written ahead into an unnamed file becomes part of the
// file without a copy; a file that cannot take it leaves the old one alone.
TEST(MappedFile, SectionsPlacedInAnUnnamedFileBecomeItsSections)
{
    TempFolder folder;
    const std::string path = (folder / "file").string();
    const std::vector<std::uint64_t> small(5, 3);
    const std::vector<std::uint64_t> large(std::size_t{1} << 16, 9);
    const std::uint64_t at = MappedFileWriter::kFirstPlacedOffset;
    const std::uint32_t crc = sectionCrc(0, large.data(), large.size() * 8);
    struct Case {
        const char* name;
        bool unnamed;
        std::uint64_t offset;
        std::uint64_t secondOffset; // a second placed section, 0 for none
        bool written;
    };
    const Case cases[] = {
        {"placed after the table", true, at, 0, true},
        {"a named file", false, at, 0, false},
        {"placed over the table", true, 0, 0, false},
        {"two placed sections overlapping", true, at, at + 64, false},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(path);
        {
            std::ofstream(path) << "old";
        }
        const std::string named = (folder / "named").string();
        const int fd = c.unnamed ? ::open(folder.path().c_str(), O_TMPFILE | O_RDWR, 0600)
                                 : ::open(named.c_str(), O_CREAT | O_RDWR, 0600);
        ASSERT_GE(fd, 0) << c.name;
        const auto bytes = static_cast<ssize_t>(large.size() * 8);
        ASSERT_EQ(::pwrite(fd, large.data(), large.size() * 8, static_cast<off_t>(at)), bytes);
        MappedFileWriter writer(1);
        writer.add(sectionTag("SMAL"), std::span<const std::uint64_t>(small));
        writer.addPlaced(sectionTag("LARG"), 8, c.offset, large.size() * 8, crc);
        if (c.secondOffset != 0) {
            writer.addPlaced(sectionTag("MORE"), 8, c.secondOffset, 64, 0);
        }
        EXPECT_EQ(writer.writeInto(fd, path), c.written) << c.name;
        ::close(fd);
        if (!c.written) {
            EXPECT_EQ(readAll(path), "old") << c.name;
            continue;
        }
        const auto file = MappedFile::open(path, 1);
        EXPECT_TRUE(std::ranges::equal(file->section<std::uint64_t>(sectionTag("LARG")), large)) << c.name;
        EXPECT_TRUE(std::ranges::equal(file->section<std::uint64_t>(sectionTag("SMAL")), small)) << c.name;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1) << "temporary left";
    }
}

// Which parts of the vector registers are in use (XGETBV with ECX = 1), or
// nothing where the processor cannot tell.
std::optional<std::uint64_t> vectorStateInUse()
{
#if defined(__x86_64__)
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_OSXSAVE) == 0 || __get_cpuid_count(0xD, 1, &a, &b, &c, &d) == 0
        || (a & (1u << 2)) == 0) {
        return std::nullopt;
    }
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    asm volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(1));
    return (std::uint64_t{high} << 32) | low;
#else
    return std::nullopt;
#endif
}

// The checksums' kernels use 512-bit registers. Left in use, their upper
// halves make every SSE instruction after them wait: the service's
// floating point ran ten times slower after loading a map.
TEST(MappedFile, ChecksumsLeaveTheUpperHalvesOfTheVectorRegistersFree)
{
    TempFolder folder;
    const std::string path = (folder / "file").string();
    const std::vector<std::uint64_t> items(std::size_t{1} << 17, 7);
    MappedFileWriter writer(1);
    writer.add(sectionTag("TSAA"), std::span<const std::uint64_t>(items));
    ASSERT_TRUE(writer.write(path));
    ASSERT_NO_THROW(MappedFile::open(path, 1));
    const std::optional<std::uint64_t> inUse = vectorStateInUse();
    if (!inUse) {
        GTEST_SKIP() << "the processor does not tell which registers are in use";
    }
    constexpr std::uint64_t kUpperHalves = (1u << 2) | (1u << 6); // of ymm0-15, of zmm0-15
    EXPECT_EQ(*inUse & kUpperHalves, 0u);
}

// A file checked whole is remembered (per user, in the cache folder) once it
// has settled, and only as long as it is the same file, unchanged.
TEST(MappedFile, ASettledFileCheckedWholeIsRememberedUntilItChanges)
{
    TempFolder folder;
    const test::CheckRecordsIn records(folder / "cache");
    const std::vector<std::uint64_t> items(1000, 7);
    const auto write = [&](const std::string& name) {
        MappedFileWriter writer(1);
        writer.add(sectionTag("ITEM"), std::span<const std::uint64_t>(items));
        EXPECT_TRUE(writer.write((folder / name).string()));
        return (folder / name).string();
    };
    const auto sound = [](const std::string& path, std::string_view kind) {
        return MappedFile::open(path, 1, kind)->knownSound();
    };
    const std::string a = write("a");
    const std::string b = write("b");
    const std::string fresh = write("fresh");
    MappedFile::open(fresh, 1, "k")->rememberSound();  // not settled yet: not remembered
    std::this_thread::sleep_for(std::chrono::milliseconds(MappedFile::kSettledSeconds * 1000 + 200));
    EXPECT_FALSE(sound(fresh, "k"));

    EXPECT_FALSE(sound(a, "k"));
    MappedFile::open(a, 1, "k")->rememberSound();
    MappedFile::open(b, 1, "k")->rememberSound();
    MappedFile::open(b, 1)->rememberSound();  // no kind: nothing to remember
    EXPECT_TRUE(sound(a, "k"));
    EXPECT_TRUE(sound(b, "k"));
    EXPECT_FALSE(sound(a, "checked by other rules"));
    EXPECT_FALSE(sound(a, ""));
    MappedFile::setSmallestRemembered(std::filesystem::file_size(a) + 1);
    EXPECT_FALSE(sound(a, "k"));
    MappedFile::setSmallestRemembered(0);

    // One byte changed in place, size and modification time kept: the change
    // time tells, so the checksums are computed again and fail.
    const auto mtime = std::filesystem::last_write_time(a);
    {
        std::fstream file(a, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(-8, std::ios::end);
        file.put('x');
    }
    std::filesystem::last_write_time(a, mtime);
    EXPECT_THROW(MappedFile::open(a, 1, "k"), MapError);
    // Replaced by a sound copy: another file, checked again.
    const std::string copy = write("copy");
    std::filesystem::rename(copy, b);
    EXPECT_FALSE(sound(b, "k"));
}

}  // namespace
}  // namespace tw::service
