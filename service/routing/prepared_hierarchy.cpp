#include "service/routing/prepared_hierarchy.h"

#include "service/map/mapped_file.h"
#include "service/routing/largest_component.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>

#include <sys/mman.h>
#include <unistd.h>

namespace tw::service {

namespace {

constexpr std::uint32_t kSource = sectionTag("SRCE");
constexpr std::uint32_t kSourcePath = sectionTag("PATH");
constexpr std::uint32_t kRank = sectionTag("RANK");
constexpr std::uint32_t kNodes = sectionTag("NODE");
constexpr std::uint32_t kArcs = sectionTag("ARCS");
constexpr std::uint32_t kConnected = sectionTag("MAIN");
constexpr std::uint32_t kTurnEdges = sectionTag("TEDG");
constexpr std::uint32_t kTurnNodes = sectionTag("TNOD");
constexpr std::uint32_t kGridFrame = sectionTag("GFRM");
constexpr std::uint32_t kGridFirst = sectionTag("GFST");
constexpr std::uint32_t kGridEntries = sectionTag("GENT");

// What a sound prepared file has passed: its checksums, the hierarchy's
// validate(), the source record against the map (fingerprint included), the
// connected flags, and the turn model's and the grid's checks at a start.
// Raise the number when any of those comes to check more.
constexpr std::string_view kCheckKind = "prepared map 5, checksums and every index, rules 1,";

// Sections are written as the records lie in memory: none may have padding
// (a file written twice from one map is the same bytes).
static_assert(sizeof(TurnModel::EdgeInfo) == 16 && sizeof(TurnModel::NodeInfo) == 2
              && sizeof(SegmentGrid::Entry) == 8 && sizeof(SegmentGrid::Frame) == 48);

// The start indexes of a map, made to be written.
struct MadeIndexes {
    std::optional<TurnModel> ownModel;
    const TurnModel* model = nullptr;
    SegmentGrid grid;
    SegmentGrid::Frame frame{};
};

void makeIndexes(MadeIndexes& made, const TurnModel& model, std::span<const std::uint8_t> connected)
{
    made.model = &model;
    made.grid.build(model.map(), [connected](EdgeId e) { return connected[e] != 0; });
    made.frame = made.grid.frame();
}

void addIndexes(MappedFileWriter& writer, const MadeIndexes& made)
{
    writer.add(kTurnEdges, made.model->edgeInfo());
    writer.add(kTurnNodes, made.model->nodeInfo());
    writer.add(kGridFrame, std::span<const SegmentGrid::Frame>(&made.frame, 1));
    writer.add(kGridFirst, made.grid.firstEntries());
    writer.add(kGridEntries, made.grid.entries());
}

std::uint64_t fingerprint(const RoadMap& map)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;
    auto mix = [&hash](std::uint64_t value) { hash = (hash ^ value) * 0x100000001b3ull; };
    for (const Edge& e : map.edges) {
        mix(e.source);
        mix(e.target);
        mix(e.deciseconds);
    }
    return hash;
}

PreparedSource recordOf(const CacheKey& key, const TurnModel& model)
{
    return PreparedSource{key.sourceSize, key.sourceMtime, model.map().edges.size(), model.stateCount(),
                          fingerprint(model.map())};
}

// Lets go of this process's pages of a read-only file mapping (they stay in
// the page cache).
void releaseMapped(std::span<const ChArc> arcs)
{
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(arcs.data()) / page * page;
    const auto end = reinterpret_cast<std::uintptr_t>(arcs.data() + arcs.size());
    if (end > begin) {
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
    }
}

bool writeFile(const std::string& path, const std::string& sourcePath, const PreparedSource& record,
               const ContractionHierarchy& hierarchy, std::span<const std::uint8_t> connected,
               const MadeIndexes* indexes)
{
    MappedFileWriter writer(kPreparedFormatVersion);
    if (indexes != nullptr) {
        addIndexes(writer, *indexes);
    }
    writer.add(kSource, std::span<const PreparedSource>(&record, 1));
    writer.add(kSourcePath, std::span<const char>(sourcePath));
    writer.add(kRank, hierarchy.rank());
    writer.add(kConnected, connected);
    const auto nodes = hierarchy.nodes();
    const auto arcs = hierarchy.arcs();
    // A spilled build's working file becomes the file: its arcs stay where
    // the contraction wrote them (in the order it finished the nodes, which
    // routes as fast as the order of their ids), and only the rest is
    // written around them. On a country-size map that saves copying
    // gigabytes once the contraction is done.
    if (const std::optional<ChSpill>& spill = hierarchy.spill();
        spill && spill->bytes == arcs.size_bytes() && hierarchy.listsCoverArcs()) {
        MappedFileWriter around = writer;
        around.add(kNodes, nodes);
        around.addPlaced(kArcs, sizeof(ChArc), spill->offset, spill->bytes, spill->crc);
        if (around.writeInto(spill->fd, path)) {
            return true;
        }
    }
    std::vector<ChNode> placed;
    if (!hierarchy.listsCoverArcs()) {
        // Kept as it is (a damaged hierarchy, made to test the loader).
        writer.add(kNodes, nodes);
        writer.add(kArcs, arcs);
    } else {
        // The lists go to the file in the order of the nodes' ids, whatever
        // order the hierarchy holds them in: a query reads the lists of
        // states that lie near each other on the map, and their ids are near
        // too (8 % faster routes than in the order of contraction).
        placed.assign(nodes.begin(), nodes.end());
        std::uint64_t at = 0;
        for (ChNode& node : placed) {
            node.first = at;
            at += std::uint64_t{node.down} + node.up;
        }
        writer.add(kNodes, std::span<const ChNode>(placed));
        writer.addMade(kArcs, sizeof(ChArc), arcs.size(), [&](const MappedFileWriter::Put& put) {
            // Gathered through a buffer. From a file mapping, this process's
            // pages of it are let go every few thousand nodes, so however
            // large the file, little of it is resident here.
            constexpr std::size_t kBuffer = std::size_t{4} << 20;
            constexpr std::size_t kReleaseEvery = 16384;
            std::vector<ChArc> buffer;
            buffer.reserve(kBuffer);
            auto flush = [&] {
                const bool ok = put(reinterpret_cast<const std::byte*>(buffer.data()), buffer.size() * sizeof(ChArc));
                buffer.clear();
                return ok;
            };
            for (std::size_t v = 0; v < nodes.size(); ++v) {
                const auto list = arcs.subspan(nodes[v].first, std::size_t{nodes[v].down} + nodes[v].up);
                if (buffer.size() + list.size() > kBuffer && !flush()) {
                    return false;
                }
                if (list.size() > kBuffer) {
                    if (!put(reinterpret_cast<const std::byte*>(list.data()), list.size_bytes())) {
                        return false;
                    }
                } else {
                    buffer.insert(buffer.end(), list.begin(), list.end());
                }
                if (hierarchy.arcsMapped() && v % kReleaseEvery == kReleaseEvery - 1) {
                    releaseMapped(arcs);
                }
            }
            if (hierarchy.arcsMapped()) {
                releaseMapped(arcs);
            }
            return flush();
        });
    }
    return writer.write(path);
}

// Progress lines on stderr every few seconds, after the first two (small
// maps stay silent); nothing when quiet.
ChProgress progressReport(PrepareProgress progress)
{
    if (progress != PrepareProgress::Stderr) {
        return {};
    }
    using Clock = std::chrono::steady_clock;
    struct Times {
        Clock::time_point start = Clock::now();
        Clock::time_point lastLine = start;
    };
    return [times = std::make_shared<Times>()](double done) {
        const Clock::time_point now = Clock::now();
        if (now - times->start < std::chrono::seconds(2)
            || (now - times->lastLine < std::chrono::seconds(5) && done < 1.0)) {
            return;
        }
        times->lastLine = now;
        std::fprintf(stderr, "tarnwickley-directions: preparing the map for fast routing: %3.0f%% (%.0f s)\n",
                     done * 100.0, std::chrono::duration<double>(now - times->start).count());
    };
}

} // namespace

