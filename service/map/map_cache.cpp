#include "service/map/map_cache.h"

#include "service/map/mapped_file.h"
#include "service/map/user_cache.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <type_traits>

namespace fs = std::filesystem;

namespace tw::service {

namespace {

constexpr std::uint32_t kFormatVersion = kMapCacheFormatVersion;
// What a sound cache has passed: its checksums and RoadMap::validate(). Raise
// the number when validate() comes to check more, so that caches remembered
// as sound are checked by the new rules.
constexpr std::string_view kCheckKind = "map cache 4, checksums and every index, rules 1";

constexpr std::uint32_t kKeyPath = sectionTag("KEYP");
constexpr std::uint32_t kKeyStamp = sectionTag("KEYS");
constexpr std::uint32_t kStringChars = sectionTag("STRC");
constexpr std::uint32_t kStringEnds = sectionTag("STRE");
constexpr std::uint32_t kNodes = sectionTag("NODE");
constexpr std::uint32_t kFirstEdge = sectionTag("FEDG");
constexpr std::uint32_t kEdges = sectionTag("EDGE");
constexpr std::uint32_t kShape = sectionTag("SHAP");
constexpr std::uint32_t kFirstInEdge = sectionTag("FINE");
constexpr std::uint32_t kInEdges = sectionTag("INED");
constexpr std::uint32_t kAddresses = sectionTag("ADDR");
constexpr std::uint32_t kInterpolations = sectionTag("INTP");
constexpr std::uint32_t kRestrictions = sectionTag("REST");
constexpr std::uint32_t kRestrictionEdges = sectionTag("RSTE");
constexpr std::uint32_t kBarriers = sectionTag("BARR");
constexpr std::uint32_t kCounts = sectionTag("CNTS");
constexpr std::uint32_t kFirstNameEdge = sectionTag("FNAM");
constexpr std::uint32_t kNameEdges = sectionTag("NAME");

// The source's size and modification time.
struct KeyStamp {
    std::uint64_t size;
    std::int64_t mtime;
};

// The arrays in the order they are written, each with its section.
template <typename Map, typename Visit>
void forEachArray(Map& map, Visit&& visit)
{
    visit(kNodes, map.nodes);
    visit(kFirstEdge, map.firstEdge);
    visit(kEdges, map.edges);
    visit(kShape, map.shape);
    visit(kFirstInEdge, map.firstInEdge);
    visit(kInEdges, map.inEdges);
    visit(kAddresses, map.addresses);
    visit(kInterpolations, map.interpolations);
    visit(kRestrictions, map.restrictions);
    visit(kRestrictionEdges, map.restrictionEdges);
    visit(kBarriers, map.barrierNodes);
    visit(kFirstNameEdge, map.firstNameEdge);
    visit(kNameEdges, map.nameEdges);
}

std::optional<RoadMap> mapCache(const std::string& cachePath, const CacheKey& key)
{
    std::error_code error;
    if (!fs::is_regular_file(cachePath, error)) {
        return std::nullopt;
    }
    const std::shared_ptr<const MappedFile> file = MappedFile::open(cachePath, kFormatVersion, kCheckKind);
    const auto path = file->section<char>(kKeyPath);
    const auto stamp = file->section<KeyStamp>(kKeyStamp);
    if (std::string_view(path.data(), path.size()) != key.sourcePath || stamp.size() != 1
        || stamp[0].size != key.sourceSize || stamp[0].mtime != key.sourceMtime) {
        return std::nullopt;
    }
    RoadMap map;
    const auto chars = file->section<char>(kStringChars);
    const auto ends = file->section<std::uint64_t>(kStringEnds);
    map.strings.reserve(ends.size());
    std::uint64_t begin = 0;
    for (const std::uint64_t end : ends) {
        if (end < begin || end > chars.size()) {
            return std::nullopt;
        }
        map.strings.emplace_back(chars.data() + begin, chars.data() + end);
        begin = end;
    }
    forEachArray(map, [&](std::uint32_t tag, auto& array) {
        using Item = typename std::decay_t<decltype(array)>::value_type;
        array.view(file->section<Item>(tag), file);
    });
    const auto counts = file->section<ImportCounts>(kCounts);
    if (counts.size() != 1) {
        return std::nullopt;
    }
    map.counts = counts[0];
    map.cacheFile = file;
    if (!file->knownSound()) {
        if (!map.validate().empty()) {
            return std::nullopt;
        }
        file->rememberSound();
        // The check read all of it; this process is charged only for the
        // pages it goes on to use.
        file->dropResidentPages();
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
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(key.sourcePath)));
    const std::string name = std::string(hash) + "-" + fs::path(key.sourcePath).filename().string() + ".twcache";
    return (userCacheFolder() / name).string();
}

std::optional<RoadMap> readMapCache(const std::string& cachePath, const CacheKey& key)
{
    try {
        return mapCache(cachePath, key);
    } catch (const std::exception&) {
        return std::nullopt;  // damaged, or of another version: just rebuild
    }
}

bool writeMapCache(const std::string& cachePath, const CacheKey& key, const RoadMap& map, const CacheExtras& extras)
{
    MappedFileWriter writer(kFormatVersion);
    const KeyStamp stamp{key.sourceSize, key.sourceMtime};
    writer.add(kKeyPath, std::span<const char>(key.sourcePath));
    writer.add(kKeyStamp, std::span<const KeyStamp>(&stamp, 1));
    std::string chars;
    std::vector<std::uint64_t> ends;
    ends.reserve(map.strings.size());
    for (const std::string& text : map.strings) {
        chars += text;
        ends.push_back(chars.size());
    }
    writer.add(kStringChars, std::span<const char>(chars));
    writer.add(kStringEnds, std::span<const std::uint64_t>(ends));
    forEachArray(map, [&](std::uint32_t tag, const auto& array) {
        using Item = typename std::decay_t<decltype(array)>::value_type;
        writer.add(tag, std::span<const Item>(array));
    });
    writer.add(kCounts, std::span<const ImportCounts>(&map.counts, 1));
    try {
        const std::shared_ptr<const void> keep = extras ? extras(map, writer) : nullptr;
        return writer.write(cachePath);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace tw::service
