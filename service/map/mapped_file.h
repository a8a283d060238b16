#pragma once
// MappedFile: a read-only file of named sections (arrays of fixed-size items)
// mapped into memory, so that a start costs a check instead of a parse and
// several processes on one file share one copy of its pages.
//
// Layout (host byte order; a file from a machine of the other order fails the
// magic check):
//   header   magic "TWMF", layout version, content version, section count,
//            file size, CRC-32 of the section table
//   table    per section: tag (four characters), item size, offset, bytes,
//            CRC-32 of the bytes
//   sections each at a 64-byte aligned offset
// The writer writes the sections first and the table (with their checksums)
// last, so each section is read once.
//
// Contract:
// - open() checks the magic, both versions, the file size, that every section
//   lies inside the file, is aligned for its items and a whole number of them,
//   that no two sections overlap, and every checksum; any fault is a MapError
//   naming the file. A file of another version gets its own message
//   (VersionMismatch) so a caller can prepare it again instead. The
//   checksums of a file this user has checked whole before, unchanged since
//   (knownSound), are not computed again: on a country-size map they are
//   gigabytes to read at every start.
// - The mapping is PROT_READ and MAP_SHARED. Files are only ever written beside
//   the old one and renamed over it (write()), never rewritten in place, so a
//   running process keeps the inode it mapped, intact, however often the file
//   is prepared again.
// - section<T>() returns a view that stays valid while the MappedFile lives;
//   holders keep the shared_ptr.

#include "service/map/map_error.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace tw::service {

// Thrown by MappedFile::open for a sound file of another format version.
class MappedFileVersionError : public MapError {
public:
    using MapError::MapError;
};

// Four characters as a section tag ("RANK").
constexpr std::uint32_t sectionTag(std::string_view name)
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(name[0]))
           | static_cast<std::uint32_t>(static_cast<unsigned char>(name[1])) << 8
           | static_cast<std::uint32_t>(static_cast<unsigned char>(name[2])) << 16
           | static_cast<std::uint32_t>(static_cast<unsigned char>(name[3])) << 24;
}

class MappedFile {
public:
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps and checks `path`, which must carry `contentVersion`. Throws
    // MappedFileVersionError for another version, MapError for anything else.
    // With a `checkKind` (what the reader checks beyond the checksums, and by
    // which rules), a file known sound under that kind skips the checksums
    // of its sections; the header, the table and where the sections lie are
    // checked at every opening.
    static std::shared_ptr<const MappedFile> open(const std::string& path, std::uint32_t contentVersion,
                                                  std::string_view checkKind = {});

    // Whether this very file passed every check of its kind before, in a
    // process of this user that then called rememberSound(). Then its
    // checksums were not computed now, and its reader may skip its own
    // whole-file checks. The record lies in the user's cache folder, named by
    // the file's device and inode, and holds the kind and the file's size,
    // modification time and change time: any write to the file sets its
    // change time, which no program can set back, so a file that was
    // changed, truncated, replaced or copied is checked whole again.
    bool knownSound() const { return m_knownSound; }

    // Remembers that the file passed every check of its kind (best effort;
    // nothing without a kind). Only files of at least smallestRemembered()
    // bytes are remembered (a smaller one is checked in milliseconds), and
    // only when the file was last changed at least kSettledSeconds before it
    // was opened: two writes in one tick of the file system's clock leave the
    // same change time, so a file changed just before it was checked could
    // still change unseen.
    void rememberSound() const;
    static constexpr int kSettledSeconds = 2;

    // Size from which files are remembered as sound; tests lower it.
    static std::uint64_t smallestRemembered();
    static void setSmallestRemembered(std::uint64_t bytes);

    // The file as it was opened (device, inode, size, modification and change
    // times): a reader that checked it against another file puts this in its
    // own check kind.
    const std::string& identity() const { return m_identity; }

    bool has(std::uint32_t tag) const;

    // Returns the section as items of T. Throws MapError when it is missing or
    // its items are not of T's size.
    template <typename T>
    std::span<const T> section(std::uint32_t tag) const
    {
        static_assert(std::is_trivially_copyable_v<T>);
        const Section& s = find(tag, sizeof(T));
        return {reinterpret_cast<const T*>(m_base + s.offset), static_cast<std::size_t>(s.bytes / sizeof(T))};
    }

    std::size_t size() const { return m_size; }
    const std::string& path() const { return m_path; }

    // Lets go of this process's pages of the file: they stay in the page
    // cache, and reading them again maps them back. Opening reads every
    // byte (the checksums); a process that goes on to use a part of the file
    // only calls this to be charged for that part alone.
    void dropResidentPages() const;

    // Every section as bytes, in the order of the table (to copy a file).
    struct Raw {
        std::uint32_t tag;
        std::uint32_t itemSize;
        std::span<const std::byte> bytes;
    };
    std::vector<Raw> sections() const;

private:
    struct Section {
        std::uint32_t tag;
        std::uint32_t itemSize;
        std::uint64_t offset;
        std::uint64_t bytes;
        std::uint32_t crc;
        std::uint32_t reserved;
    };
    MappedFile() = default;
    const Section& find(std::uint32_t tag, std::size_t itemSize) const;