std::string preparedPathBeside(const std::string& sourcePath)
{
    return sourcePath + ".twch";
}

std::string preparedPathInUserFolder(const CacheKey& key)
{
    std::string path = cachePathInUserFolder(key);
    return path.substr(0, path.size() - std::string(".twcache").size()) + ".twch";
}

bool writePreparedHierarchy(const std::string& path, const CacheKey& key, const TurnModel& model,
                            const ContractionHierarchy& hierarchy, std::span<const std::uint8_t> connected)
{
    std::vector<std::uint8_t> computed;
    if (connected.empty()) {
        computed = largestComponent(model);
        connected = computed;
    }
    MadeIndexes indexes;
    makeIndexes(indexes, model, connected);
    return writeFile(path, key.sourcePath, recordOf(key, model), hierarchy, connected, &indexes);
}

PrepareInput prepareInputOf(const CacheKey& key, const TurnModel& model)
{
    PrepareInput input;
    input.key = key;
    input.source = recordOf(key, model);
    input.connected = largestComponent(model);
    input.states = static_cast<std::uint32_t>(model.stateCount());
    input.arcs = turnArcs(model);
    input.positions = turnPositions(model);
    return input;
}

std::string writePreparedFrom(PrepareInput input, PrepareProgress progress)
{
    const std::string beside = preparedPathBeside(input.key.sourcePath);
    const std::string inUserFolder = preparedPathInUserFolder(input.key);
    const std::filesystem::path folder = std::filesystem::absolute(input.key.sourcePath).parent_path();
    const bool besideWritable = ::access(folder.c_str(), W_OK) == 0;
    if (!besideWritable) {
        std::error_code error;
        std::filesystem::create_directories(std::filesystem::path(inUserFolder).parent_path(), error);
    }
    // The arcs are written out while contracting, into the folder the file goes to.
    const std::string spillFolder =
        besideWritable ? folder.string() : std::filesystem::path(inUserFolder).parent_path().string();
    const ContractionHierarchy hierarchy = ContractionHierarchy::build(
        input.states, std::move(input.arcs), progressReport(progress), std::move(input.positions), spillFolder);
    MadeIndexes indexes;
    std::optional<RoadMap> map;
    if (input.startIndexes) {
        map = readMapCache(cachePathBeside(input.key.sourcePath), input.key);
        if (!map) {
            map = readMapCache(cachePathInUserFolder(input.key), input.key);
        }
    }
    if (map && map->edges.size() == input.connected.size()) {
        // Of the cache (read whole by its checks) this process keeps only the
        // pages the indexes are made from, and none once they are made: the
        // model's and the grid's arrays are its own. The model is not asked
        // anything of the emptied map after that.
        map->cacheFile->dropResidentPages();
        indexes.ownModel.emplace(*map);
        makeIndexes(indexes, *indexes.ownModel, input.connected);
        *map = RoadMap();
    }
    for (const std::string& path : {beside, inUserFolder}) {
        if ((path != beside || besideWritable)
            && writeFile(path, input.key.sourcePath, input.source, hierarchy, input.connected,
                         indexes.model != nullptr ? &indexes : nullptr)) {
            return path;
        }
    }
    return {};
}

