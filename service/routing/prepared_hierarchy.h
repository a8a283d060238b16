#pragma once
// The prepared file of a map: its contraction hierarchy in a MappedFile
// (<map>.twch beside the map, or in the user's cache folder when that folder
// is not writable), so the service prepares once and starts many times.
//
// The file is bound to its source: the map's path, size and modification time
// (as the map cache), the road edge and turn-model state counts and a
// fingerprint of the edges' ends and times. A file made from another source, or by another version of
// the turn model, is stale: it is prepared again. A damaged file is an error.

#include "service/map/map_cache.h"
#include "service/map/mapped_file.h"
#include "service/map/road_map.h"
#include "service/routing/contraction_hierarchy.h"
#include "service/routing/contraction_router.h"
#include "service/routing/segment_grid.h"
#include "service/routing/turn_model.h"

#include <memory>
#include <optional>
#include <span>
#include <vector>
#include <string>

namespace tw::service {

// Raise with any change to the turn model or to what the file holds.
inline constexpr std::uint32_t kPreparedFormatVersion = 5;

enum class PrepareProgress { Stderr, Quiet };

// What loadOrPrepareHierarchy does with a damaged prepared file.
enum class DamagedPrepared {
    Refuse,  // throw MapError (a service start: the operator should know)
    Replace, // prepare again over it (an explicit --prepare)
};

// What a prepared file says of the map it was made from.
struct PreparedSource {
    std::uint64_t size;
    std::int64_t mtime;
    std::uint64_t edgeCount;
    std::uint64_t stateCount;
    std::uint64_t fingerprint;
};

// What a start would otherwise compute from the map, kept in the prepared
// file beside the hierarchy: the turn model's facts per road edge and per
// junction, and the grid of the roads that snapping searches. A file without
// them (written before they were kept) is still current; the start then
// computes them. Read from a file, they view it; nothing in them is checked
// yet (TurnModel::setGeometry and SegmentGrid::adopt check them).
struct StartIndexes {
    std::string path;  // the prepared file they were read from
    // That file: when it is known sound (MappedFile::knownSound), the
    // indexes were checked whole before and need not be again; once a start
    // has checked them, it remembers the file as sound.
    std::shared_ptr<const MappedFile> file;
    MapArray<TurnModel::EdgeInfo> turnEdges;
    MapArray<TurnModel::NodeInfo> turnNodes;
    bool hasGrid = false;
    SegmentGrid::Frame gridFrame{};
    MapArray<std::uint32_t> gridFirst;
    MapArray<SegmentGrid::Entry> gridEntries;
};

// All a preparation needs of the map, taken from it so that the map and its
// turn model can be let go before the contraction: on a large map they are
// gigabytes the contraction has no use for.
struct PrepareInput {
    CacheKey key;
    PreparedSource source{};
    std::vector<std::uint8_t> connected; // per road edge: in the largest strongly connected part
    std::uint32_t states = 0;
    std::vector<WeightedArc> arcs;
    std::vector<ChPosition> positions;
    // Whether the file is to keep the start indexes: they are made once the
    // contraction is done, from the map as its cache holds it (mapped again
    // then, so that the contraction does not share the memory with it).
    bool startIndexes = false;
};

std::string preparedPathBeside(const std::string& sourcePath);
std::string preparedPathInUserFolder(const CacheKey& key);

// Writes the hierarchy of the model's map (made from `key`'s source) atomically: a
// temporary beside the target, renamed over it. Returns false when it cannot.
// The file also keeps which road edges lie in the map's largest strongly
// connected part (`connected`, one flag per edge; computed when empty), which
// a start would otherwise compute again.
bool writePreparedHierarchy(const std::string& path, const CacheKey& key, const TurnModel& model,
                            const ContractionHierarchy& hierarchy, std::span<const std::uint8_t> connected = {});

PrepareInput prepareInputOf(const CacheKey& key, const TurnModel& model);

// Prepares the map and writes its prepared file (beside the map, else in the
// user's cache folder), holding little: the finished arcs go to disk as the
// contraction makes them, and the file is written from there. Returns the path
// written, "" when neither place takes it. Throws std::system_error when the
// working file cannot be written (a full disk).
std::string writePreparedFrom(PrepareInput input, PrepareProgress progress);

// Returns the hierarchy mapped from `path`, or nothing when the file is missing,
// of another version, or made from another source or map. Throws MapError when
// the file is damaged (truncated, bad checksum, an index out of range).
// `connected`, when given, receives the stored flags of the largest connected
// part, and `indexes` the start indexes the file keeps. The model may lack its
// geometry (TurnModel::GeometryLater).
std::optional<ContractionHierarchy> readPreparedHierarchy(const std::string& path, const CacheKey& key,
                                                          const TurnModel& model,
                                                          std::vector<std::uint8_t>* connected = nullptr,
                                                          StartIndexes* indexes = nullptr);

// Returns the hierarchy of the prepared file at `path`, mapped and validated,
// without the map it was made from (for measuring queries alone). Throws
// MapError when the file is damaged or of another version.
ContractionHierarchy openPreparedFile(const std::string& path);

// Returns the current prepared file of the map at `sourcePath` (beside it or in
// the user's folder), mapped; nothing when there is none. A damaged file throws
// MapError under DamagedPrepared::Refuse and counts as missing otherwise.
std::optional<ContractionHierarchy> findPreparedHierarchy(const std::string& sourcePath, const TurnModel& model,
                                                          DamagedPrepared damaged = DamagedPrepared::Refuse,
                                                          std::vector<std::uint8_t>* connected = nullptr,
                                                          StartIndexes* indexes = nullptr);

// Returns the hierarchy for the map at `sourcePath`: the prepared file when it
// is current, else prepared now (progress on stderr for large maps) and
// written for the next start. `prepared`, when given, is set to whether the
// hierarchy was made now. Throws MapError for a damaged prepared file under
// DamagedPrepared::Refuse.
ContractionHierarchy loadOrPrepareHierarchy(const std::string& sourcePath, const TurnModel& model,
                                            PrepareProgress progress,
                                            DamagedPrepared damaged = DamagedPrepared::Refuse,
                                            bool* prepared = nullptr);

} // namespace tw::service