    const std::byte* m_base = nullptr;
    std::size_t m_size = 0;
    std::string m_path;
    std::string m_identity;
    std::string m_checkKind;
    std::int64_t m_changedNs = 0;   // the later of the file's modification and change times
    std::int64_t m_openedNs = 0;    // the wall clock before the file was examined
    bool m_knownSound = false;
    std::vector<Section> m_sections;

    friend class MappedFileWriter;
};

// The CRC-32 a file keeps for a section's bytes, continuing from `crc` (0 for
// the first bytes): lets a writer that places a section itself check it.
std::uint32_t sectionCrc(std::uint32_t crc, const void* data, std::size_t bytes);

// Collects sections and writes them as one MappedFile.
class MappedFileWriter {
public:
    explicit MappedFileWriter(std::uint32_t contentVersion) : m_contentVersion(contentVersion) {}

    // Adds a section, in place of any added before with the same tag; the
    // data must stay alive until write() returns.
    template <typename T>
    void add(std::uint32_t tag, std::span<const T> items)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        const auto* data = reinterpret_cast<const std::byte*>(items.data());
        put(Part{tag, sizeof(T), data, items.size_bytes(), {}});
    }

    // Adds a section of `count` items made as the file is written: `make`
    // hands them to `put` in order, in pieces of any size (so a section
    // larger than memory, or gathered from elsewhere, is never held whole),
    // and returns false to give up. Pieces that do not add up to `count`
    // items fail the write.
    using Put = std::function<bool(const std::byte* data, std::size_t bytes)>;
    void addMade(std::uint32_t tag, std::size_t itemSize, std::size_t count, std::function<bool(const Put& put)> make)
    {
        put(Part{tag, static_cast<std::uint32_t>(itemSize), nullptr, itemSize * count, std::move(make)});
    }

    // Adds a section whose bytes the caller has already written at `offset`
    // of the file writeInto() finishes (at least kFirstPlacedOffset, a
    // multiple of 64), with their CRC-32 (sectionCrc). The other sections go
    // after the placed ones.
    void addPlaced(std::uint32_t tag, std::size_t itemSize, std::uint64_t offset, std::uint64_t bytes,
                   std::uint32_t crc)
    {
        put(Part{tag, static_cast<std::uint32_t>(itemSize), nullptr, bytes, {}, offset, crc});
    }
    // Room a file keeps in front for its header and table: sections placed
    // from there on never meet them.
    static constexpr std::uint64_t kFirstPlacedOffset = std::uint64_t{64} << 10;

    // Writes the file to a temporary name beside `path`, flushes it and renames
    // it over `path`. Returns false (removing the temporary) when any step
    // fails or a section is placed; an old file at `path` is then untouched.
    bool write(const std::string& path) const;

    // Writes the sections not placed, the table and the header into `fd`, an
    // unnamed file (O_TMPFILE) in the folder of `path` that holds the placed
    // sections' bytes, flushes it, and gives it the name `path` through a
    // temporary one. A large section made elsewhere so becomes part of the
    // file without being copied. Returns false when any step fails (the file
    // system takes no such link, a placed section lies where the table goes
    // or overlaps another); `path` is then untouched and the placed bytes too.
    bool writeInto(int fd, const std::string& path) const;

private:
    struct Part {
        std::uint32_t tag;
        std::uint32_t itemSize;
        const std::byte* data;
        std::size_t bytes;
        std::function<bool(const Put& put)> make; // instead of data
        std::uint64_t placedAt = kNotPlaced;       // instead of both: the bytes lie in the file
        std::uint32_t placedCrc = 0;
    };
    static constexpr std::uint64_t kNotPlaced = ~std::uint64_t{0};
    // Lays the sections out and writes those not placed, the table and the
    // header into `fd`, then flushes it; with `dropCached`, lets its pages
    // go from the page cache.
    bool writeSections(int fd, bool dropCached) const;
    void put(Part part)
    {
        for (Part& old : m_parts) {
            if (old.tag == part.tag) {
                old = std::move(part);
                return;
            }
        }
        m_parts.push_back(std::move(part));
    }

    std::uint32_t m_contentVersion;
    std::vector<Part> m_parts;
};

// Maps the pages of [data, data + bytes), a part of a file mapping, into this
// process now: those in the page cache at once, others read from the file.
// A process that has just mapped a large file would otherwise stop for each
// page the first time it reads it (a route on a country-size map reads
// thousands, all over the file). Best effort: does nothing where the system
// cannot, or when the part is larger than the memory available; returns
// early once `stop` is set.
void mapPagesNow(const void* data, std::size_t bytes, const std::atomic<bool>& stop);

} // namespace tw::service
