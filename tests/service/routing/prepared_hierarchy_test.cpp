// The prepared map file: damaged files refused (a table of corruptions, some
// with sound checksums around bad indexes), stale ones prepared again, an old
// mapping kept intact when the file is prepared anew, and two processes on one
// file sharing its pages.

#include "service/map/map_loader.h"
#include "service/map/mapped_file.h"
#include "service/routing/largest_component.h"
#include "service/routing/prepared_hierarchy.h"
#include "tests/service/guidance/test_map_builder.h"
#include "tests/service/map/osm_xml.h"
#include "tests/service/map/residency.h"
#include "tests/service/map/section_edit.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <thread>
#include <filesystem>

#include <sys/wait.h>
#include <unistd.h>

namespace tw::service {
namespace {

RoadMap grid(int side)
{
    test::TestMapBuilder builder;
    for (int r = 0; r < side; ++r) {
        for (int c = 0; c + 1 < side; ++c) {
            builder.road({{c * 100.0, r * 100.0}, {c * 100.0 + 100, r * 100.0}}, "East");
            builder.road({{r * 100.0, c * 100.0}, {r * 100.0, c * 100.0 + 100}}, "North");
        }
    }
    return builder.build();
}


std::string readAll(const std::string& path)
{
    std::string bytes(std::filesystem::file_size(path), '\0');
    std::ifstream(path, std::ios::binary).read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

void writeAll(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Whether two hierarchies have the same ranks and each node the same lists,
// wherever their arcs lie.
bool sameHierarchy(const ContractionHierarchy& a, const ContractionHierarchy& b)
{
    const auto listsOf = [](const ContractionHierarchy& ch, std::uint32_t v) {
        const ChNode& node = ch.nodes()[v];
        return ch.arcs().subspan(node.first, std::size_t{node.down} + node.up);
    };
    const auto sameArc = [](const ChArc& x, const ChArc& y) {
        return x.node == y.node && x.weight == y.weight && x.middle == y.middle;
    };
    if (!std::ranges::equal(a.rank(), b.rank()) || a.arcCount() != b.arcCount()) {
        return false;
    }
    for (std::uint32_t v = 0; v < a.nodeCount(); ++v) {
        if (a.nodes()[v].down != b.nodes()[v].down || !std::ranges::equal(listsOf(a, v), listsOf(b, v), sameArc)) {
            return false;
        }
    }
    return true;
}

template <typename T>
std::string bytesOf(std::span<const T> items)
{
    return std::string(reinterpret_cast<const char*>(items.data()), items.size_bytes());
}

struct Fixture {
    test::TempFolder folder;
    std::string source = (folder / "town.osm").string();
    std::string prepared = (folder / "town.osm.twch").string();
    RoadMap map;
    std::unique_ptr<TurnModel> model;
    CacheKey key;
    ContractionHierarchy ch;

    explicit Fixture(int side = 6)
    {
        writeAll(source, "stand-in for the source map");
        key = *cacheKeyOf(source);
        map = grid(side);
        model = std::make_unique<TurnModel>(map);
        ch = prepareHierarchy(*model);
        EXPECT_TRUE(writePreparedHierarchy(prepared, key, *model, ch));
    }

    // Writes a file whose checksums are sound around the given arrays; an
    // empty one keeps the hierarchy's own.
    void writeCrafted(std::vector<std::uint32_t> rank, std::vector<ChNode> nodes, std::vector<ChArc> arcs)
    {
        auto own = [](auto span) { return std::vector(span.begin(), span.end()); };
        rank = rank.empty() ? own(ch.rank()) : rank;
        nodes = nodes.empty() ? own(ch.nodes()) : nodes;
        arcs = arcs.empty() ? own(ch.arcs()) : arcs;
        const auto crafted = ContractionHierarchy::fromParts(rank, nodes, arcs, nullptr);
        EXPECT_TRUE(writePreparedHierarchy(prepared, key, *model, crafted));
    }
};

enum class Outcome { Refused, Stale };

TEST(PreparedHierarchy, DamagedFilesAreRefusedAndStaleOnesIgnored)
{
    struct Case {
        const char* name;
        std::function<void(Fixture&)> damage;
        Outcome outcome;
    };
    auto flipAt = [](double where) {
        return [where](Fixture& f) {
            std::string bytes = readAll(f.prepared);
            bytes[static_cast<std::size_t>(where * (bytes.size() - 1))] ^= 0x20;
            writeAll(f.prepared, bytes);
        };
    };
    auto truncateTo = [](double share) {
        return [share](Fixture& f) {
            const std::string bytes = readAll(f.prepared);
            writeAll(f.prepared, bytes.substr(0, static_cast<std::size_t>(share * (bytes.size() - 1))));
        };
    };
    const Case cases[] = {
        {"empty file", truncateTo(0), Outcome::Refused},
        {"cut inside the header", [](Fixture& f) { writeAll(f.prepared, readAll(f.prepared).substr(0, 20)); },
         Outcome::Refused},
        {"cut in half", truncateTo(0.5), Outcome::Refused},
        {"last byte missing", truncateTo(1.0), Outcome::Refused},
        {"a byte appended", [](Fixture& f) { writeAll(f.prepared, readAll(f.prepared) + "x"); }, Outcome::Refused},
        {"magic damaged", flipAt(0.0), Outcome::Refused},
        {"section table damaged", [](Fixture& f) {
             std::string bytes = readAll(f.prepared);
             bytes[40] ^= 1;
             writeAll(f.prepared, bytes);
         }, Outcome::Refused},
        {"arc bytes damaged", flipAt(0.6), Outcome::Refused},
        {"last byte damaged", flipAt(1.0), Outcome::Refused},
        {"arc to a node out of range, sound checksums",
         [](Fixture& f) {
             std::vector<ChArc> arcs(f.ch.arcs().begin(), f.ch.arcs().end());
             for (ChArc& arc : arcs)
                 arc.node = 0xFFFFFFF0u;
             f.writeCrafted({}, {}, arcs);
         },
         Outcome::Refused},
        {"a node's arcs past the end of the arcs, sound checksums",
         [](Fixture& f) {
             std::vector<ChNode> nodes(f.ch.nodes().begin(), f.ch.nodes().end());
             nodes.at(1).first = 0x7FFFFFFF;
             f.writeCrafted({}, nodes, {});
         },
         Outcome::Refused},
        {"shortcut bypassing a higher node, sound checksums",
         [](Fixture& f) {
             std::vector<ChArc> arcs(f.ch.arcs().begin(), f.ch.arcs().end());
             const auto top = static_cast<std::uint32_t>(
                 std::find(f.ch.rank().begin(), f.ch.rank().end(), f.ch.nodeCount() - 1) - f.ch.rank().begin());
             for (ChArc& arc : arcs)
                 arc.middle = top;
             f.writeCrafted({}, {}, arcs);
         },
         Outcome::Refused},
        {"every node claiming all the arcs (checking would be quadratic), sound checksums",
         [](Fixture& f) {
             const auto all = static_cast<std::uint32_t>(f.ch.arcCount());
             f.writeCrafted({}, std::vector<ChNode>(f.ch.nodeCount(), ChNode{0, all, 0}), {});
         },
         Outcome::Refused},
        {"connected flags not one per road edge, sound checksums",
         [](Fixture& f) {
             const std::vector<std::uint8_t> flags(f.map.edges.size() - 1, 1);
             writePreparedHierarchy(f.prepared, f.key, *f.model, f.ch, flags);
         },
         Outcome::Refused},
        {"a connected flag neither 0 nor 1, sound checksums",
         [](Fixture& f) {
             std::vector<std::uint8_t> flags(f.map.edges.size(), 1);
             flags.back() = 7;
             writePreparedHierarchy(f.prepared, f.key, *f.model, f.ch, flags);
         },
         Outcome::Refused},
        {"ranks repeated, sound checksums",
         [](Fixture& f) { f.writeCrafted(std::vector<std::uint32_t>(f.ch.nodeCount(), 0), {}, {}); },
         Outcome::Refused},
        {"a section missing",
         [](Fixture& f) {
             MappedFileWriter writer(kPreparedFormatVersion);
             writer.add(sectionTag("RANK"), f.ch.rank());
             writer.write(f.prepared);
         },
         Outcome::Refused},
        {"another format version",
         [](Fixture& f) {
             MappedFileWriter writer(kPreparedFormatVersion + 1);
             writer.add(sectionTag("RANK"), f.ch.rank());
             writer.write(f.prepared);
         },
         Outcome::Stale},
        {"made from another source file", [](Fixture& f) {
             CacheKey other = f.key;
             other.sourceMtime += 1;
             writePreparedHierarchy(f.prepared, other, *f.model, f.ch);
         }, Outcome::Stale},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        ASSERT_TRUE(readPreparedHierarchy(f.prepared, f.key, *f.model).has_value());
        c.damage(f);
        if (c.outcome == Outcome::Refused) {
            EXPECT_THROW(readPreparedHierarchy(f.prepared, f.key, *f.model), MapError);
        } else {
            EXPECT_FALSE(readPreparedHierarchy(f.prepared, f.key, *f.model).has_value());
        }
    }
}

TEST(PreparedHierarchy, StaleFileIsPreparedAgainAndAMappingOutlivesItsReplacement)
{
    Fixture f;
    const ContractionHierarchy mapped = *readPreparedHierarchy(f.prepared, f.key, *f.model);
    const ChSeed from{0, 0.0};
    const ChSeed to{static_cast<std::uint32_t>(f.map.edges.size() / 2), 0.0};
    const double before = mapped.shortestPath({&from, 1}, {&to, 1})->cost;

    // Source touched: the next start prepares and replaces the file.
    writeAll(f.source, "a changed source map, longer than before");
    const ContractionHierarchy fresh = loadOrPrepareHierarchy(f.source, *f.model, PrepareProgress::Quiet);
    EXPECT_TRUE(readPreparedHierarchy(f.prepared, *cacheKeyOf(f.source), *f.model).has_value());
    EXPECT_EQ(fresh.shortestPath({&from, 1}, {&to, 1})->cost, before);
    // The running mapping still reads the old inode, whole.
    EXPECT_EQ(mapped.validate(), "");
    EXPECT_EQ(mapped.shortestPath({&from, 1}, {&to, 1})->cost, before);
}

// The preparation run on its own (the map let go, the arcs written out as
// they come) writes the same hierarchy as one built in memory.
TEST(PreparedHierarchy, PreparingFromTheMapsFactsWritesTheSameHierarchy)
{
    Fixture f(12);
    std::filesystem::remove(f.prepared);
    EXPECT_EQ(writePreparedFrom(prepareInputOf(f.key, *f.model), PrepareProgress::Quiet), f.prepared);
    std::vector<std::uint8_t> connected;
    const ContractionHierarchy written = *readPreparedHierarchy(f.prepared, f.key, *f.model, &connected);
    EXPECT_TRUE(sameHierarchy(written, f.ch));
    EXPECT_EQ(connected, largestComponent(*f.model));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(f.folder.path()), {}), 2) << "working file left";
}

// The command a server runs once, on the sample town: its file holds the
// hierarchy the service would build from the whole map.
TEST(PreparedHierarchy, ThePrepareCommandWritesTheHierarchyOfTheWholeMap)
{
    const std::string service = std::string(TW_BINARY_DIR) + "/service/tarnwickley-directions";
    const std::string sample = std::string(TW_BINARY_DIR) + "/service/sample-town.osm.pbf";
    if (!std::filesystem::exists(service) || !std::filesystem::exists(sample))
        GTEST_SKIP() << "the service or its sample map has not been built";
    test::TempFolder folder;
    const std::string source = (folder / "town.osm.pbf").string();
    std::filesystem::copy_file(sample, source);
    const std::string command = "'" + service + "' --prepare '" + source + "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const RoadMap map = loadMap(source);
    const TurnModel model(map);
    StartIndexes indexes;
    const auto written = findPreparedHierarchy(source, model, DamagedPrepared::Refuse, nullptr, &indexes);
    ASSERT_TRUE(written.has_value());
    // It also keeps what a start would compute: the turn model's facts, the
    // road grid, and (in the map cache) the geocoder's street lists.
    EXPECT_TRUE(std::ranges::equal(bytesOf(std::span<const TurnModel::EdgeInfo>(indexes.turnEdges)),
                                   bytesOf(model.edgeInfo())));
    EXPECT_TRUE(indexes.hasGrid && !indexes.gridEntries.empty());
    ASSERT_NE(map.cacheFile, nullptr);
    EXPECT_TRUE(map.cacheFile->has(sectionTag("GVER")));
    const ContractionHierarchy built = prepareHierarchy(model);
    EXPECT_TRUE(sameHierarchy(*written, built));
}

// Files checked whole at a start are trusted by the next start as long as they
// are the same files; a prepared file is trusted only with the map cache it
// was checked against.
TEST(PreparedHierarchy, FilesCheckedWholeAtAStartAreTrustedByTheNextWithTheSameCache)
{
    const std::string sample = std::string(TW_BINARY_DIR) + "/service/sample-town.osm.pbf";
    if (!std::filesystem::exists(sample))
        GTEST_SKIP() << "the sample map has not been built";
    test::TempFolder folder;
    const test::CheckRecordsIn records(folder / "cache");
    const std::string source = (folder / "town.osm.pbf").string();
    std::filesystem::copy_file(sample, source);
    const LoadOptions quiet{ProgressReport::Quiet, CacheUse::ReadWrite};
    const RouterOptions options{RouteSearch::Hierarchy, source, false};
    {
        const RoadMap imported = loadMap(source, quiet);
        const Router preparing(imported, options);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(MappedFile::kSettledSeconds * 1000 + 200));
    const auto routeOf = [](const Router& router) {
        const auto from = router.snap(router.map().nodes[0]);
        const auto to = router.snap(router.map().nodes[router.map().nodeCount() - 1]);
        return from && to ? router.route(*from, *to)->edges : std::vector<EdgeId>{};
    };
    const auto preparedIsSound = [&](const RoadMap& map) {
        const TurnModel model(map, TurnModel::GeometryLater{});
        StartIndexes indexes;
        EXPECT_TRUE(findPreparedHierarchy(source, model, DamagedPrepared::Refuse, nullptr, &indexes).has_value());
        return indexes.file && indexes.file->knownSound();
    };

    const RoadMap first = loadMap(source, quiet);
    EXPECT_FALSE(first.cacheFile->knownSound());
    EXPECT_FALSE(preparedIsSound(first));
    const std::vector<EdgeId> checked = routeOf(Router(first, options));
    ASSERT_FALSE(checked.empty());

    const RoadMap second = loadMap(source, quiet);
    EXPECT_TRUE(second.cacheFile->knownSound());
    EXPECT_TRUE(preparedIsSound(second));
    EXPECT_EQ(routeOf(Router(second, options)), checked);

    // The same cache as another file: both are checked again.
    const std::string cache = cachePathBeside(source);
    std::filesystem::copy_file(cache, cache + ".copy");
    std::filesystem::rename(cache + ".copy", cache);
    const RoadMap third = loadMap(source, quiet);
    EXPECT_FALSE(third.cacheFile->knownSound());
    EXPECT_FALSE(preparedIsSound(third));
    EXPECT_EQ(routeOf(Router(third, options)), checked);
}

// Rewrites the prepared file with one section's bytes replaced (checksums
// made sound around them).
void replaceSection(const std::string& path, std::uint32_t tag, const std::string& bytes)
{
    const auto pick = [tag](std::size_t, std::uint32_t t) { return t == tag; };
    ASSERT_TRUE(test::replaceSection(path, kPreparedFormatVersion, pick,
                                     {reinterpret_cast<const std::byte*>(bytes.data()), bytes.size()}));
}

// A start takes the turn model's facts and the road grid from the prepared
// file instead of computing them: the same snaps and routes; and faulty ones
// (sound checksums around indexes out of range) are refused.
TEST(PreparedHierarchy, AStartTakesTheTurnModelAndRoadGridFromTheFile)
{
    {
        Fixture f(8);
        const Router computed(f.map, {RouteSearch::Hierarchy, "", false});
        const Router started(f.map, {RouteSearch::Hierarchy, f.source, false});
        ASSERT_NE(started.hierarchy(), nullptr);
        EXPECT_TRUE(std::ranges::equal(bytesOf(started.turnModel().edgeInfo()), bytesOf(f.model->edgeInfo())));
        for (const auto& [a, b] : {std::pair{0.0, 0.0}, {730.0, 40.0}, {310.0, 690.0}, {-50.0, 350.0}}) {
            const auto from = started.snap(test::TestMapBuilder::at(a, b));
            const auto to = started.snap(test::TestMapBuilder::at(b, a));
            ASSERT_TRUE(from && to);
            const auto fromComputed = computed.snap(test::TestMapBuilder::at(a, b));
            EXPECT_EQ(from->edge, fromComputed->edge);
            EXPECT_EQ(from->fraction, fromComputed->fraction);
            EXPECT_EQ(started.route(*from, *to)->edges, computed.route(*from, *to)->edges);
        }
    }
    struct Case {
        const char* name;
        const char* tag;
        std::function<std::string(Fixture&)> bytes;
    };
    const auto turnEdges = [](Fixture& f, auto spoil) {
        std::vector<TurnModel::EdgeInfo> info(f.model->edgeInfo().begin(), f.model->edgeInfo().end());
        spoil(info);
        return bytesOf(std::span<const TurnModel::EdgeInfo>(info));
    };
    const auto gridOf = [](Fixture& f) {
        SegmentGrid grid;
        grid.build(f.map, [](EdgeId) { return true; });
        return grid;
    };
    const Case cases[] = {
        {"a turn's junction out of range", "TEDG",
         [&](Fixture& f) { return turnEdges(f, [](auto& info) { info.at(3).target = 1u << 30; }); }},
        {"a twin out of range", "TEDG",
         [&](Fixture& f) { return turnEdges(f, [](auto& info) { info.at(info.size() - 1).twin = 1u << 30; }); }},
        {"turn facts for one edge too few", "TEDG",
         [&](Fixture& f) { return turnEdges(f, [](auto& info) { info.pop_back(); }); }},
        {"junction facts for one junction too many", "TNOD",
         [](Fixture& f) {
             std::vector<TurnModel::NodeInfo> nodes(f.model->nodeInfo().begin(), f.model->nodeInfo().end());
             nodes.emplace_back();
             return bytesOf(std::span<const TurnModel::NodeInfo>(nodes));
         }},
        {"a grid entry naming a road the map lacks", "GENT",
         [&](Fixture& f) {
             const SegmentGrid grid = gridOf(f);
             std::vector<SegmentGrid::Entry> entries(grid.entries().begin(), grid.entries().end());
             entries[0].edge = static_cast<EdgeId>(f.map.edges.size());
             return bytesOf(std::span<const SegmentGrid::Entry>(entries));
         }},
        {"a grid index going back", "GFST",
         [&](Fixture& f) {
             const SegmentGrid grid = gridOf(f);
             std::vector<std::uint32_t> first(grid.firstEntries().begin(), grid.firstEntries().end());
             first[1] = first.back() + 1;
             return bytesOf(std::span<const std::uint32_t>(first));
         }},
        {"a grid frame of more cells than its index", "GFRM",
         [&](Fixture& f) {
             SegmentGrid::Frame frame = gridOf(f).frame();
             frame.columns += 1;
             return bytesOf(std::span<const SegmentGrid::Frame>(&frame, 1));
         }},
        {"a grid frame of cells of no size", "GFRM",
         [&](Fixture& f) {
             SegmentGrid::Frame frame = gridOf(f).frame();
             frame.cellLat = 0.0;
             return bytesOf(std::span<const SegmentGrid::Frame>(&frame, 1));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f(8);
        replaceSection(f.prepared, sectionTag(c.tag), c.bytes(f));
        EXPECT_THROW(Router(f.map, {RouteSearch::Hierarchy, f.source, false}), MapError);
    }
    // A segment past its road's shape is only skipped where a query meets it.
    Fixture f(8);
    const SegmentGrid grid = gridOf(f);
    std::vector<SegmentGrid::Entry> entries(grid.entries().begin(), grid.entries().end());
    for (SegmentGrid::Entry& entry : entries) {
        entry.segment = 0xFFFFFFFFu;
    }
    replaceSection(f.prepared, sectionTag("GENT"), bytesOf(std::span<const SegmentGrid::Entry>(entries)));
    const Router router(f.map, {RouteSearch::Hierarchy, f.source, false});
    EXPECT_FALSE(router.snap(test::TestMapBuilder::at(300, 300)).has_value());
}

TEST(PreparedHierarchy, TwoProcessesShareTheMappedPages)
{
    Fixture f(20);
    const ContractionHierarchy mine = *readPreparedHierarchy(f.prepared, f.key, *f.model);
    ASSERT_EQ(mine.validate(), ""); // touches every page

    int toParent[2];
    ASSERT_EQ(pipe(toParent), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A second process maps the file on its own and reads it all.
        int code = 1;
        try {
            const ContractionHierarchy theirs = *readPreparedHierarchy(f.prepared, f.key, *f.model);
            code = theirs.validate().empty() ? 0 : 1;
            const auto [rss, pss] = test::residency(f.prepared);
            const long sizes[2] = {rss, pss};
            (void)!write(toParent[1], sizes, sizeof sizes);
        } catch (...) {
        }
        _exit(code);
    }
    long sizes[2] = {0, 0};
    ASSERT_EQ(read(toParent[0], sizes, sizeof sizes), static_cast<ssize_t>(sizeof sizes));
    int status = 0;
    waitpid(child, &status, 0);
    close(toParent[0]);
    close(toParent[1]);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // Both processes hold every page: each is charged about half.
    EXPECT_GT(sizes[0], 64);
    EXPECT_LT(sizes[1] * 10, sizes[0] * 7) << "rss " << sizes[0] << " kB, pss " << sizes[1] << " kB";
}

} // namespace
} // namespace tw::service

namespace tw::service {
namespace {

// A map too large to prepare at start, with no prepared file, is routed with
// landmarks and gets no file; once prepared, the same start maps it.
TEST(PreparedHierarchy, LargeMapWithoutPreparedFileRoutesWithLandmarks)
{
    test::TempFolder folder;
    const std::string source = (folder / "region.osm").string();
    writeAll(source, "stand-in for the source map");
    const RoadMap map = grid(5);
    RouterOptions options{RouteSearch::Hierarchy, source, false};
    options.prepareAtMostStates = 0;
    {
        const Router router(map, options);
        EXPECT_EQ(router.hierarchy(), nullptr);
        EXPECT_FALSE(std::filesystem::exists(preparedPathBeside(source)));
        const auto from = router.snap(test::TestMapBuilder::at(0, 0));
        const auto to = router.snap(test::TestMapBuilder::at(400, 400));
        ASSERT_TRUE(from && to);
        EXPECT_TRUE(router.route(*from, *to).has_value());
    }
    loadOrPrepareHierarchy(source, TurnModel(map), PrepareProgress::Quiet);
    EXPECT_NE(Router(map, options).hierarchy(), nullptr);
}

} // namespace
} // namespace tw::service

namespace tw::service {
namespace {

// A section large enough to be checksummed in parts on several cores: the
// stored checksum is the plain CRC-32 of its bytes, and a byte changed in its
// last part is caught.
TEST(PreparedHierarchy, LargeSectionChecksumIsTheWholeOnesAndCoversEveryPart)
{
    test::TempFolder folder;
    const std::string path = (folder / "large.twch").string();
    std::vector<std::uint32_t> items((std::size_t{140} << 20) / 4);
    for (std::size_t i = 0; i < items.size(); ++i)
        items[i] = static_cast<std::uint32_t>(i * 2654435761u);
    MappedFileWriter writer(kPreparedFormatVersion);
    writer.add(sectionTag("BIGS"), std::span<const std::uint32_t>(items));
    ASSERT_TRUE(writer.write(path));
    ASSERT_EQ(MappedFile::open(path, kPreparedFormatVersion)->section<std::uint32_t>(sectionTag("BIGS")).size(),
              items.size());

    // The one entry of the section table follows the 32-byte header; its
    // checksum is its last field but one.
    std::string bytes = readAll(path);
    std::uint32_t stored = 0;
    std::memcpy(&stored, bytes.data() + 32 + 24, sizeof stored);
    const auto whole = crc32_z(crc32_z(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(items.data()),
                               items.size() * sizeof(std::uint32_t));
    EXPECT_EQ(stored, static_cast<std::uint32_t>(whole));

    bytes[bytes.size() - 5] ^= 0x01;
    writeAll(path, bytes);
    EXPECT_THROW(MappedFile::open(path, kPreparedFormatVersion), MapError);
}

// A section made while the file is written: whole when its pieces add up,
// else no file (the old one stays).
TEST(PreparedHierarchy, MadeSectionsAreWrittenWholeOrNotAtAll)
{
    test::TempFolder folder;
    const std::string path = (folder / "made.twch").string();
    const std::vector<std::uint32_t> items = {1, 2, 3, 4, 5, 6, 7};
    auto writeMade = [&](std::size_t count, std::size_t pieces, bool giveUp) {
        MappedFileWriter writer(kPreparedFormatVersion);
        writer.addMade(sectionTag("MADE"), sizeof(std::uint32_t), count, [&](const MappedFileWriter::Put& put) {
            for (std::size_t i = 0; i < pieces; ++i) {
                if (!put(reinterpret_cast<const std::byte*>(&items[i]), sizeof(std::uint32_t)))
                    return false;
            }
            return !giveUp;
        });
        return writer.write(path);
    };
    ASSERT_TRUE(writeMade(7, 7, false));
    const auto file = MappedFile::open(path, kPreparedFormatVersion);
    EXPECT_TRUE(std::ranges::equal(file->section<std::uint32_t>(sectionTag("MADE")), items));
    const std::string before = readAll(path);
    EXPECT_FALSE(writeMade(7, 6, false)) << "short";
    EXPECT_FALSE(writeMade(6, 7, false)) << "long";
    EXPECT_FALSE(writeMade(7, 7, true)) << "given up";
    EXPECT_EQ(readAll(path), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1) << "temporary left";
}

} // namespace
} // namespace tw::service