std::optional<ContractionHierarchy> readPreparedHierarchy(const std::string& path, const CacheKey& key,
                                                          const TurnModel& model, std::vector<std::uint8_t>* connected,
                                                          StartIndexes* indexes)
{
    if (indexes != nullptr) {
        *indexes = StartIndexes{};
    }
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        return std::nullopt;
    }
    // A file checked whole against this very map cache before need not be
    // checked again (MappedFile::knownSound); one read against a map without
    // a cache, or against another cache, always is.
    const std::shared_ptr<const MappedFile>& cache = model.map().cacheFile;
    const std::string checkKind =
        cache ? std::string(kCheckKind) + " against the map cache " + cache->identity() : std::string();
    std::shared_ptr<const MappedFile> file;
    try {
        file = MappedFile::open(path, kPreparedFormatVersion, checkKind);
    } catch (const MappedFileVersionError&) {
        return std::nullopt;
    }
    const bool sound = file->knownSound();
    const auto record = file->section<PreparedSource>(kSource);
    const auto sourcePath = file->section<char>(kSourcePath);
    if (record.size() != 1) {
        throw MapError("The prepared map " + path + " has a damaged source record");
    }
    if (std::string_view(sourcePath.data(), sourcePath.size()) != key.sourcePath || record[0].size != key.sourceSize
        || record[0].mtime != key.sourceMtime || record[0].edgeCount != model.map().edges.size()
        || record[0].stateCount != model.stateCount()
        || (!sound && record[0].fingerprint != fingerprint(model.map()))) {
        return std::nullopt;
    }
    ContractionHierarchy hierarchy = ContractionHierarchy::fromParts(
        file->section<std::uint32_t>(kRank), file->section<ChNode>(kNodes), file->section<ChArc>(kArcs), file,
        true);
    if (hierarchy.nodeCount() != model.stateCount()) {
        throw MapError("The prepared map " + path + " does not match its map");
    }
    if (!sound) {
        if (const std::string fault = hierarchy.validate(); !fault.empty()) {
            throw MapError("The prepared map " + path + " is damaged: " + fault);
        }
    }
    const auto flags = file->section<std::uint8_t>(kConnected);
    if (flags.size() != model.map().edges.size()
        || (!sound && std::any_of(flags.begin(), flags.end(), [](std::uint8_t f) { return f > 1; }))) {
        throw MapError("The prepared map " + path + " is damaged: its connected part does not fit the map");
    }
    if (connected != nullptr) {
        connected->assign(flags.begin(), flags.end());
    }
    if (indexes != nullptr) {
        indexes->path = path;
        indexes->file = file;
        if (file->has(kTurnEdges) || file->has(kTurnNodes)) {
            indexes->turnEdges.view(file->section<TurnModel::EdgeInfo>(kTurnEdges), file);
            indexes->turnNodes.view(file->section<TurnModel::NodeInfo>(kTurnNodes), file);
        }
        if (file->has(kGridFrame) || file->has(kGridFirst) || file->has(kGridEntries)) {
            const auto frame = file->section<SegmentGrid::Frame>(kGridFrame);
            if (frame.size() != 1) {
                throw MapError("The prepared map " + path + " is damaged: its road grid has no frame");
            }
            indexes->hasGrid = true;
            indexes->gridFrame = frame[0];
            indexes->gridFirst.view(file->section<std::uint32_t>(kGridFirst), file);
            indexes->gridEntries.view(file->section<SegmentGrid::Entry>(kGridEntries), file);
        }
    }
    return hierarchy;
}

ContractionHierarchy openPreparedFile(const std::string& path)
{
    const std::shared_ptr<const MappedFile> file = MappedFile::open(path, kPreparedFormatVersion);
    ContractionHierarchy hierarchy = ContractionHierarchy::fromParts(
        file->section<std::uint32_t>(kRank), file->section<ChNode>(kNodes), file->section<ChArc>(kArcs), file,
        true);
    if (const std::string fault = hierarchy.validate(); !fault.empty()) {
        throw MapError("The prepared map " + path + " is damaged: " + fault);
    }
    return hierarchy;
}

std::optional<ContractionHierarchy> findPreparedHierarchy(const std::string& sourcePath, const TurnModel& model,
                                                          DamagedPrepared damaged, std::vector<std::uint8_t>* connected,
                                                          StartIndexes* indexes)
{
    const std::optional<CacheKey> key = cacheKeyOf(sourcePath);
    if (!key) {
        throw MapError("Cannot read map file " + sourcePath);
    }
    for (const std::string& path : {preparedPathBeside(sourcePath), preparedPathInUserFolder(*key)}) {
        try {
            std::optional<ContractionHierarchy> hierarchy =
                readPreparedHierarchy(path, *key, model, connected, indexes);
            if (hierarchy) {
                return hierarchy;
            }
        } catch (const MapError&) {
            if (damaged == DamagedPrepared::Refuse) {
                throw;
            }
        }
    }
    return std::nullopt;
}

ContractionHierarchy loadOrPrepareHierarchy(const std::string& sourcePath, const TurnModel& model,
                                            PrepareProgress progress,
                                            DamagedPrepared damaged, bool* prepared)
{
    if (prepared != nullptr) {
        *prepared = false;
    }
    const std::optional<CacheKey> key = cacheKeyOf(sourcePath);
    if (!key) {
        throw MapError("Cannot read map file " + sourcePath);
    }
    if (std::optional<ContractionHierarchy> found = findPreparedHierarchy(sourcePath, model, damaged)) {
        return std::move(*found);
    }
    if (prepared != nullptr) {
        *prepared = true;
    }

    ContractionHierarchy hierarchy = prepareHierarchy(model, progressReport(progress));
    const std::string beside = preparedPathBeside(sourcePath);
    const std::string inUserFolder = preparedPathInUserFolder(*key);
    const std::string folder = std::filesystem::absolute(sourcePath).parent_path().string();
    const bool written = (::access(folder.c_str(), W_OK) == 0 && writePreparedHierarchy(beside, *key, model, hierarchy))
                         || writePreparedHierarchy(inUserFolder, *key, model, hierarchy);
    if (!written && progress == PrepareProgress::Stderr) {
        std::fprintf(stderr, "tarnwickley-directions: could not save the prepared map; the next start prepares it again\n");
    }
    // Serve from the file just written, so this process too shares its pages
    // with the others on the same map instead of keeping a private copy.
    for (const std::string& path : {beside, inUserFolder}) {
        try {
            if (std::optional<ContractionHierarchy> mapped = readPreparedHierarchy(path, *key, model)) {
                return std::move(*mapped);
            }
        } catch (const MapError&) {
        }
    }
    return hierarchy;
}

} // namespace tw::service
